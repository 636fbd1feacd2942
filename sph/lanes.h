#pragma once
// Internal to the sph library and the renderer's smooth field: the plain
// lane set of the pair kernels (sph/pair_kernels.h) and the field's sums
// (render/smooth_sums.h), one pair, candidate or sample at a time.
//
// A lane set names the types and operations the kernels are written in:
//   D      double lanes (N of them), with + - * / and unary -
//   F, I   float and int32 lanes of the pair search (W of them), F with + -
//   Mask   the lanes selected by a comparison, combined with &
// and the loads, stores and rounding steps below. Every lane performs
// exactly the operations of the plain set, so all sets give the same bits;
// sph/lanes_avx2.h, sph/lanes_avx512.h and sph/lanes_simd128.h are the others.

#include <cmath>
#include <cstdint>
#include <vector>

#include "sph/step_data.h"

// Relative margin around the pair window's bounds inside which a
// single-precision estimate of r^2 (dx^2 + dy^2 with three float roundings,
// relative error below 2^-22) cannot tell on which side the exactly rounded
// r^2 lies; outside it the estimate decides. For the vector sets' window tests.
struct TSPHWindowEstimate {
    static constexpr float MARGIN = 1.0f / 65536.0f;
    static constexpr float LOW_IN = TSPHFormula::PAIR_WINDOW_MIN_SQ * (1.0f + MARGIN);
    static constexpr float LOW_OUT = TSPHFormula::PAIR_WINDOW_MIN_SQ * (1.0f - MARGIN);
    static constexpr float HIGH_IN = TSPHConstants::SMOOTHING_LENGTH_SQ * (1.0f - MARGIN);
    static constexpr float HIGH_OUT = TSPHConstants::SMOOTHING_LENGTH_SQ * (1.0f + MARGIN);
};

// The density pass's operands of the particles of one round of pairs.
template <typename D, typename XY>
struct TDensityLanes {
    D vx, vy, mass;
    XY xy;
};

// The force pass's operands of the particles of one round of pairs.
template <typename D, typename XY>
struct TForceLanes {
    D vx, vy, pressure, density, sound, kernelMass, xsphMass;
    XY xy;
};

struct TPlainLanes {
    static constexpr int N = 1;  // pairs per round of the pair terms
    static constexpr int W = 1;  // candidates per round of the pair search
    using D = double;
    using F = float;
    using I = std::int32_t;
    using Mask = int;

    // A particle's position as the rows carry it.
    struct XY {
        float x, y;
    };
    using DensityRows = TDensityLanes<D, XY>;
    using ForceRows = TForceLanes<D, XY>;

    static D Splat(double v) { return v; }
    static D Sqrt(D v) { return std::sqrt(v); }
    // Rounded to single precision and widened again.
    static D RoundToFloat(D v) { return static_cast<float>(v); }
    // yes where 'sign' < 0, no elsewhere (a NaN counts as not negative).
    static D IfNegative(D sign, D yes, D no) { return sign < 0.0 ? yes : no; }
    // v where v > 0, +0 elsewhere (a NaN and -0 included).
    static D AtLeastZero(D v) { return v > 0.0 ? v : 0.0; }
    static D LoadFloats(const float* p) { return *p; }
    static void StoreFloats(float* p, D v) { *p = static_cast<float>(v); }
    static void Store(double* p, D v) { *p = v; }
    static void StoreTerms(TForceTerm* out, D fx, D fy, D sx, D sy) { *out = TForceTerm{fx, fy, sx, sy}; }

    static DensityRows LoadDensityRows(const TDensityRow* rows, const std::int32_t* index) {
        const TDensityRow& r = rows[*index];
        return {r.vx, r.vy, r.mass, {r.x, r.y}};
    }
    static ForceRows LoadForceRows(const TOperandRow* rows, const std::int32_t* index) {
        const TOperandRow& r = rows[*index];
        return {r.vx, r.vy, r.pressure, r.density, r.sound, r.kernelMass, r.xsphMass, {r.x, r.y}};
    }
    // The separation p - q in single precision (float differences, the
    // squared length rounded once), widened.
    static void Separate(XY p, XY q, D& dx, D& dy, D& r2) {
        const float fx = p.x - q.x;
        const float fy = p.y - q.y;
        dx = fx;
        dy = fy;
        r2 = SquaredLength(fx, fy);
    }

