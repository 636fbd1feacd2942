// The density and force passes. Each pass first computes every pair's
// terms (independent of one another, so they run four lanes at a time
// where the processor allows) and then sums them into the particles in
// the fixed order, particle by particle.

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "sph/sph.h"
#include "sph/step_data.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define FK_SPH_X86 1
#endif

namespace {

using C = TSPHConstants;
using F = TSPHFormula;

// Pairs per chunk of terms: the chunk's terms stay in the first-level cache
// between being computed and being summed.
constexpr std::int32_t kChunkPairs = 1024;

// Room for the terms of every pair of the list.
void ResizeTerms(TSPHStepData& s) {
    const std::size_t n = s.pairCount + 8;
    if (s.termA.size() >= n) return;
    s.termA.resize(2 * n);
    s.termB.resize(2 * n);
    s.forceTerms.resize(2 * n);
}

// The chunk of particles from i0: whole particles, up to about 'pairs'
// pairs (one particle's pairs always lie in one chunk).
std::size_t ChunkEnd(const TSPHStepData& s, std::size_t i0, std::size_t n, std::int32_t pairs = kChunkPairs) {
    const std::int32_t first = s.pairBegin[i0];
    std::size_t i1 = i0;
    do ++i1;
    while (i1 < n && s.pairEnd[i1 - 1] - first < pairs);
    return i1;
}

// The separation p - q and its squared length, in single precision and
// formed exactly as the pair search formed them.
struct TSeparation {
    float dx, dy, r2;
};

inline TSeparation Separation(const TSPHStepData& s, std::int32_t p, std::int32_t q) {
    TSeparation d;
    d.dx = s.x[p] - s.x[q];
    d.dy = s.y[p] - s.y[q];
    d.r2 = static_cast<float>(static_cast<double>(d.dx) * d.dx + static_cast<double>(d.dy) * d.dy);
    return d;
}

// Density rate of pairs [from, to): w = t (vr t) / r, weighted by the
// other particle's mass for each side; stored from index 0 of the chunk.
void DensityTermsPlain(TSPHStepData& s, std::size_t from, std::size_t to) {
    for (std::size_t k = from; k < to; ++k) {
        const std::int32_t p = s.pairP[k];
        const std::int32_t q = s.pairQ[k];
        const TSeparation d = Separation(s, p, q);
        const double r2 = d.r2;
        const double r = std::sqrt(r2);
        s.pairDistance[k] = static_cast<float>(r);
        const double t = static_cast<double>(C::SMOOTHING_LENGTH_SQ) - r2;
        const TDensityRow& rp = s.densityRows[p];
        const TDensityRow& rq = s.densityRows[q];
        const double vr = (rp.vx - rq.vx) * d.dx + (rp.vy - rq.vy) * d.dy;
        const double w = t * (vr * t) / r;
        s.termA[k] = rq.mass * w;  // into p
        s.termB[k] = rp.mass * w;  // into q
    }
}

// Pressure, viscosity and XSPH terms of pairs [from, to), stored from
// index 0 of the chunk.
void ForceTermsPlain(TSPHStepData& s, std::size_t from, std::size_t to, bool haveDistance) {
    const double h = C::SMOOTHING_LENGTH;
    for (std::size_t k = from; k < to; ++k) {
        const std::int32_t p = s.pairP[k];
        const std::int32_t q = s.pairQ[k];
        const TSeparation d = Separation(s, p, q);
        const double dx = d.dx;
        const double dy = d.dy;
        const double r2 = d.r2;
        const float r = haveDistance ? s.pairDistance[k] : static_cast<float>(std::sqrt(r2));
        const float hr = static_cast<float>(h - r);
        const TOperandRow& rp = s.rows[p];
        const TOperandRow& rq = s.rows[q];
        const double ddx = rq.vx - rp.vx;
        const double ddy = rq.vy - rp.vy;
        double a = rp.pressure + rq.pressure;
        const double b = 2.0 / (rp.density + rq.density);
        const double vr = -dx * ddx - dy * ddy;
        if (vr < 0.0) {
            // Artificial viscosity for approaching particles.
            const double mu = vr * h / (r2 + F::VISCOSITY_R2_OFFSET);
            const double pi = ((-static_cast<double>(C::V_ALPHA)) * mu * (rp.sound + rq.sound) * 0.5 +
                               mu * (static_cast<double>(C::V_BETA) * mu)) *
                              b;
            a = a + pi;
        }
        const double kk = rq.kernelMass * hr * hr / r;
        TForceTerm& out = s.forceTerms[k];
        out.fx = static_cast<float>(dx * (a * kk));
        out.fy = static_cast<float>(dy * (a * kk));
        const double w = static_cast<double>(C::SMOOTHING_LENGTH_SQ) - r2;
        const double sxs = rq.xsphMass * w * w * w * C::D_KERNEL_FACTOR * b;
        out.sx = ddx * sxs;
        out.sy = ddy * sxs;
    }
}

#ifdef FK_SPH_X86
#define FK_AVX2 __attribute__((target("avx2")))

// The eight operands of four particles as eight four-lane vectors.
struct TRows4 {
    __m256d vx, vy, pressure, density, sound, kernelMass, xsphMass, xy;
};

FK_AVX2 inline void Transpose(__m256d r0, __m256d r1, __m256d r2, __m256d r3, __m256d& a, __m256d& b, __m256d& c,
                              __m256d& d) {
    const __m256d t0 = _mm256_unpacklo_pd(r0, r1);
    const __m256d t1 = _mm256_unpackhi_pd(r0, r1);
    const __m256d t2 = _mm256_unpacklo_pd(r2, r3);
    const __m256d t3 = _mm256_unpackhi_pd(r2, r3);
    a = _mm256_permute2f128_pd(t0, t2, 0x20);
    b = _mm256_permute2f128_pd(t1, t3, 0x20);
    c = _mm256_permute2f128_pd(t0, t2, 0x31);
    d = _mm256_permute2f128_pd(t1, t3, 0x31);
}

FK_AVX2 inline TRows4 LoadRows(const TOperandRow* rows, const std::int32_t* index) {
    const double* r0 = &rows[index[0]].vx;
    const double* r1 = &rows[index[1]].vx;
    const double* r2 = &rows[index[2]].vx;
    const double* r3 = &rows[index[3]].vx;
    TRows4 v;
    Transpose(_mm256_load_pd(r0), _mm256_load_pd(r1), _mm256_load_pd(r2), _mm256_load_pd(r3), v.vx, v.vy,
              v.pressure, v.density);
    Transpose(_mm256_load_pd(r0 + 4), _mm256_load_pd(r1 + 4), _mm256_load_pd(r2 + 4), _mm256_load_pd(r3 + 4),
              v.sound, v.kernelMass, v.xsphMass, v.xy);
    return v;
}

// The density pass's operands of four particles.
struct TDensityRows4 {
    __m256d vx, vy, mass, xy;
};

FK_AVX2 inline TDensityRows4 LoadDensityRows(const TDensityRow* rows, const std::int32_t* index) {
    TDensityRows4 v;
    Transpose(_mm256_load_pd(&rows[index[0]].vx), _mm256_load_pd(&rows[index[1]].vx),
              _mm256_load_pd(&rows[index[2]].vx), _mm256_load_pd(&rows[index[3]].vx), v.vx, v.vy, v.mass, v.xy);
    return v;
}

// Separation p - q of four pairs from the packed positions of their rows,
// as Separation forms it, widened to double.
FK_AVX2 inline void Separation4(__m256d pxy, __m256d qxy, __m256d& dx, __m256d& dy, __m256d& r2) {
    const __m256i split = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    const __m256 p = _mm256_permutevar8x32_ps(_mm256_castpd_ps(pxy), split);
    const __m256 q = _mm256_permutevar8x32_ps(_mm256_castpd_ps(qxy), split);
    const __m256 d = _mm256_sub_ps(p, q);  // four x differences, then four y differences
    dx = _mm256_cvtps_pd(_mm256_castps256_ps128(d));
    dy = _mm256_cvtps_pd(_mm256_extractf128_ps(d, 1));
    r2 = _mm256_cvtps_pd(_mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(dx, dx), _mm256_mul_pd(dy, dy))));
}

