#pragma once
// The one record of the simulation, used for fluid and boundary particles.

#include <cstdint>
#include <memory>

// Number of live particles in the program and source of particle IDs.
extern std::int32_t ParticleCount;

// A fluid or boundary particle. Positions are world units, Screen* pixels.
class TParticle {
public:
    float ScreenX = 0.0f;         // x in screen pixels (PositionX * 2.5)
    float ScreenY = 0.0f;         // y in screen pixels
    float PositionX = 0.0f;       // x in world units
    float PositionY = 0.0f;       // y in world units, growing downwards
    float OldX = 0.0f;            // x at the previous step
    float OldY = 0.0f;            // y at the previous step
    float VelocityX = 0.0f;       // displacement of the last step / TIMESTEP
    float VelocityY = 0.0f;       // same for y
    float DeltaVelocityX = 0.0f;  // XSPH velocity correction
    float DeltaVelocityY = 0.0f;  // same for y
    float ForceX = 0.0f;          // acceleration accumulated by the force pass
    float ForceY = 0.0f;          // same for y
    float Density = 0.0f;         // SPH density
    float DeltaDensity = 0.0f;    // accumulator of the density pass
    float InvDensity = 0.0f;      // 1 / Density
    float InvDensitySq = 0.0f;    // InvDensity squared
    float Mass = 0.0f;            // Density * PARTICLE_AREA
    float Pressure = 0.0f;        // from the equation of state
    float SoundSpeed = 0.0f;      // local speed of sound
    // Next particle in the same grid cell; a link, not an owner (the world's
    // arrays own particles and keep removed ones alive until the next rebuild).
    TParticle* Succ = nullptr;
    std::int32_t ID = 0;  // creation number; orders pairs

    // A new particle at rest at world (x, y), taking the next ID.
    static std::shared_ptr<TParticle> Create(float x, float y);
};