    // A particle's force and XSPH sums, and one pair's terms to add to them.
    using Sum = TForceSum;
    using Term = TForceTerm;
    static Sum LoadSum(const TForceSum* p) { return *p; }
    static void StoreSum(TForceSum* p, Sum v) { *p = v; }
    static Term LoadTerm(const TForceTerm* p) { return *p; }
    static Sum AddTerm(Sum a, const Term& t) {
        return {static_cast<float>(a.fx + t.fx), static_cast<float>(a.fy + t.fy), static_cast<float>(a.dvx + t.sx),
                static_cast<float>(a.dvy + t.sy)};
    }
    static Sum SubtractTerm(Sum a, const Term& t) {
        return {static_cast<float>(a.fx - t.fx), static_cast<float>(a.fy - t.fy), static_cast<float>(a.dvx - t.sx),
                static_cast<float>(a.dvy - t.sy)};
    }
    // A boundary push, into the force only.
    static Sum AddPush(Sum a, const TBoundaryHit& h) {
        return {static_cast<float>(a.fx + h.Gx), static_cast<float>(a.fy + h.Gy), a.dvx, a.dvy};
    }

    static F LoadF(const float* p) { return *p; }
    static I LoadI(const std::int32_t* p) { return *p; }
    // A whole round of candidates copied (the destination has W entries of room).
    static void StoreF(float* p, F v) { *p = v; }
    static void StoreI(std::int32_t* p, I v) { *p = v; }
    static F SplatF(float v) { return v; }
    static I SplatI(std::int32_t v) { return v; }
    // dx^2 + dy^2 in double, rounded once to single precision.
    static F SquaredLength(F dx, F dy) {
        return static_cast<float>(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
    }
    // Lanes whose separation lies in the pair window PAIR_WINDOW_MIN_SQ < r^2 <
    // SMOOTHING_LENGTH_SQ, with r^2 = SquaredLength(dx, dy).
    static Mask InPairWindow(F dx, F dy) {
        const float r2 = SquaredLength(dx, dy);
        return static_cast<int>(TSPHFormula::PAIR_WINDOW_MIN_SQ < r2 && r2 < TSPHConstants::SMOOTHING_LENGTH_SQ);
    }
    static Mask Less(F a, F b) { return static_cast<int>(a < b); }
    static Mask Less(I a, I b) { return static_cast<int>(a < b); }
    // The first 'count' lanes (count >= 1).
    static Mask FirstLanes(std::int32_t) { return 1; }
    static int Count(Mask m) { return m; }
    // The selected lanes to out, packed; whole rounds are written, so out
    // has W entries of room.
    static void Compress(std::int32_t* out, I v, Mask) { *out = v; }
    static void CompressF(float* out, F v, Mask) { *out = v; }
};

// SeventhPowers (sph/step_data.h) for whole groups of Lanes densities, for
// the vector sets: power(i) stores the powers of density[i ..] into out[i ..]
// and returns the mask of the lanes it leaves to std::pow, which are
// collected (without a branch on the mask) and done afterwards. Returns how
// many it did.
template <int Lanes, typename Power>
std::size_t SeventhPowerGroups(const float* density, double* out, std::size_t n, std::vector<std::int32_t>& slow,
                               Power power) {
    slow.resize(n + Lanes);
    std::size_t count = 0;
    std::size_t i = 0;
    for (; i + Lanes <= n; i += Lanes) {
        const int mask = power(i);
        for (int lane = 0; lane < Lanes; ++lane) {
            slow[count] = static_cast<std::int32_t>(i + lane);
            count += static_cast<std::size_t>((mask >> lane) & 1);
        }
    }
    for (std::size_t k = 0; k < count; ++k) {
        const std::int32_t j = slow[k];
        out[j] = std::pow(static_cast<double>(density[j]) / TSPHConstants::REST_DENSITY, TSPHFormula::STATE_EXPONENT);
    }
    return i;
}