// Single precision of four doubles, widened back.
FK_AVX2 inline __m256d RoundToFloat(__m256d v) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(v)); }

// DensityTermsPlain, four pairs at a time, for whole groups of four;
// returns where it stopped.
FK_AVX2 std::size_t DensityTermsAvx2(TSPHStepData& s, std::size_t from, std::size_t to) {
    const __m256d h2 = _mm256_set1_pd(C::SMOOTHING_LENGTH_SQ);
    double* intoP = s.termA.data();
    double* intoQ = s.termB.data();
    float* distance = s.pairDistance.data();
    std::size_t k = from;
    for (; k + 4 <= to; k += 4) {
        const TDensityRows4 p = LoadDensityRows(s.densityRows.data(), s.pairP.data() + k);
        const TDensityRows4 q = LoadDensityRows(s.densityRows.data(), s.pairQ.data() + k);
        __m256d dx, dy, r2;
        Separation4(p.xy, q.xy, dx, dy, r2);
        const __m256d r = _mm256_sqrt_pd(r2);
        _mm_storeu_ps(distance + k, _mm256_cvtpd_ps(r));
        const __m256d t = _mm256_sub_pd(h2, r2);
        const __m256d vr =
            _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(p.vx, q.vx), dx), _mm256_mul_pd(_mm256_sub_pd(p.vy, q.vy), dy));
        const __m256d w = _mm256_div_pd(_mm256_mul_pd(t, _mm256_mul_pd(vr, t)), r);
        _mm256_storeu_pd(intoP + k, _mm256_mul_pd(q.mass, w));
        _mm256_storeu_pd(intoQ + k, _mm256_mul_pd(p.mass, w));
    }
    return k;
}

