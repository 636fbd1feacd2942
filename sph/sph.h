#pragma once
// The fluid world: fluid and boundary particle sets, the uniform grids that
// find neighbours, and the passes of one simulation step.

#include <cstdint>
#include <memory>
#include <vector>

#include "sph/constants.h"
#include "sph/lane_set.h"
#include "sph/particle.h"

// A 2-D array of cell-list heads, indexed [column, row].
class TCellGrid {
public:
    // An empty grid of width x height cells.
    void Resize(int width, int height);
    // Head of cell (x, y); both must lie inside the grid.
    TParticle*& operator()(int x, int y) { return heads_[static_cast<std::size_t>(x) * height_ + y]; }
    // Head of the cell with flat index x * Height() + y.
    TParticle*& Cell(std::size_t index) { return heads_[index]; }
    TParticle* Cell(std::size_t index) const { return heads_[index]; }
    // Read-only access to the head of cell (x, y).
    TParticle* operator()(int x, int y) const { return heads_[static_cast<std::size_t>(x) * height_ + y]; }
    // Number of columns.
    int Width() const { return width_; }
    // Number of rows.
    int Height() const { return height_; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<TParticle*> heads_;
};

struct TSPHStepData;

// The fluid world. Coordinates handed to the add and remove operations are
// screen pixels; the world works in world units (pixels * 0.4).
class TSPH : public TSPHConstants {
public:
    // An empty world with its two grids (84 x 63 cells). ParticleTex stays 0:
    // the sprite texture is made and stored here by the graphics layer.
    TSPH();
    virtual ~TSPH();
    TSPH(const TSPH&) = delete;
    TSPH& operator=(const TSPH&) = delete;

    std::int32_t ParticleTex = 0;                               // GL texture name of the particle sprite
    std::int32_t NiceRender = 0;                                // render-mode flag, toggled by the main program
    std::int32_t GridWidth = 0;                                 // number of grid columns
    std::int32_t GridHeight = 0;                                // number of grid rows
    TCellGrid FluidGrid;                                        // heads of the cells' fluid particle lists
    TCellGrid BoundaryGrid;                                     // heads of the cells' boundary particle lists
    std::vector<std::shared_ptr<TParticle>> Particles;          // fluid, in order of addition
    std::vector<std::shared_ptr<TParticle>> BoundaryParticles;  // walls, in order of addition

    // Most threads a step uses: the caller's and one worker.
    static constexpr int MAX_STEP_THREADS = 2;

    // Threads of a step, 1 or MAX_STEP_THREADS (clamped); the second is used
    // only where the machine has two cores for this process (and a thread
    // can be started). A world starts with what the machine supports. The
    // worker thread is started here (or by the constructor) and reused by
    // every step; small worlds step on one thread all the same. The state
    // after a step is the same bits with one thread or two.
    void SetStepThreads(int threads);
    // Threads a step uses.
    int StepThreads() const;
    // The lane set of the step's pair kernels; a world starts with the
    // widest available (BestLaneSet). False, and no change, for a set this
    // build or processor does not have. The state after a step is the same
    // bits on every set.
    bool SetStepLanes(TLaneSet lanes);
    // The lane set a step uses.
    TLaneSet StepLanes() const;

    // One fixed time step: RedistributeGrid, UpdateDensity, CalcForces, Integrate.
    virtual void Update();
    // Rebuilds both grids from the particle arrays.
    virtual void RedistributeGrid();
    // Continuity update of the densities and the derived state.
    virtual void UpdateDensity();
    // Pressure, viscosity, boundary and wall forces, and the XSPH correction.
    virtual void CalcForces();
    // Moves the fluid particles by one damped Verlet step.
    virtual void Integrate();
    // Draws the world; the simulation itself draws nothing (the renderer
    // layer overrides this).
    virtual void Render();
    // Removes every particle whose screen position lies in the closed rectangle.
    virtual void FreeRect(float x1, float y1, float x2, float y2);
    // Appends a fluid particle at screen pixel (x, y).
    virtual void AddParticle(float x, float y);
    // Appends a boundary particle at screen pixel (x, y).
    virtual void AddBoundaryParticle(float x, float y);

private:
    friend TSPHStepData& StepDataOf(TSPH& world);
    // Removed particles stay alive while the grid may still link them; each
    // rebuild releases them.
    std::vector<std::shared_ptr<TParticle>> released_;
    // Per-step working set of the passes (see sph/step_data.h).
    std::unique_ptr<TSPHStepData> step_;
};
