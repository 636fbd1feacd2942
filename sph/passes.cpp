// The density and force passes over the step's neighbour-pair list.

#include <cmath>
#include <cstring>
#include <unordered_map>

#include "sph/sph.h"
#include "sph/step_data.h"

namespace {

using C = TSPHConstants;

inline bool SameBits(float a, float b) {
    std::uint32_t ua, ub;
    std::memcpy(&ua, &a, sizeof ua);
    std::memcpy(&ub, &b, sizeof ub);
    return ua == ub;
}

// True when the particle arrays and positions are exactly those the last
// grid rebuild binned, so the padded cell-sorted copy mirrors the grid.
bool GridMatchesArrays(const TSPH& world, const TSPHStepData& s) {
    if (!s.rebuilt) return false;
    const std::size_t n = world.Particles.size();
    if (n != s.fluidAt.size() || world.BoundaryParticles.size() != s.boundaryAt.size()) return false;
    for (std::size_t i = 0; i < n; ++i) {
        const TParticle* p = world.Particles[i].get();
        if (p != s.fluidAt[i] || !SameBits(p->PositionX, s.fluidX[i]) || !SameBits(p->PositionY, s.fluidY[i]))
            return false;
    }
    for (std::size_t i = 0; i < s.boundaryAt.size(); ++i) {
        const TParticle* p = world.BoundaryParticles[i].get();
        if (p != s.boundaryAt[i] || !SameBits(p->PositionX, s.boundaryX[i]) ||
            !SameBits(p->PositionY, s.boundaryY[i]))
            return false;
    }
    return true;
}

// Pair window of the density and force passes, with dx, dy and r^2 in
// single precision.
inline bool InWindow(float px, float py, float qx, float qy, TPairEntry& e) {
    e.dx = static_cast<float>(static_cast<double>(px) - qx);
    e.dy = static_cast<float>(static_cast<double>(py) - qy);
    e.r2 = static_cast<float>(static_cast<double>(e.dx) * e.dx + static_cast<double>(e.dy) * e.dy);
    return 0.1f < e.r2 && e.r2 < C::SMOOTHING_LENGTH_SQ;
}

// Boundary push on a fluid particle at (px, py); false when out of range
// (or exactly on the boundary particle, where the force has no value).
inline bool BoundaryPush(float px, float py, float bx, float by, TBoundaryHit& h) {
    const double dx = static_cast<double>(px) - bx;
    const double dy = static_cast<double>(py) - by;
    const double r2 = dx * dx + dy * dy;
    if (!(r2 < static_cast<double>(C::REPULSIVE_DIST_SQ)) || r2 == 0.0) return false;
    const double u = 1.0 / r2;
    const double s = static_cast<double>(C::REPULSIVE_DIST_SQ) * u;
    const double g = u * (static_cast<double>(C::REPULSIVE_D) * (s * s - s));
    h.Gx = dx * g;
    h.Gy = dy * g;
    return true;
}

void ResizeSlots(TSPHStepData& s, std::size_t n) {
    for (auto* v : {&s.x, &s.y, &s.vx, &s.vy, &s.mass, &s.dens, &s.dd, &s.pres, &s.invDensSq, &s.sound,
                    &s.forceX, &s.forceY, &s.dvx, &s.dvy})
        v->resize(n);
}

// Pair list from the cell-sorted copy of an up-to-date grid.
void BuildPairsFast(const TSPH& world, TSPHStepData& s) {
    const std::size_t n = world.Particles.size();
    s.slotObject.assign(s.fluidAt.begin(), s.fluidAt.end());
    s.pairIds.resize(n);
    s.pairStart.resize(n + 1);
    s.hitStart.resize(n + 1);
    s.pairs.clear();
    s.hits.clear();
    ResizeSlots(s, n);
    for (std::size_t i = 0; i < n; ++i) {
        s.x[i] = s.fluidX[i];
        s.y[i] = s.fluidY[i];
        s.pairIds[i] = s.fluidAt[i]->ID;
    }
    const float* sx = s.sortedX.data();
    const float* sy = s.sortedY.data();
    const std::int32_t* sid = s.sortedId.data();
    const std::int32_t* sslot = s.sortedSlot.data();
    const std::int32_t* fstart = s.fluidStart.data();
    const std::int32_t* bstart = s.boundaryStart.data();
    for (std::size_t i = 0; i < n; ++i) {
        s.pairStart[i] = static_cast<std::int32_t>(s.pairs.size());
        s.hitStart[i] = static_cast<std::int32_t>(s.hits.size());
        const float px = s.x[i];
        const float py = s.y[i];
        const std::int32_t pid = s.pairIds[i];
        const std::int32_t home = s.fluidCell[i];
        for (int o = 0; o < 9; ++o) {
            const std::int32_t c = home + s.neighbourOffset[o];
            for (std::int32_t k = fstart[c], end = fstart[c + 1]; k < end; ++k) {
                if (sid[k] >= pid) continue;
                TPairEntry e;
                if (InWindow(px, py, sx[k], sy[k], e)) {
                    e.q = sslot[k];
                    s.pairs.push_back(e);
                }
            }
            for (std::int32_t k = bstart[c], end = bstart[c + 1]; k < end; ++k) {
                TBoundaryHit h;
                if (BoundaryPush(px, py, s.sortedBX[k], s.sortedBY[k], h)) {
                    h.At = static_cast<std::int32_t>(s.pairs.size());
                    s.hits.push_back(h);
                }
            }
        }
    }
    s.pairStart[n] = static_cast<std::int32_t>(s.pairs.size());
    s.hitStart[n] = static_cast<std::int32_t>(s.hits.size());
    s.pairsReusable = true;
}

// Pair list from walking the grid's own cell lists, for a grid that no
// longer matches the arrays (particles added, removed or moved since the
// rebuild). Linked particles missing from the array get slots of their own.
void BuildPairsFromLists(const TSPH& world, TSPHStepData& s) {
    const std::size_t n = world.Particles.size();
    s.slotObject.resize(n);
    std::unordered_map<const TParticle*, std::int32_t> slotOf;
    for (std::size_t i = 0; i < n; ++i) {
        s.slotObject[i] = world.Particles[i].get();
        slotOf.emplace(s.slotObject[i], static_cast<std::int32_t>(i));
    }
    s.pairIds.resize(n);
    s.pairStart.resize(n + 1);
    s.hitStart.resize(n + 1);
    s.pairs.clear();
    s.hits.clear();
    for (std::size_t i = 0; i < n; ++i) {
        const TParticle& p = *s.slotObject[i];
        s.pairStart[i] = static_cast<std::int32_t>(s.pairs.size());
        s.hitStart[i] = static_cast<std::int32_t>(s.hits.size());
        s.pairIds[i] = p.ID;
        const int hx = static_cast<int>(std::trunc(std::fmin(
            std::fmax(static_cast<double>(p.PositionX) * C::INV_SMOOTHING_LENGTH, 0.0), world.GridWidth - 1)));
        const int hy = static_cast<int>(std::trunc(std::fmin(
            std::fmax(static_cast<double>(p.PositionY) * C::INV_SMOOTHING_LENGTH, 0.0), world.GridHeight - 1)));
        static const int kOffsets[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0},
                                           {1, 0},   {0, -1}, {0, 1}, {0, 0}};
        for (const auto& off : kOffsets) {
            const int cx = hx + off[0];
            const int cy = hy + off[1];
            if (cx < 0 || cx >= world.GridWidth || cy < 0 || cy >= world.GridHeight) continue;
            for (const TParticle* q = world.FluidGrid(cx, cy); q != nullptr; q = q->Succ) {
                if (!(p.ID > q->ID)) continue;
                TPairEntry e;
                if (!InWindow(p.PositionX, p.PositionY, q->PositionX, q->PositionY, e)) continue;
                auto found = slotOf.find(q);
                if (found == slotOf.end()) {
                    found = slotOf.emplace(q, static_cast<std::int32_t>(s.slotObject.size())).first;
                    s.slotObject.push_back(const_cast<TParticle*>(q));
                }
                e.q = found->second;
                s.pairs.push_back(e);
            }
            for (const TParticle* b = world.BoundaryGrid(cx, cy); b != nullptr; b = b->Succ) {
                TBoundaryHit h;
                if (BoundaryPush(p.PositionX, p.PositionY, b->PositionX, b->PositionY, h)) {
                    h.At = static_cast<std::int32_t>(s.pairs.size());
                    s.hits.push_back(h);
                }
            }
        }
    }
    s.pairStart[n] = static_cast<std::int32_t>(s.pairs.size());
    s.hitStart[n] = static_cast<std::int32_t>(s.hits.size());
    ResizeSlots(s, s.slotObject.size());
    for (std::size_t k = 0; k < s.slotObject.size(); ++k) {
        s.x[k] = s.slotObject[k]->PositionX;
        s.y[k] = s.slotObject[k]->PositionY;
    }
    s.pairsReusable = false;
}

