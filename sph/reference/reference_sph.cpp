#include "sph/reference/reference_sph.h"

#include <cmath>
#include <cstring>

namespace {

using C = TSPHConstants;
using F = TSPHFormula;

int Clamp(double v, int count) {
    if (!(v >= 0.0)) return 0;
    if (v > count - 1) return count - 1;
    return static_cast<int>(v);
}

std::shared_ptr<TParticle> Copy(const TParticle& p) {
    auto c = std::make_shared<TParticle>(p);
    c->Succ = nullptr;
    return c;
}

// The neighbour enumeration both passes share: the nine cells around p's home
// cell in their fixed order; in each, fluid(q, dx, dy, r2) for every fluid
// partner with a lower ID inside the pair window, then afterCell(cell).
template <typename Fluid, typename AfterCell>
void VisitNeighbours(TParticle& p, const std::vector<TParticle*>& fluidGrid, int width, int height, Fluid fluid,
                     AfterCell afterCell) {
    const int hx = Clamp(std::trunc(static_cast<double>(p.PositionX) * C::INV_SMOOTHING_LENGTH), width);
    const int hy = Clamp(std::trunc(static_cast<double>(p.PositionY) * C::INV_SMOOTHING_LENGTH), height);
    for (const auto& o : F::NEIGHBOUR_OFFSETS) {
        const int cx = hx + o[0], cy = hy + o[1];
        if (cx < 0 || cx >= width || cy < 0 || cy >= height) continue;
        for (TParticle* q = fluidGrid[cx * height + cy]; q; q = q->Succ) {
            if (!(p.ID > q->ID)) continue;
            const float dx = static_cast<float>(static_cast<double>(p.PositionX) - q->PositionX);
            const float dy = static_cast<float>(static_cast<double>(p.PositionY) - q->PositionY);
            const float r2 = static_cast<float>(static_cast<double>(dx) * dx + static_cast<double>(dy) * dy);
            if (!(F::PAIR_WINDOW_MIN_SQ < r2 && r2 < C::SMOOTHING_LENGTH_SQ)) continue;
            fluid(q, dx, dy, r2);
        }
        afterCell(cx * height + cy);
    }
}

}  // namespace

ReferenceWorld::ReferenceWorld() : fluidGrid_(84 * 63), boundaryGrid_(84 * 63) {}

ReferenceWorld::ReferenceWorld(const TSPH& world) : ReferenceWorld() {
    for (const auto& p : world.Particles) Particles.push_back(Copy(*p));
    for (const auto& p : world.BoundaryParticles) BoundaryParticles.push_back(Copy(*p));
}

void ReferenceWorld::AppendFluidCopy(const TParticle& p) { Particles.push_back(Copy(p)); }
void ReferenceWorld::AppendBoundaryCopy(const TParticle& p) { BoundaryParticles.push_back(Copy(p)); }

void ReferenceWorld::Update() {
    RedistributeGrid();
    UpdateDensity();
    CalcForces();
    Integrate();
}

void ReferenceWorld::RedistributeGrid() {
    for (auto& c : fluidGrid_) c = nullptr;
    for (auto& c : boundaryGrid_) c = nullptr;
    auto bin = [&](std::vector<std::shared_ptr<TParticle>>& array, std::vector<TParticle*>& grid) {
        for (auto& p : array) {
            const int cx = Clamp(std::floor(static_cast<double>(p->PositionX) * C::INV_SMOOTHING_LENGTH), width_);
            const int cy = Clamp(std::floor(static_cast<double>(p->PositionY) * C::INV_SMOOTHING_LENGTH), height_);
            p->Succ = grid[cx * height_ + cy];
            grid[cx * height_ + cy] = p.get();
        }
    };
    bin(Particles, fluidGrid_);
    bin(BoundaryParticles, boundaryGrid_);
    released_.clear();
}

