#pragma once
// A plain, literal fluid world for cross-checking the optimised one: every
// pass walks the grid's cell lists particle by particle, exactly as the
// simulation is described, with no caching of any kind.

#include <cstdint>
#include <memory>
#include <vector>

#include "sph/sph.h"

class ReferenceWorld {
public:
    ReferenceWorld();
    // A deep copy of every particle of the world (IDs included).
    explicit ReferenceWorld(const TSPH& world);

    std::vector<std::shared_ptr<TParticle>> Particles;
    std::vector<std::shared_ptr<TParticle>> BoundaryParticles;

    void Update();
    void RedistributeGrid();
    void UpdateDensity();
    void CalcForces();
    void Integrate();
    // Removes like TSPH::FreeRect and returns how many went (ParticleCount
    // is left alone: the world under test counts).
    int FreeRect(float x1, float y1, float x2, float y2);
    // Appends a copy of a particle made by the world under test.
    void AppendFluidCopy(const TParticle& p);
    void AppendBoundaryCopy(const TParticle& p);

private:
    int width_ = 84;
    int height_ = 63;
    std::vector<TParticle*> fluidGrid_;
    std::vector<TParticle*> boundaryGrid_;
    std::vector<std::shared_ptr<TParticle>> released_;
};

// FNV-1a over the bit patterns of every field of every particle, fluid then
// boundary, with Succ as the ID of the next particle (or -1).
std::uint64_t StateHash(const std::vector<std::shared_ptr<TParticle>>& fluid,
                        const std::vector<std::shared_ptr<TParticle>>& boundary);

// Index of the first field that differs between two particles, or -1.
int FirstDifferentField(const TParticle& a, const TParticle& b);