// Makes the pair list current: reused from the density pass when nothing
// it depends on changed since.
void EnsurePairs(const TSPH& world, TSPHStepData& s) {
    const bool fast = GridMatchesArrays(world, s);
    if (fast && s.pairsReusable) {
        bool same = true;
        for (std::size_t i = 0; i < s.pairIds.size() && same; ++i) same = world.Particles[i]->ID == s.pairIds[i];
        if (same) return;
    }
    if (fast)
        BuildPairsFast(world, s);
    else
        BuildPairsFromLists(world, s);
}

}  // namespace

void TSPH::UpdateDensity() {
    TSPHStepData& s = *step_;
    EnsurePairs(*this, s);
    const std::size_t slots = s.slotObject.size();
    for (std::size_t k = 0; k < slots; ++k) {
        const TParticle& p = *s.slotObject[k];
        s.vx[k] = p.VelocityX;
        s.vy[k] = p.VelocityY;
        s.mass[k] = p.Mass;
        s.dd[k] = p.DeltaDensity;
    }

    // Phase 1: density rate, each pair once, applied to both particles.
    const std::size_t n = Particles.size();
    const TPairEntry* pairs = s.pairs.data();
    float* dd = s.dd.data();
    const float* vx = s.vx.data();
    const float* vy = s.vy.data();
    const float* mass = s.mass.data();
    for (std::size_t i = 0; i < n; ++i) {
        const double pvx = vx[i];
        const double pvy = vy[i];
        const double pm = mass[i];
        float acc = dd[i];
        for (std::int32_t k = s.pairStart[i], end = s.pairStart[i + 1]; k < end; ++k) {
            const TPairEntry& e = pairs[k];
            const std::int32_t q = e.q;
            const double r = std::sqrt(static_cast<double>(e.r2));
            const double t = static_cast<double>(SMOOTHING_LENGTH_SQ) - e.r2;
            const double vr = (pvx - vx[q]) * e.dx + (pvy - vy[q]) * e.dy;
            const double w = t * (vr * t) / r;
            acc = static_cast<float>(acc + static_cast<double>(mass[q]) * w);
            dd[q] = static_cast<float>(dd[q] + pm * w);
        }
        dd[i] = acc;
    }
    for (std::size_t k = n; k < slots; ++k) s.slotObject[k]->DeltaDensity = dd[k];

    // Phase 2: new density, guarded, and what the force pass derives from it.
    for (std::size_t i = 0; i < n; ++i) {
        TParticle& p = *s.slotObject[i];
        p.DeltaDensity = dd[i];
        float density = static_cast<float>(static_cast<double>(p.Density) +
                                           static_cast<double>(dd[i]) * D_KERNEL_FACTOR_GRADIENT);
        if (!(density >= 0.3f && density <= 0.4f)) density = 0.385f;
        p.Density = density;
        p.InvDensity = static_cast<float>(1.0 / density);
        p.InvDensitySq = static_cast<float>(static_cast<double>(p.InvDensity) * p.InvDensity);
        p.Mass = static_cast<float>(static_cast<double>(density) * PARTICLE_AREA);
        p.Pressure = static_cast<float>((static_cast<double>(P_B) * density) *
                                        (std::pow(static_cast<double>(density) / REST_DENSITY, 7.0) - 1.0));
        p.SoundSpeed = static_cast<float>(
            std::sqrt(std::fabs(static_cast<double>(HEAT_RATIO) * p.Pressure * p.InvDensity)));
    }
}