void ReferenceWorld::UpdateDensity() {
    for (auto& pp : Particles) {
        TParticle& p = *pp;
        VisitNeighbours(
            p, fluidGrid_, width_, height_,
            [&](TParticle* q, float dx, float dy, float r2) {
                const double r = std::sqrt(static_cast<double>(r2));
                const double t = static_cast<double>(C::SMOOTHING_LENGTH_SQ) - r2;
                const double vr = (static_cast<double>(p.VelocityX) - q->VelocityX) * dx +
                                  (static_cast<double>(p.VelocityY) - q->VelocityY) * dy;
                const double w = t * (vr * t) / r;
                p.DeltaDensity = static_cast<float>(p.DeltaDensity + static_cast<double>(q->Mass) * w);
                q->DeltaDensity = static_cast<float>(q->DeltaDensity + static_cast<double>(p.Mass) * w);
            },
            [](int) {});
    }
    for (auto& pp : Particles) {
        TParticle& p = *pp;
        p.Density = static_cast<float>(p.Density + static_cast<double>(p.DeltaDensity) * C::D_KERNEL_FACTOR_GRADIENT);
        if (p.Density < F::DENSITY_GUARD_LOW || p.Density > F::DENSITY_GUARD_HIGH || std::isnan(p.Density))
            p.Density = F::DENSITY_RESET;
        p.InvDensity = static_cast<float>(1.0 / static_cast<double>(p.Density));
        p.InvDensitySq = static_cast<float>(static_cast<double>(p.InvDensity) * p.InvDensity);
        p.Mass = static_cast<float>(static_cast<double>(p.Density) * C::PARTICLE_AREA);
        p.Pressure =
            static_cast<float>((static_cast<double>(C::P_B) * p.Density) *
                               (std::pow(static_cast<double>(p.Density) / C::REST_DENSITY, F::STATE_EXPONENT) - 1.0));
        p.SoundSpeed =
            static_cast<float>(std::sqrt(std::fabs(static_cast<double>(C::HEAT_RATIO) * p.Pressure * p.InvDensity)));
    }
}

