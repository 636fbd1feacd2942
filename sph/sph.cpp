#include "sph/sph.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>

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
    for (int k = 0; k < 9; ++k) {
        const int* o = TSPHFormula::NEIGHBOUR_OFFSETS[k];
        s.neighbourOffset[k] = o[0] * s.paddedHeight + o[1];
    }
    SetStepThreads(MAX_STEP_THREADS);
}

TSPHStepData& StepDataOf(TSPH& world) { return *world.step_; }

void TSPH::SetStepThreads(int threads) {
    TSPHStepData& s = *step_;
    const int cores = TStepWorker::AvailableCores();
    s.threads = threads >= MAX_STEP_THREADS && cores >= MAX_STEP_THREADS ? MAX_STEP_THREADS : 1;
    if (s.threads > 1 && s.worker == nullptr) {
        try {
            s.worker = std::make_unique<TStepWorker>();
        } catch (const std::system_error&) {
            s.threads = 1;  // no thread to be had: the step runs on the caller's alone
        }
    }
    if (s.threads == 1) s.worker.reset();
}

int TSPH::StepThreads() const { return step_->threads; }

bool TSPH::SetStepLanes(TLaneSet lanes) {
    if (!LaneSetAvailable(lanes)) return false;
    step_->lanes = lanes;
    return true;
}

TLaneSet TSPH::StepLanes() const { return step_->lanes; }

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

namespace {

// Where one particle array was binned: its particles and positions, each
// one's padded cell, and the cells' starts in the padded cell-sorted order.
struct TBinning {
    std::vector<TParticle*>& at;
    std::vector<float>& x;
    std::vector<float>& y;
    std::vector<std::int32_t>& cell;
    std::vector<std::int32_t>& start;
};

// Bins one particle array into a grid (pushed at the front, so each cell
// runs from the latest particle of the array to the earliest) and records
// the binning; 'each(i, column, row)' sees every particle's cell. Returns
// the most particles in one cell.
template <typename Each>
std::int32_t BinArray(const std::vector<std::shared_ptr<TParticle>>& array, TCellGrid& grid, int paddedHeight,
                      std::size_t cells, TBinning b, Each each) {
    const std::size_t n = array.size();
    b.at.resize(n);
    b.x.resize(n);
    b.y.resize(n);
    b.cell.resize(n);
    b.start.resize(cells + 1);
    std::memset(b.start.data(), 0, b.start.size() * sizeof(std::int32_t));
    for (std::size_t i = 0; i < n; ++i) {
        TParticle* p = array[i].get();
        const int cx = CellOf(p->PositionX, grid.Width());
        const int cy = CellOf(p->PositionY, grid.Height());
        TParticle*& head = grid(cx, cy);
        p->Succ = head;
        head = p;
        b.at[i] = p;
        b.x[i] = p->PositionX;
        b.y[i] = p->PositionY;
        const std::int32_t c = (cx + 1) * paddedHeight + (cy + 1);
        b.cell[i] = c;
        each(i, *p, cx, cy);
        ++b.start[c + 1];
    }
    // Counts into starts; the running sum stays in a register.
    std::int32_t most = 0;
    std::int32_t sum = 0;
    for (std::size_t c = 1; c <= cells; ++c) {
        const std::int32_t count = b.start[c];
        most = count > most ? count : most;
        sum += count;
        b.start[c] = sum;
    }
    return most;
}

// The fluid particles' cell-sorted copy (positions, IDs, slots) in list
// order, with 16 zeroed entries of slack for whole-vector reads.
void SortFluidByCell(TSPHStepData& s) {
    const std::size_t n = s.fluidAt.size();
    s.sortedX.resize(n + 16);
    s.sortedY.resize(n + 16);
    s.sortedId.resize(n + 16);
    s.sortedSlot.resize(n + 16);
    s.sortedPlace.resize(n);
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
        s.sortedPlace[i] = k;
    }
}

// Whether the boundary's cells, counts and cell-sorted copy from the last
// rebuild still stand.
bool BoundaryUnchanged(const std::vector<std::shared_ptr<TParticle>>& array, const TSPHStepData& s, std::size_t cells) {
    return s.boundaryStart.size() == cells + 1 && s.boundaryFlat.size() == array.size() && BoundaryMatches(array, s);
}