// ForceTermsPlain, four pairs at a time, for whole groups of four; the
// viscosity is computed for every pair and selected by the sign of vr.
// Returns where it stopped.
FK_AVX2 std::size_t ForceTermsAvx2(TSPHStepData& s, std::size_t from, std::size_t to, bool haveDistance) {
    const __m256d h = _mm256_set1_pd(C::SMOOTHING_LENGTH);
    const __m256d h2 = _mm256_set1_pd(C::SMOOTHING_LENGTH_SQ);
    const __m256d two = _mm256_set1_pd(2.0);
    const __m256d twenty = _mm256_set1_pd(F::VISCOSITY_R2_OFFSET);
    const __m256d half = _mm256_set1_pd(0.5);
    const __m256d alpha = _mm256_set1_pd(-static_cast<double>(C::V_ALPHA));
    const __m256d beta = _mm256_set1_pd(C::V_BETA);
    const __m256d kernel = _mm256_set1_pd(C::D_KERNEL_FACTOR);
    const __m256d sign = _mm256_set1_pd(-0.0);
    const __m256d zero = _mm256_setzero_pd();
    double* out = &s.forceTerms.data()->fx;
    const float* distance = s.pairDistance.data();
    std::size_t k = from;
    for (; k + 4 <= to; k += 4) {
        const TRows4 p = LoadRows(s.rows.data(), s.pairP.data() + k);
        const TRows4 q = LoadRows(s.rows.data(), s.pairQ.data() + k);
        __m256d dx, dy, r2;
        Separation4(p.xy, q.xy, dx, dy, r2);
        const __m256d r = haveDistance ? _mm256_cvtps_pd(_mm_loadu_ps(distance + k)) : RoundToFloat(_mm256_sqrt_pd(r2));
        const __m256d hr = RoundToFloat(_mm256_sub_pd(h, r));
        const __m256d ddx = _mm256_sub_pd(q.vx, p.vx);
        const __m256d ddy = _mm256_sub_pd(q.vy, p.vy);
        const __m256d a0 = _mm256_add_pd(p.pressure, q.pressure);
        const __m256d b = _mm256_div_pd(two, _mm256_add_pd(p.density, q.density));
        const __m256d vr = _mm256_sub_pd(_mm256_mul_pd(_mm256_xor_pd(dx, sign), ddx), _mm256_mul_pd(dy, ddy));
        const __m256d mu = _mm256_div_pd(_mm256_mul_pd(vr, h), _mm256_add_pd(r2, twenty));
        const __m256d sound = _mm256_add_pd(p.sound, q.sound);
        const __m256d pi = _mm256_mul_pd(
            _mm256_add_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(alpha, mu), sound), half),
                          _mm256_mul_pd(mu, _mm256_mul_pd(beta, mu))),
            b);
        const __m256d a = _mm256_blendv_pd(a0, _mm256_add_pd(a0, pi), _mm256_cmp_pd(vr, zero, _CMP_LT_OQ));
        const __m256d kk = _mm256_div_pd(_mm256_mul_pd(_mm256_mul_pd(q.kernelMass, hr), hr), r);
        const __m256d akk = _mm256_mul_pd(a, kk);
        const __m256d fx = RoundToFloat(_mm256_mul_pd(dx, akk));
        const __m256d fy = RoundToFloat(_mm256_mul_pd(dy, akk));
        const __m256d w = _mm256_sub_pd(h2, r2);
        const __m256d sxs = _mm256_mul_pd(
            _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(q.xsphMass, w), w), w), kernel),
            b);
        // One record per pair: the four term vectors transposed.
        __m256d t0, t1, t2, t3;
        Transpose(fx, fy, _mm256_mul_pd(ddx, sxs), _mm256_mul_pd(ddy, sxs), t0, t1, t2, t3);
        double* o = out + 4 * k;
        _mm256_store_pd(o, t0);
        _mm256_store_pd(o + 4, t1);
        _mm256_store_pd(o + 8, t2);
        _mm256_store_pd(o + 12, t3);
    }
    return k;
}