void ReferenceWorld::CalcForces() {
    for (auto& pp : Particles) {
        TParticle& p = *pp;
        p.ForceX = static_cast<float>(static_cast<double>(C::GRAVITY_X) * p.Density);
        p.ForceY = static_cast<float>(static_cast<double>(C::GRAVITY_Y) * p.Density);
        p.DeltaVelocityX = 0.0f;
        p.DeltaVelocityY = 0.0f;
        p.DeltaDensity = 0.0f;
    }
    const double h = C::SMOOTHING_LENGTH;
    for (auto& pp : Particles) {
        TParticle& p = *pp;
        VisitNeighbours(
            p, fluidGrid_, width_, height_,
            [&](TParticle* q, float dx, float dy, float r2) {
                const float r = static_cast<float>(std::sqrt(static_cast<double>(r2)));
                const float hr = static_cast<float>(h - r);
                const double dvx = static_cast<double>(q->VelocityX) - p.VelocityX;
                const double dvy = static_cast<double>(q->VelocityY) - p.VelocityY;
                double a = static_cast<double>(p.Pressure) * p.InvDensitySq +
                           static_cast<double>(q->Pressure) * q->InvDensitySq;
                const double b = 2.0 / (static_cast<double>(p.Density) + q->Density);
                const double vr = -static_cast<double>(dx) * dvx - static_cast<double>(dy) * dvy;
                if (vr < 0.0) {
                    const double mu = vr * h / (static_cast<double>(r2) + F::VISCOSITY_R2_OFFSET);
                    const double pi = (((-static_cast<double>(C::V_ALPHA)) * mu) *
                                           (static_cast<double>(p.SoundSpeed) + q->SoundSpeed) * 0.5 +
                                       mu * (static_cast<double>(C::V_BETA) * mu)) *
                                      b;
                    a = a + pi;
                }
                const double k = (-static_cast<double>(q->Mass) * C::P_KERNEL_FACTOR) * hr * hr / r;
                const float fx = static_cast<float>(dx * (a * k));
                const float fy = static_cast<float>(dy * (a * k));
                p.ForceX = static_cast<float>(static_cast<double>(p.ForceX) + fx);
                p.ForceY = static_cast<float>(static_cast<double>(p.ForceY) + fy);
                q->ForceX = static_cast<float>(static_cast<double>(q->ForceX) - fx);
                q->ForceY = static_cast<float>(static_cast<double>(q->ForceY) - fy);
                const double w = static_cast<double>(C::SMOOTHING_LENGTH_SQ) - r2;
                const double s = ((0.5 * q->Mass) * w * w) * w * C::D_KERNEL_FACTOR * b;
                p.DeltaVelocityX = static_cast<float>(p.DeltaVelocityX + dvx * s);
                p.DeltaVelocityY = static_cast<float>(p.DeltaVelocityY + dvy * s);
                q->DeltaVelocityX = static_cast<float>(q->DeltaVelocityX - dvx * s);
                q->DeltaVelocityY = static_cast<float>(q->DeltaVelocityY - dvy * s);
            },
            [&](int cell) {
                for (TParticle* b = boundaryGrid_[cell]; b; b = b->Succ) {
                    const double dx = static_cast<double>(p.PositionX) - b->PositionX;
                    const double dy = static_cast<double>(p.PositionY) - b->PositionY;
                    const double r2 = dx * dx + dy * dy;
                    if (!(r2 < C::REPULSIVE_DIST_SQ) || r2 == 0.0) continue;
                    const double u = 1.0 / r2;
                    const double s = C::REPULSIVE_DIST_SQ * u;
                    const double g = u * (C::REPULSIVE_D * (s * s - s));
                    p.ForceX = static_cast<float>(p.ForceX + dx * g);
                    p.ForceY = static_cast<float>(p.ForceY + dy * g);
                }
            });
        const float dR = static_cast<float>(std::fmax(static_cast<double>(C::CONTAINER_WIDTH) - p.PositionX, 0.0));
        const float dB = static_cast<float>(std::fmax(static_cast<double>(C::CONTAINER_HEIGHT) - p.PositionY, 0.0));
        const float dL = static_cast<float>(std::fmax(static_cast<double>(p.PositionX), 0.0));
        const float dT = static_cast<float>(std::fmax(static_cast<double>(p.PositionY), 0.0));
        const double inv = C::INV_REPULSIVE_DISTANCE;
        if (dR < C::REPULSIVE_DISTANCE)
            p.ForceX = static_cast<float>(p.ForceX - static_cast<double>(p.Density) * (1.0 - std::sqrt(dR * inv)));
        if (dB < C::REPULSIVE_DISTANCE)
            p.ForceY = static_cast<float>(p.ForceY - static_cast<double>(p.Density) * (1.0 - std::sqrt(dB * inv)));
        if (dL < C::REPULSIVE_DISTANCE)
            p.ForceX = static_cast<float>(p.ForceX + static_cast<double>(p.Density) * (1.0 - std::sqrt(dL * inv)));
        if (dT < C::REPULSIVE_DISTANCE)
            p.ForceY = static_cast<float>(p.ForceY + static_cast<double>(p.Density) * (1.0 - std::sqrt(dT * inv)));
    }
}