// Links the unchanged boundary particles into their recorded cells again.
void RelinkBoundary(TCellGrid& grid, const TSPHStepData& s) {
    for (std::size_t i = 0; i < s.boundaryAt.size(); ++i) {
        TParticle* p = s.boundaryAt[i];
        TParticle*& head = grid.Cell(static_cast<std::size_t>(s.boundaryFlat[i]));
        p->Succ = head;
        head = p;
    }
}

// The boundary particles' cell-sorted positions, and for every inner cell
// whether one of its nine cells holds boundary particles (the outer ring
// has no particles to ask).
void SortBoundaryByCell(TSPHStepData& s, std::size_t cells) {
    const std::size_t n = s.boundaryAt.size();
    s.sortedBX.resize(n);
    s.sortedBY.resize(n);
    s.cellScratch.assign(s.boundaryStart.begin(), s.boundaryStart.end() - 1);
    for (std::size_t i = n; i-- > 0;) {
        const std::int32_t k = s.cellScratch[s.boundaryCell[i]]++;
        s.sortedBX[k] = s.boundaryX[i];
        s.sortedBY[k] = s.boundaryY[i];
    }
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

}  // namespace

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

    // (The IDs are taken on the same sweep: every sweep over the particle
    // objects counts once they no longer fit the caches.)
    s.fluidId.resize(Particles.size());
    s.maxFluidPerCell = BinArray(Particles, FluidGrid, s.paddedHeight, cells,
                                 TBinning{s.fluidAt, s.fluidX, s.fluidY, s.fluidCell, s.fluidStart},
                                 [&s](std::size_t i, const TParticle& p, int, int) { s.fluidId[i] = p.ID; });
    SortFluidByCell(s);

    // While the boundary stands as it was, its cells, counts and cell-sorted
    // copy stand too, and only the lists are relinked.
    if (BoundaryUnchanged(BoundaryParticles, s, cells)) {
        RelinkBoundary(BoundaryGrid, s);
    } else {
        s.boundaryFlat.resize(BoundaryParticles.size());
        const int height = GridHeight;
        BinArray(BoundaryParticles, BoundaryGrid, s.paddedHeight, cells,
                 TBinning{s.boundaryAt, s.boundaryX, s.boundaryY, s.boundaryCell, s.boundaryStart},
                 [&s, height](std::size_t i, const TParticle&, int cx, int cy) {
                     s.boundaryFlat[i] = cx * height + cy;
                 });
        SortBoundaryByCell(s, cells);
    }
    s.rebuilt = true;
    s.pairsReusable = false;
}

void TSPH::Integrate() {
    const float keep = 1.0f - DAMPING;  // 0.99849999f
    // Each particle on its own: the sweep is shared when the step has two threads.
    ShareSweep(*step_, Particles.size(), [this, keep](int, std::size_t i0, std::size_t i1) {
        for (std::size_t i = i0; i < i1; ++i) {
            TParticle& p = *Particles[i];
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
            const double speedSq =
                static_cast<double>(p.VelocityX) * p.VelocityX + static_cast<double>(p.VelocityY) * p.VelocityY;
            if (speedSq > TSPHFormula::SPEED_CAP_SQ) {
                // Speed cap: redo the step from the saved position at speed 2.
                const double k = std::sqrt(TSPHFormula::SPEED_CAP_SQ / speedSq);
                p.VelocityX = static_cast<float>(p.VelocityX * k);
                p.VelocityY = static_cast<float>(p.VelocityY * k);
                p.PositionX = static_cast<float>(sx + static_cast<double>(p.VelocityX) * TIMESTEP);
                p.PositionY = static_cast<float>(sy + static_cast<double>(p.VelocityY) * TIMESTEP);
            }
            p.ScreenX = static_cast<float>(static_cast<double>(p.PositionX) * INV_UNIT_SCALE * WORLD_SCALE);
            p.ScreenY = static_cast<float>(static_cast<double>(p.PositionY) * INV_UNIT_SCALE * WORLD_SCALE);
        }
    });
}