// Error-free products without FMA (Dekker): a = hi + lo with 26-bit halves,
// and a * b = p + e exactly.
FK_AVX2 inline void Split4(__m256d a, __m256d& hi, __m256d& lo) {
    const __m256d c = _mm256_mul_pd(_mm256_set1_pd(134217729.0), a);
    hi = _mm256_sub_pd(c, _mm256_sub_pd(c, a));
    lo = _mm256_sub_pd(a, hi);
}

FK_AVX2 inline void TwoProduct4(__m256d a, __m256d b, __m256d& p, __m256d& e) {
    p = _mm256_mul_pd(a, b);
    __m256d ah, al, bh, bl;
    Split4(a, ah, al);
    Split4(b, bh, bl);
    e = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(_mm256_sub_pd(_mm256_mul_pd(ah, bh), p), _mm256_mul_pd(ah, bl)),
                                    _mm256_mul_pd(al, bh)),
                      _mm256_mul_pd(al, bl));
}

// (ah + al) * (bh + bl) as a normalised double-double, to about 2^-104.
FK_AVX2 inline void DoubleDoubleProduct4(__m256d ah, __m256d al, __m256d bh, __m256d bl, __m256d& h, __m256d& l) {
    __m256d p, e;
    TwoProduct4(ah, bh, p, e);
    e = _mm256_add_pd(e, _mm256_add_pd(_mm256_mul_pd(ah, bl), _mm256_mul_pd(al, bh)));
    h = _mm256_add_pd(p, e);
    l = _mm256_sub_pd(e, _mm256_sub_pd(h, p));
}

// x^7 for four x near 1, exactly as std::pow(x, 7.0) rounds it. The power is
// formed in double-double (error about 2^-102 relative); where the exact
// value lies within 0.45 ulp of the nearest double h, pow (whose error is
// below 0.54 ulp) lands less than one ulp from h and so can only return h. The lanes that are closer to a tie, or
// near a power of two (other than x = 1 exactly), take std::pow itself.
// Returns the mask of those lanes.
FK_AVX2 inline int SeventhPower4(__m256d x, __m256d& out) {
    __m256d x2h, x2l, x3h, x3l, x4h, x4l, h, l;
    TwoProduct4(x, x, x2h, x2l);
    DoubleDoubleProduct4(x2h, x2l, x, _mm256_setzero_pd(), x3h, x3l);
    DoubleDoubleProduct4(x2h, x2l, x2h, x2l, x4h, x4l);
    DoubleDoubleProduct4(x4h, x4l, x3h, x3l, h, l);
    const __m256i bits = _mm256_castpd_si256(h);
    const __m256i exponent = _mm256_and_si256(bits, _mm256_set1_epi64x(0x7FF0000000000000ll));
    const __m256d ulp = _mm256_castsi256_pd(_mm256_sub_epi64(exponent, _mm256_set1_epi64x(52ll << 52)));
    const __m256i mantissa = _mm256_and_si256(bits, _mm256_set1_epi64x(0x000FFFFFFFFFFFFFll));
    const __m256i nearEdge =
        _mm256_or_si256(_mm256_cmpgt_epi64(_mm256_set1_epi64x(16), mantissa),
                        _mm256_cmpgt_epi64(mantissa, _mm256_set1_epi64x(0x000FFFFFFFFFFFFFll - 16)));
    const __m256d absLow = _mm256_andnot_pd(_mm256_set1_pd(-0.0), l);
    const __m256d close = _mm256_cmp_pd(absLow, _mm256_mul_pd(_mm256_set1_pd(0.45), ulp), _CMP_NLE_UQ);
    out = h;
    // At x = 1 (a density exactly at rest, common in a settled liquid) the
    // power is exactly 1, which h is, and pow(1, y) is 1 by definition.
    const __m256d one = _mm256_cmp_pd(x, _mm256_set1_pd(1.0), _CMP_EQ_OQ);
    return _mm256_movemask_pd(_mm256_andnot_pd(one, _mm256_or_pd(close, _mm256_castsi256_pd(nearEdge))));
}