void ReferenceWorld::Integrate() {
    const float keep = 0.99849999f;
    for (auto& pp : Particles) {
        TParticle& p = *pp;
        const float sx = p.PositionX, sy = p.PositionY;
        p.PositionX =
            static_cast<float>(p.PositionX + (static_cast<double>(keep) * (static_cast<double>(p.PositionX) - p.OldX) +
                                              static_cast<double>(p.DeltaVelocityX) * C::TIMESTEP +
                                              static_cast<double>(C::TIMESTEP_SQ) * p.ForceX));
        p.PositionY =
            static_cast<float>(p.PositionY + (static_cast<double>(keep) * (static_cast<double>(p.PositionY) - p.OldY) +
                                              static_cast<double>(p.DeltaVelocityY) * C::TIMESTEP +
                                              static_cast<double>(C::TIMESTEP_SQ) * p.ForceY));
        p.PositionX = C::CONTAINER_WIDTH > p.PositionX ? p.PositionX : C::CONTAINER_WIDTH;
        p.PositionX = 0.0f >= p.PositionX ? 0.0f : p.PositionX;
        p.PositionY = C::CONTAINER_HEIGHT > p.PositionY ? p.PositionY : C::CONTAINER_HEIGHT;
        p.PositionY = 0.0f >= p.PositionY ? 0.0f : p.PositionY;
        p.OldX = sx;
        p.OldY = sy;
        p.VelocityX = static_cast<float>((static_cast<double>(p.PositionX) - sx) * C::INV_TIMESTEP);
        p.VelocityY = static_cast<float>((static_cast<double>(p.PositionY) - sy) * C::INV_TIMESTEP);
        const double v2 =
            static_cast<double>(p.VelocityX) * p.VelocityX + static_cast<double>(p.VelocityY) * p.VelocityY;
        if (v2 > F::SPEED_CAP_SQ) {
            const double k = std::sqrt(F::SPEED_CAP_SQ / v2);
            p.PositionX = sx;
            p.PositionY = sy;
            p.VelocityX = static_cast<float>(p.VelocityX * k);
            p.VelocityY = static_cast<float>(p.VelocityY * k);
            p.PositionX = static_cast<float>(p.PositionX + static_cast<double>(p.VelocityX) * C::TIMESTEP);
            p.PositionY = static_cast<float>(p.PositionY + static_cast<double>(p.VelocityY) * C::TIMESTEP);
        }
        p.ScreenX = static_cast<float>(static_cast<double>(p.PositionX) * C::INV_UNIT_SCALE * C::WORLD_SCALE);
        p.ScreenY = static_cast<float>(static_cast<double>(p.PositionY) * C::INV_UNIT_SCALE * C::WORLD_SCALE);
    }
}

int ReferenceWorld::FreeRect(float x1, float y1, float x2, float y2) {
    int removed = 0;
    for (auto* array : {&Particles, &BoundaryParticles}) {
        std::size_t i = 0;
        while (i < array->size()) {
            const TParticle& p = *(*array)[i];
            if (x1 <= p.ScreenX && p.ScreenX <= x2 && y1 <= p.ScreenY && p.ScreenY <= y2) {
                released_.push_back((*array)[i]);
                array->erase(array->begin() + static_cast<std::ptrdiff_t>(i));
                ++removed;
            } else {
                ++i;
            }
        }
    }
    return removed;
}

namespace {

void Mix(std::uint64_t& h, std::uint32_t v) {
    for (int b = 0; b < 4; ++b) {
        h ^= (v >> (8 * b)) & 0xFFu;
        h *= 1099511628211ull;
    }
}

std::uint32_t Bits(float f) {
    std::uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

void Fields(const TParticle& p, std::uint32_t out[21]) {
    const float f[19] = {p.ScreenX,      p.ScreenY,   p.PositionX, p.PositionY,      p.OldX,
                         p.OldY,         p.VelocityX, p.VelocityY, p.DeltaVelocityX, p.DeltaVelocityY,
                         p.ForceX,       p.ForceY,    p.Density,   p.DeltaDensity,   p.InvDensity,
                         p.InvDensitySq, p.Mass,      p.Pressure,  p.SoundSpeed};
    for (int i = 0; i < 19; ++i) out[i] = Bits(f[i]);
    out[19] = static_cast<std::uint32_t>(p.Succ ? p.Succ->ID : -1);
    out[20] = static_cast<std::uint32_t>(p.ID);
}

}  // namespace

std::uint64_t StateHash(const std::vector<std::shared_ptr<TParticle>>& fluid,
                        const std::vector<std::shared_ptr<TParticle>>& boundary) {
    std::uint64_t h = 14695981039346656037ull;
    for (const auto* array : {&fluid, &boundary}) {
        Mix(h, static_cast<std::uint32_t>(array->size()));
        for (const auto& p : *array) {
            std::uint32_t f[21];
            Fields(*p, f);
            for (std::uint32_t v : f) Mix(h, v);
        }
    }
    return h;
}

int FirstDifferentField(const TParticle& a, const TParticle& b) {
    std::uint32_t fa[21], fb[21];
    Fields(a, fa);
    Fields(b, fb);
    for (int i = 0; i < 21; ++i)
        if (fa[i] != fb[i]) return i;
    return -1;
}
