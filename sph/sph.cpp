#include "sph/sph.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "sph/step_data.h"

namespace {

// Column or row of a world coordinate: floor of the double product, clamped
// into [0, count - 1] so that a position outside the container (or a NaN)
// can never index outside the grid. For the non-negative products that
// remain after the clamp, truncation is the floor.
int CellOf(float position, int count) {
    const double v = static_cast<double>(position) * TSPHConstants::INV_SMOOTHING_LENGTH;
    if (!(v >= 0.0)) return 0;
    if (v >= static_cast<double>(count - 1)) return count - 1;
    return static_cast<int>(v);
}

}  // namespace

void TCellGrid::Resize(int width, int height) {
    const std::size_t cells = static_cast<std::size_t>(width) * height;
    if (width == width_ && height == height_ && heads_.size() == cells) {
        // The simulation is built without the vectorizers: clear with a
        // block fill rather than a pointer-by-pointer loop (a null pointer
        // is all zero bits on every platform this builds for).
        static_assert(sizeof(TParticle*) == sizeof(std::uintptr_t), "plain pointers");
        std::memset(static_cast<void*>(heads_.data()), 0, heads_.size() * sizeof(TParticle*));
        return;
    }
    width_ = width;
    height_ = height;
    heads_.assign(cells, nullptr);
}

TSPH::TSPH() : step_(std::make_unique<TSPHStepData>()) {
    // ceil(320 * 0.259740263f) = ceil(83.1168823f) = 84; ceil(62.3376617f) = 63.
    GridWidth = static_cast<std::int32_t>(std::ceil(CONTAINER_WIDTH * INV_SMOOTHING_LENGTH));
    GridHeight = static_cast<std::int32_t>(std::ceil(CONTAINER_HEIGHT * INV_SMOOTHING_LENGTH));
    FluidGrid.Resize(GridWidth, GridHeight);
    BoundaryGrid.Resize(GridWidth, GridHeight);

    TSPHStepData& s = *step_;
    s.paddedHeight = GridHeight + 2;
    // The fixed visiting order of the nine cells around a particle.
    static const int kOffsets[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0},
                                       {1, 0},   {0, -1}, {0, 1}, {0, 0}};
    for (int k = 0; k < 9; ++k) s.neighbourOffset[k] = kOffsets[k][0] * s.paddedHeight + kOffsets[k][1];
    SetStepThreads(MAX_STEP_THREADS);
}

TSPHStepData& StepDataOf(TSPH& world) { return *world.step_; }

void TSPH::SetStepThreads(int threads) {
    TSPHStepData& s = *step_;
    const int cores = TStepWorker::AvailableCores();
    s.threads = threads >= MAX_STEP_THREADS && cores >= MAX_STEP_THREADS ? MAX_STEP_THREADS : 1;
    if (s.threads > 1 && s.worker == nullptr) s.worker = std::make_unique<TStepWorker>();
    if (s.threads == 1) s.worker.reset();
}

int TSPH::StepThreads() const { return step_->threads; }

TSPH::~TSPH() {
    BoundaryParticles.clear();
    Particles.clear();
}

void TSPH::Update() {
    RedistributeGrid();
    UpdateDensity();
    CalcForces();
    Integrate();
}

void TSPH::Render() {}

void TSPH::AddParticle(float x, float y) {
    const float wx = x * UNIT_SCALE * INV_WORLD_SCALE;  // float products, left to right
    const float wy = y * UNIT_SCALE * INV_WORLD_SCALE;
    Particles.push_back(TParticle::Create(wx, wy));
}

void TSPH::AddBoundaryParticle(float x, float y) {
    const float wx = x * UNIT_SCALE * INV_WORLD_SCALE;
    const float wy = y * UNIT_SCALE * INV_WORLD_SCALE;
    BoundaryParticles.push_back(TParticle::Create(wx, wy));
}

void TSPH::FreeRect(float x1, float y1, float x2, float y2) {
    auto sweep = [&](std::vector<std::shared_ptr<TParticle>>& array) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < array.size(); ++i) {
            const TParticle& p = *array[i];
            if (x1 <= p.ScreenX && p.ScreenX <= x2 && y1 <= p.ScreenY && p.ScreenY <= y2) {
                // The grid may still link it: keep it alive until the next rebuild.
                released_.push_back(std::move(array[i]));
                ParticleCount = ParticleCount - 1;
            } else {
                if (kept != i) array[kept] = std::move(array[i]);
                ++kept;
            }
        }
        array.resize(kept);
    };
    sweep(Particles);
    sweep(BoundaryParticles);
}