// SeventhPowers for whole groups of four; returns how many it did. The
// lanes left to std::pow are collected and done afterwards, so that the
// loop itself does not branch on them.
FK_AVX2 std::size_t SeventhPowersAvx2(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& slow) {
    const double rest = C::REST_DENSITY;
    slow.resize(n + 4);
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d x = _mm256_div_pd(_mm256_cvtps_pd(_mm_loadu_ps(density + i)), _mm256_set1_pd(rest));
        __m256d power;
        const int mask = SeventhPower4(x, power);
        _mm256_storeu_pd(out + i, power);
        // Append the flagged lanes' indices without branching on the mask.
        for (int lane = 0; lane < 4; ++lane) {
            slow[count] = static_cast<std::int32_t>(i + lane);
            count += static_cast<std::size_t>((mask >> lane) & 1);
        }
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::int32_t j = slow[k];
        out[j] = std::pow(static_cast<double>(density[j]) / rest, F::STATE_EXPONENT);
    }
    return i;
}

void SumForcesPlain(TSPHStepData& s, std::size_t i);
void ApplyWalls(TSPHStepData& s, std::size_t i);

// SumForcesPlain with the four fields of a record in one vector: each lane
// is widened, added to and rounded back exactly as the plain sums do it.
// Particles with boundary pushes take the plain sums.
FK_AVX2 void SumForcesAvx2(TSPHStepData& s, std::size_t i0, std::size_t i1) {
    TForceSum* sums = s.forceSums.data();
    const std::int32_t* pq = s.pairQ.data();
    const double* terms = &s.forceTerms.data()->fx;
    for (std::size_t i = i0; i < i1; ++i) {
        if (s.hitBegin[i] != s.hitEnd[i]) {
            SumForcesPlain(s, i);
        } else {
            __m128 own = _mm_load_ps(&sums[i].fx);
            for (std::int32_t k = s.pairBegin[i], end = s.pairEnd[i]; k < end; ++k) {
                const __m256d t = _mm256_load_pd(terms + 4 * k);
                own = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_cvtps_pd(own), t));
                float* q = &sums[pq[k]].fx;
                _mm_store_ps(q, _mm256_cvtpd_ps(_mm256_sub_pd(_mm256_cvtps_pd(_mm_load_ps(q)), t)));
            }
            _mm_store_ps(&sums[i].fx, own);
        }
        ApplyWalls(s, i);
    }
}

#endif

// Terms of the pairs [from, to): whole vectors on the AVX2 path, the rest
// one by one (so that nothing is written outside the range, which the
// other thread may be filling).
void DensityTerms(TSPHStepData& s, std::size_t from, std::size_t to) {
#ifdef FK_SPH_X86
    if (s.avx2) from = DensityTermsAvx2(s, from, to);
#endif
    DensityTermsPlain(s, from, to);
}

void ForceTerms(TSPHStepData& s, std::size_t from, std::size_t to, bool haveDistance) {
#ifdef FK_SPH_X86
    if (s.avx2) from = ForceTermsAvx2(s, from, to, haveDistance);
#endif
    ForceTermsPlain(s, from, to, haveDistance);
}

// The pair terms and their sums, a chunk of particles at a time, the terms
// just before they are summed. With two threads the worker computes the
// terms of chunks from the back of the list meanwhile, and the sums catch
// up with it. terms(from, to) fills the terms of pairs [from, to);
// sums(i0, i1) sums those of particles [i0, i1) in order.
template <typename Terms, typename Sums>
void TermsAndSums(TSPHStepData& s, std::size_t n, Terms terms, Sums sums) {
    ResizeTerms(s);
    auto chunkTerms = [&](std::size_t i0, std::size_t i1) {
        terms(static_cast<std::size_t>(s.pairBegin[i0]), static_cast<std::size_t>(s.pairEnd[i1 - 1]));
    };
    if (!Threaded(s, n)) {
        for (std::size_t i0 = 0; i0 < n;) {
            const std::size_t i1 = ChunkEnd(s, i0, n);
            chunkTerms(i0, i1);
            sums(i0, i1);
            i0 = i1;
        }
        return;
    }
    // Chunks as units of work, no more of them than a round takes.
    const auto perUnit = static_cast<std::int32_t>(
        std::max<std::size_t>(kChunkPairs, s.pairCount / (TStepWorker::MAX_UNITS - 1) + 1));
    std::vector<std::size_t>& bound = s.unitBound;
    bound.assign(1, 0);
    while (bound.back() < n) bound.push_back(ChunkEnd(s, bound.back(), n, perUnit));
    auto run = [&](int u) { chunkTerms(bound[u], bound[u + 1]); };
    s.worker->Share(static_cast<int>(bound.size()) - 1, run, [&](int u) { sums(bound[u], bound[u + 1]); });
}