void TSPH::CalcForces() {
    TSPHStepData& s = *step_;
    EnsurePairs(*this, s);
    const std::size_t slots = s.slotObject.size();
    const std::size_t n = Particles.size();
    for (std::size_t k = 0; k < slots; ++k) {
        const TParticle& p = *s.slotObject[k];
        s.vx[k] = p.VelocityX;
        s.vy[k] = p.VelocityY;
        s.mass[k] = p.Mass;
        s.dens[k] = p.Density;
        s.pres[k] = p.Pressure;
        s.invDensSq[k] = p.InvDensitySq;
        s.sound[k] = p.SoundSpeed;
        if (k < n) {
            // Phase 1: gravity scaled by density; the rest starts from zero.
            s.forceX[k] = static_cast<float>(static_cast<double>(GRAVITY_X) * p.Density);
            s.forceY[k] = static_cast<float>(static_cast<double>(GRAVITY_Y) * p.Density);
            s.dvx[k] = 0.0f;
            s.dvy[k] = 0.0f;
        } else {
            s.forceX[k] = p.ForceX;
            s.forceY[k] = p.ForceY;
            s.dvx[k] = p.DeltaVelocityX;
            s.dvy[k] = p.DeltaVelocityY;
        }
    }

    const TPairEntry* pairs = s.pairs.data();
    const TBoundaryHit* hits = s.hits.data();
    const float* vx = s.vx.data();
    const float* vy = s.vy.data();
    const float* mass = s.mass.data();
    const float* dens = s.dens.data();
    const float* pres = s.pres.data();
    const float* ids = s.invDensSq.data();
    const float* sound = s.sound.data();
    float* fxs = s.forceX.data();
    float* fys = s.forceY.data();
    float* dvxs = s.dvx.data();
    float* dvys = s.dvy.data();
    const double h = SMOOTHING_LENGTH;
    for (std::size_t i = 0; i < n; ++i) {
        const double pvx = vx[i];
        const double pvy = vy[i];
        const double pa = static_cast<double>(pres[i]) * ids[i];
        const double pd = dens[i];
        const double pc = sound[i];
        float fx = fxs[i], fy = fys[i], dvx = dvxs[i], dvy = dvys[i];
        std::int32_t hit = s.hitStart[i];
        const std::int32_t hitEnd = s.hitStart[i + 1];
        for (std::int32_t k = s.pairStart[i], end = s.pairStart[i + 1]; k < end; ++k) {
            for (; hit < hitEnd && hits[hit].At == k; ++hit) {
                fx = static_cast<float>(fx + hits[hit].Gx);
                fy = static_cast<float>(fy + hits[hit].Gy);
            }
            const TPairEntry& e = pairs[k];
            const std::int32_t q = e.q;
            const float r = static_cast<float>(std::sqrt(static_cast<double>(e.r2)));
            const float hr = static_cast<float>(h - r);
            const double ddx = static_cast<double>(vx[q]) - pvx;
            const double ddy = static_cast<double>(vy[q]) - pvy;
            double a = pa + static_cast<double>(pres[q]) * ids[q];
            const double b = 2.0 / (pd + dens[q]);
            const double vr = -static_cast<double>(e.dx) * ddx - static_cast<double>(e.dy) * ddy;
            if (vr < 0.0) {
                // Artificial viscosity for approaching particles.
                const double mu = vr * h / (static_cast<double>(e.r2) + 20.0);
                const double pi = ((-static_cast<double>(V_ALPHA)) * mu * (pc + sound[q]) * 0.5 +
                                   mu * (static_cast<double>(V_BETA) * mu)) *
                                  b;
                a = a + pi;
            }
            const double qm = mass[q];
            const double kk = (-qm * P_KERNEL_FACTOR) * hr * hr / r;
            const float pfx = static_cast<float>(e.dx * (a * kk));
            const float pfy = static_cast<float>(e.dy * (a * kk));
            fx = static_cast<float>(static_cast<double>(fx) + pfx);
            fy = static_cast<float>(static_cast<double>(fy) + pfy);
            fxs[q] = static_cast<float>(static_cast<double>(fxs[q]) - pfx);
            fys[q] = static_cast<float>(static_cast<double>(fys[q]) - pfy);
            // XSPH: pulls both velocities towards each other.
            const double w = static_cast<double>(SMOOTHING_LENGTH_SQ) - e.r2;
            const double sxs = (static_cast<double>(XSPH_EPSILON) * qm * w * w) * w * D_KERNEL_FACTOR * b;
            dvx = static_cast<float>(dvx + ddx * sxs);
            dvy = static_cast<float>(dvy + ddy * sxs);
            dvxs[q] = static_cast<float>(dvxs[q] - ddx * sxs);
            dvys[q] = static_cast<float>(dvys[q] - ddy * sxs);
        }
        for (; hit < hitEnd; ++hit) {
            fx = static_cast<float>(fx + hits[hit].Gx);
            fy = static_cast<float>(fy + hits[hit].Gy);
        }

        // Container walls: a push of Density at the wall, none at REPULSIVE_DISTANCE.
        const float px = s.x[i];
        const float py = s.y[i];
        const double right = static_cast<double>(CONTAINER_WIDTH) - px;
        const double bottom = static_cast<double>(CONTAINER_HEIGHT) - py;
        const float dR = static_cast<float>(right > 0.0 ? right : 0.0);
        const float dB = static_cast<float>(bottom > 0.0 ? bottom : 0.0);
        const float dL = px > 0.0f ? px : 0.0f;
        const float dT = py > 0.0f ? py : 0.0f;
        if (dR < REPULSIVE_DISTANCE)
            fx = static_cast<float>(fx - pd * (1.0 - std::sqrt(static_cast<double>(dR) * INV_REPULSIVE_DISTANCE)));
        if (dB < REPULSIVE_DISTANCE)
            fy = static_cast<float>(fy - pd * (1.0 - std::sqrt(static_cast<double>(dB) * INV_REPULSIVE_DISTANCE)));
        if (dL < REPULSIVE_DISTANCE)
            fx = static_cast<float>(fx + pd * (1.0 - std::sqrt(static_cast<double>(dL) * INV_REPULSIVE_DISTANCE)));
        if (dT < REPULSIVE_DISTANCE)
            fy = static_cast<float>(fy + pd * (1.0 - std::sqrt(static_cast<double>(dT) * INV_REPULSIVE_DISTANCE)));
        fxs[i] = fx;
        fys[i] = fy;
        dvxs[i] = dvx;
        dvys[i] = dvy;
    }

    for (std::size_t k = 0; k < slots; ++k) {
        TParticle& p = *s.slotObject[k];
        p.ForceX = fxs[k];
        p.ForceY = fys[k];
        p.DeltaVelocityX = dvxs[k];
        p.DeltaVelocityY = dvys[k];
        if (k < n) p.DeltaDensity = 0.0f;
    }
}