void TSPH::RedistributeGrid() {
    TSPHStepData& s = *step_;
    const std::size_t cells = static_cast<std::size_t>(GridWidth + 2) * s.paddedHeight;
    FluidGrid.Resize(GridWidth, GridHeight);
    BoundaryGrid.Resize(GridWidth, GridHeight);
    // Collection step: with the grids emptied, particles removed since the
    // last rebuild are linked by nothing any more (done before binning, in
    // case one of them was put back into an array).
    for (auto& p : released_) p->Succ = nullptr;
    released_.clear();

    // Bins one particle array into a grid and, alongside, into the padded
    // cell-sorted arrays in the same list order (pushed at the front, so each
    // cell runs from the latest particle of the array to the earliest).
    auto bin = [&](const std::vector<std::shared_ptr<TParticle>>& array, TCellGrid& grid,
                   std::vector<TParticle*>& at, std::vector<float>& xs, std::vector<float>& ys,
                   std::vector<std::int32_t>& cellOf, std::vector<std::int32_t>& start,
                   std::vector<std::int32_t>* flat, std::vector<std::int32_t>* ids) {
        const std::size_t n = array.size();
        at.resize(n);
        xs.resize(n);
        ys.resize(n);
        cellOf.resize(n);
        if (flat != nullptr) flat->resize(n);
        if (ids != nullptr) ids->resize(n);
        start.resize(cells + 1);
        std::memset(start.data(), 0, start.size() * sizeof(std::int32_t));
        for (std::size_t i = 0; i < n; ++i) {
            TParticle* p = array[i].get();
            const int cx = CellOf(p->PositionX, GridWidth);
            const int cy = CellOf(p->PositionY, GridHeight);
            TParticle*& head = grid(cx, cy);
            p->Succ = head;
            head = p;
            at[i] = p;
            xs[i] = p->PositionX;
            ys[i] = p->PositionY;
            const std::int32_t c = (cx + 1) * s.paddedHeight + (cy + 1);
            cellOf[i] = c;
            if (flat != nullptr) (*flat)[i] = cx * GridHeight + cy;
            if (ids != nullptr) (*ids)[i] = p->ID;
            ++start[c + 1];
        }
        // Counts into starts; the running sum stays in a register.
        std::int32_t most = 0;
        std::int32_t sum = 0;
        for (std::size_t c = 1; c <= cells; ++c) {
            const std::int32_t count = start[c];
            most = count > most ? count : most;
            sum += count;
            start[c] = sum;
        }
        return most;
    };

    // (The IDs are taken on the same sweep: every sweep over the particle
    // objects counts once they no longer fit the caches.)
    s.maxFluidPerCell =
        bin(Particles, FluidGrid, s.fluidAt, s.fluidX, s.fluidY, s.fluidCell, s.fluidStart, nullptr, &s.fluidId);
    {
        const std::size_t n = Particles.size();
        // Every entry is written below but the slack, which is zeroed.
        s.sortedX.resize(n + 16);
        s.sortedY.resize(n + 16);
        s.sortedId.resize(n + 16);
        s.sortedSlot.resize(n + 16);
        std::memset(s.sortedX.data() + n, 0, 16 * sizeof(float));
        std::memset(s.sortedY.data() + n, 0, 16 * sizeof(float));
        std::memset(s.sortedId.data() + n, 0, 16 * sizeof(std::int32_t));
        std::memset(s.sortedSlot.data() + n, 0, 16 * sizeof(std::int32_t));
        s.cellScratch.assign(s.fluidStart.begin(), s.fluidStart.end() - 1);
        for (std::size_t i = n; i-- > 0;) {
            const std::int32_t k = s.cellScratch[s.fluidCell[i]]++;
            s.sortedX[k] = s.fluidX[i];
            s.sortedY[k] = s.fluidY[i];
            s.sortedId[k] = s.fluidId[i];
            s.sortedSlot[k] = static_cast<std::int32_t>(i);
        }
    }
    // Boundary particles do not move: while the array holds the same
    // particles at the same places as at the last rebuild, their cells,
    // counts and cell-sorted copy stand, and only the lists are relinked.
    const std::size_t nb = BoundaryParticles.size();
    bool boundaryKept = s.boundaryStart.size() == cells + 1 && s.boundaryAt.size() == nb && s.boundaryFlat.size() == nb;
    for (std::size_t i = 0; boundaryKept && i < nb; ++i) {
        const TParticle* p = BoundaryParticles[i].get();
        boundaryKept = p == s.boundaryAt[i] && SameBits(p->PositionX, s.boundaryX[i]) &&
                       SameBits(p->PositionY, s.boundaryY[i]);
    }
    std::vector<std::int32_t>& boundaryCell = s.boundaryCell;
    if (boundaryKept) {
        for (std::size_t i = 0; i < nb; ++i) {
            TParticle* p = s.boundaryAt[i];
            TParticle*& head = BoundaryGrid.Cell(static_cast<std::size_t>(s.boundaryFlat[i]));
            p->Succ = head;
            head = p;
        }
    } else {
        bin(BoundaryParticles, BoundaryGrid, s.boundaryAt, s.boundaryX, s.boundaryY, boundaryCell, s.boundaryStart,
            &s.boundaryFlat, nullptr);
        const std::size_t n = BoundaryParticles.size();
        s.sortedBX.resize(n);
        s.sortedBY.resize(n);
        s.cellScratch.assign(s.boundaryStart.begin(), s.boundaryStart.end() - 1);
        for (std::size_t i = n; i-- > 0;) {
            const std::int32_t k = s.cellScratch[boundaryCell[i]]++;
            s.sortedBX[k] = s.boundaryX[i];
            s.sortedBY[k] = s.boundaryY[i];
        }
        // The inner cells' flags (the outer ring has no particles to ask).
        s.boundaryNear.assign(cells, 0);
        const std::size_t ph = static_cast<std::size_t>(s.paddedHeight);
        for (std::size_t c = ph + 1; c + ph + 1 < cells; ++c) {
            std::uint8_t near = 0;
            for (int o = 0; o < 9; ++o) {
                const std::size_t cell = c + s.neighbourOffset[o];
                near |= static_cast<std::uint8_t>(s.boundaryStart[cell] != s.boundaryStart[cell + 1]);
            }
            s.boundaryNear[c] = near;
        }
    }
    s.rebuilt = true;
    s.pairsReusable = false;
}