// Container walls for particle i, after its pairs: a push of Density at
// the wall, none at REPULSIVE_DISTANCE.
inline void ApplyWalls(TSPHStepData& s, std::size_t i) {
    TForceSum& a = s.forceSums[i];
    float fx = a.fx, fy = a.fy;
    const float px = s.x[i];
    const float py = s.y[i];
    const double pd = s.rows[i].density;
    const double right = static_cast<double>(C::CONTAINER_WIDTH) - px;
    const double bottom = static_cast<double>(C::CONTAINER_HEIGHT) - py;
    const float dR = static_cast<float>(right > 0.0 ? right : 0.0);
    const float dB = static_cast<float>(bottom > 0.0 ? bottom : 0.0);
    const float dL = px > 0.0f ? px : 0.0f;
    const float dT = py > 0.0f ? py : 0.0f;
    const double inv = C::INV_REPULSIVE_DISTANCE;
    if (dR < C::REPULSIVE_DISTANCE) fx = static_cast<float>(fx - pd * (1.0 - std::sqrt(static_cast<double>(dR) * inv)));
    if (dB < C::REPULSIVE_DISTANCE) fy = static_cast<float>(fy - pd * (1.0 - std::sqrt(static_cast<double>(dB) * inv)));
    if (dL < C::REPULSIVE_DISTANCE) fx = static_cast<float>(fx + pd * (1.0 - std::sqrt(static_cast<double>(dL) * inv)));
    if (dT < C::REPULSIVE_DISTANCE) fy = static_cast<float>(fy + pd * (1.0 - std::sqrt(static_cast<double>(dT) * inv)));
    a.fx = fx;
    a.fy = fy;
}

// Particle i's pair terms and boundary pushes, in order, one field at a
// time.
void SumForcesPlain(TSPHStepData& s, std::size_t i) {
    TForceSum* sums = s.forceSums.data();
    const std::int32_t* pq = s.pairQ.data();
    const TForceTerm* terms = s.forceTerms.data();
    const TBoundaryHit* hits = s.hits.data();
    float fx = sums[i].fx, fy = sums[i].fy, dvx = sums[i].dvx, dvy = sums[i].dvy;
    std::int32_t hit = s.hitBegin[i];
    const std::int32_t hitEnd = s.hitEnd[i];
    for (std::int32_t k = s.pairBegin[i], end = s.pairEnd[i]; k < end; ++k) {
        // Boundary pushes go in before the pair they were met before.
        for (; hit < hitEnd && hits[hit].At == k; ++hit) {
            fx = static_cast<float>(fx + hits[hit].Gx);
            fy = static_cast<float>(fy + hits[hit].Gy);
        }
        const TForceTerm& t = terms[k];
        TForceSum& q = sums[pq[k]];
        fx = static_cast<float>(fx + t.fx);
        fy = static_cast<float>(fy + t.fy);
        q.fx = static_cast<float>(q.fx - t.fx);
        q.fy = static_cast<float>(q.fy - t.fy);
        dvx = static_cast<float>(dvx + t.sx);
        dvy = static_cast<float>(dvy + t.sy);
        q.dvx = static_cast<float>(q.dvx - t.sx);
        q.dvy = static_cast<float>(q.dvy - t.sy);
    }
    for (; hit < hitEnd; ++hit) {
        fx = static_cast<float>(fx + hits[hit].Gx);
        fy = static_cast<float>(fy + hits[hit].Gy);
    }
    sums[i] = TForceSum{fx, fy, dvx, dvy};
}

// Density rates of the particles [i0, i1), each pair's two terms in order.
void SumDensityRates(TSPHStepData& s, std::size_t i0, std::size_t i1) {
    float* dd = s.dd.data();
    const std::int32_t* pq = s.pairQ.data();
    const double* intoP = s.termA.data();
    const double* intoQ = s.termB.data();
    for (std::size_t i = i0; i < i1; ++i) {
        float acc = dd[i];
        for (std::int32_t k = s.pairBegin[i], end = s.pairEnd[i]; k < end; ++k) {
            acc = static_cast<float>(acc + intoP[k]);
            dd[pq[k]] = static_cast<float>(dd[pq[k]] + intoQ[k]);
        }
        dd[i] = acc;
    }
}

// Sums of the particles [i0, i1) of a chunk, then their walls.
void SumForces(TSPHStepData& s, std::size_t i0, std::size_t i1) {
#ifdef FK_SPH_X86
    if (s.avx2) return SumForcesAvx2(s, i0, i1);
#endif
    for (std::size_t i = i0; i < i1; ++i) {
        SumForcesPlain(s, i);
        ApplyWalls(s, i);
    }
}

}  // namespace

void SeventhPowers(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& scratch, bool avx2) {
    const double rest = TSPHConstants::REST_DENSITY;
    std::size_t i = 0;
#ifdef FK_SPH_X86
    if (avx2) i = SeventhPowersAvx2(density, out, n, scratch);
#else
    (void)scratch;
    (void)avx2;
#endif
    for (; i < n; ++i) out[i] = std::pow(static_cast<double>(density[i]) / rest, F::STATE_EXPONENT);
}

bool ProcessorHasAvx2() {
#ifdef FK_SPH_X86
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    }();
    return has;
#else
    return false;
#endif
}

namespace {

using TParticleArray = std::vector<std::shared_ptr<TParticle>>;

// The density pass's operands of one slot, widened once.
void GatherDensityRow(TSPHStepData& s, std::size_t k, const TParticle& p) {
    TDensityRow& row = s.densityRows[k];
    row.vx = p.VelocityX;
    row.vy = p.VelocityY;
    row.mass = p.Mass;
    row.x = p.PositionX;
    row.y = p.PositionY;
    s.dd[k] = p.DeltaDensity;
}

// One sweep over the fluid particles: their operands and densities, and
// the check that the grid's cell-sorted copy still mirrors them. Then the
// pair list, and the operands of linked particles that left the array.
void GatherDensityOperands(const TSPH& world, TSPHStepData& s) {
    const TParticleArray& particles = world.Particles;
    const std::size_t n = particles.size();
    bool matches = GridMayMatch(world, s);
    if (s.rows.size() < n) ResizeSlots(s, n);
    s.newDensity.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const TParticle& p = *particles[i];
        matches = matches && FluidMatches(s, i, p);
        GatherDensityRow(s, i, p);
        s.newDensity[i] = p.Density;
    }
    EnsurePairs(world, s, matches);
    for (std::size_t k = n; k < s.slotObject.size(); ++k) GatherDensityRow(s, k, *s.slotObject[k]);
}

// Phase 2, first half: each particle's density advanced by its rate and
// guarded, and the powers of the equation of state for all at once.
void AdvanceDensities(TSPHStepData& s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        float density = static_cast<float>(static_cast<double>(s.newDensity[i]) +
                                           static_cast<double>(s.dd[i]) * C::D_KERNEL_FACTOR_GRADIENT);
        if (!(density >= F::DENSITY_GUARD_LOW && density <= F::DENSITY_GUARD_HIGH)) density = F::DENSITY_RESET;
        s.newDensity[i] = density;
    }
    s.seventhPower.resize(n);
    SeventhPowers(s.newDensity.data(), s.seventhPower.data(), n, s.powerScratch, s.avx2);
}

// Phase 2, second half: the density and what the force pass derives from
// it, stored into the particles.
void StoreDensityState(TSPHStepData& s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        TParticle& p = *s.slotObject[i];
        const float density = s.newDensity[i];
        p.DeltaDensity = s.dd[i];
        p.Density = density;
        p.InvDensity = static_cast<float>(1.0 / density);
        p.InvDensitySq = static_cast<float>(static_cast<double>(p.InvDensity) * p.InvDensity);
        p.Mass = static_cast<float>(static_cast<double>(density) * C::PARTICLE_AREA);
        // (P_B * Density) * ((Density / REST_DENSITY)^7 - 1)
        p.Pressure = static_cast<float>((static_cast<double>(C::P_B) * density) * (s.seventhPower[i] - 1.0));
        p.SoundSpeed = static_cast<float>(
            std::sqrt(std::fabs(static_cast<double>(C::HEAT_RATIO) * p.Pressure * p.InvDensity)));
    }
}