void TSPH::Integrate() {
    const float keep = 1.0f - DAMPING;  // 0.99849999f
    for (const auto& particle : Particles) {
        TParticle& p = *particle;
        const float sx = p.PositionX;
        const float sy = p.PositionY;
        // Damped Verlet step plus the XSPH displacement, bracket summed as written.
        const double bx = static_cast<double>(keep) * (static_cast<double>(p.PositionX) - p.OldX) +
                          static_cast<double>(p.DeltaVelocityX) * TIMESTEP +
                          static_cast<double>(TIMESTEP_SQ) * p.ForceX;
        const double by = static_cast<double>(keep) * (static_cast<double>(p.PositionY) - p.OldY) +
                          static_cast<double>(p.DeltaVelocityY) * TIMESTEP +
                          static_cast<double>(TIMESTEP_SQ) * p.ForceY;
        float nx = static_cast<float>(sx + bx);
        float ny = static_cast<float>(sy + by);
        // Upper bound first; a NaN becomes the far edge.
        nx = CONTAINER_WIDTH > nx ? nx : CONTAINER_WIDTH;
        nx = 0.0f >= nx ? 0.0f : nx;
        ny = CONTAINER_HEIGHT > ny ? ny : CONTAINER_HEIGHT;
        ny = 0.0f >= ny ? 0.0f : ny;
        p.PositionX = nx;
        p.PositionY = ny;
        p.OldX = sx;
        p.OldY = sy;
        p.VelocityX = static_cast<float>((static_cast<double>(nx) - sx) * INV_TIMESTEP);
        p.VelocityY = static_cast<float>((static_cast<double>(ny) - sy) * INV_TIMESTEP);
        const double speedSq = static_cast<double>(p.VelocityX) * p.VelocityX +
                               static_cast<double>(p.VelocityY) * p.VelocityY;
        if (speedSq > 4.0) {
            // Speed cap: redo the step from the saved position at speed 2.
            const double k = std::sqrt(4.0 / speedSq);
            p.VelocityX = static_cast<float>(p.VelocityX * k);
            p.VelocityY = static_cast<float>(p.VelocityY * k);
            p.PositionX = static_cast<float>(sx + static_cast<double>(p.VelocityX) * TIMESTEP);
            p.PositionY = static_cast<float>(sy + static_cast<double>(p.VelocityY) * TIMESTEP);
        }
        p.ScreenX = static_cast<float>(static_cast<double>(p.PositionX) * INV_UNIT_SCALE * WORLD_SCALE);
        p.ScreenY = static_cast<float>(static_cast<double>(p.PositionY) * INV_UNIT_SCALE * WORLD_SCALE);
    }
}