// The force pass's operands of one slot, widened once, and its sums'
// starting values: for the array's particles gravity scaled by density and
// zero (phase 1), for linked particles that left it what they hold.
void GatherForceRow(TSPHStepData& s, std::size_t k, const TParticle& p, bool inArray) {
    TOperandRow& row = s.rows[k];
    row.vx = p.VelocityX;
    row.vy = p.VelocityY;
    row.pressure = static_cast<double>(p.Pressure) * p.InvDensitySq;
    row.density = p.Density;
    row.sound = p.SoundSpeed;
    row.kernelMass = (-static_cast<double>(p.Mass)) * C::P_KERNEL_FACTOR;
    row.xsphMass = static_cast<double>(C::XSPH_EPSILON) * p.Mass;
    row.x = p.PositionX;
    row.y = p.PositionY;
    if (inArray) {
        s.forceSums[k] = TForceSum{static_cast<float>(static_cast<double>(C::GRAVITY_X) * p.Density),
                                   static_cast<float>(static_cast<double>(C::GRAVITY_Y) * p.Density), 0.0f, 0.0f};
    } else {
        s.forceSums[k] = TForceSum{p.ForceX, p.ForceY, p.DeltaVelocityX, p.DeltaVelocityY};
    }
}

// As GatherDensityOperands, for the force pass.
void GatherForceOperands(const TSPH& world, TSPHStepData& s) {
    const TParticleArray& particles = world.Particles;
    const std::size_t n = particles.size();
    bool matches = GridMayMatch(world, s);
    if (s.rows.size() < n) ResizeSlots(s, n);
    for (std::size_t i = 0; i < n; ++i) {
        const TParticle& p = *particles[i];
        matches = matches && FluidMatches(s, i, p);
        GatherForceRow(s, i, p, true);
    }
    EnsurePairs(world, s, matches);
    for (std::size_t k = n; k < s.slotObject.size(); ++k) GatherForceRow(s, k, *s.slotObject[k], false);
}

// The sums into the particles; the array's particles' density rates are
// cleared for the next density pass.
void StoreForces(TSPHStepData& s, std::size_t n) {
    for (std::size_t k = 0; k < s.slotObject.size(); ++k) {
        TParticle& p = *s.slotObject[k];
        const TForceSum& a = s.forceSums[k];
        p.ForceX = a.fx;
        p.ForceY = a.fy;
        p.DeltaVelocityX = a.dvx;
        p.DeltaVelocityY = a.dvy;
        if (k < n) p.DeltaDensity = 0.0f;
    }
}

}  // namespace

void TSPH::UpdateDensity() {
    TSPHStepData& s = *step_;
    const std::size_t n = Particles.size();
    GatherDensityOperands(*this, s);

    // Phase 1: density rate, each pair once, applied to both particles.
    // (The roots are kept for the force pass.)
    if (s.pairDistance.size() < s.pairCount + 8) s.pairDistance.resize(2 * s.pairCount + 8);
    s.pairDistanceList = 0;
    TermsAndSums(
        s, n, [&s](std::size_t from, std::size_t to) { DensityTerms(s, from, to); },
        [&s](std::size_t i0, std::size_t i1) { SumDensityRates(s, i0, i1); });
    // Every pair belongs to one of the array's particles, so all have a root.
    if (n > 0) s.pairDistanceList = s.pairList;
    for (std::size_t k = n; k < s.slotObject.size(); ++k) s.slotObject[k]->DeltaDensity = s.dd[k];

    // Phase 2: new density, guarded, and what the force pass derives from it.
    AdvanceDensities(s, n);
    StoreDensityState(s, n);
}

void TSPH::CalcForces() {
    TSPHStepData& s = *step_;
    const std::size_t n = Particles.size();
    GatherForceOperands(*this, s);
    // Phase 2: pair terms, then the sums in order: for each particle its
    // fluid pairs and boundary pushes cell by cell, then the walls.
    const bool haveDistance = s.pairDistanceList == s.pairList;
    TermsAndSums(
        s, n, [&s, haveDistance](std::size_t from, std::size_t to) { ForceTerms(s, from, to, haveDistance); },
        [&s](std::size_t i0, std::size_t i1) { SumForces(s, i0, i1); });
    StoreForces(s, n);
}
