#include "sph/particle.h"

#include "sph/constants.h"

std::int32_t ParticleCount = 0;

std::shared_ptr<TParticle> TParticle::Create(float x, float y) {
    using C = TSPHConstants;
    auto p = std::make_shared<TParticle>();
    p->PositionX = x;
    p->PositionY = y;
    p->OldX = x;
    p->OldY = y;
    // One rounding: the scale product stays in double.
    p->ScreenX = static_cast<float>(static_cast<double>(x) * C::INV_UNIT_SCALE * C::WORLD_SCALE);
    p->ScreenY = static_cast<float>(static_cast<double>(y) * C::INV_UNIT_SCALE * C::WORLD_SCALE);
    p->Density = C::REST_DENSITY;
    p->Mass = 1.46683693f;  // REST_DENSITY * PARTICLE_AREA in single precision
    p->ID = ParticleCount;
    ParticleCount = ParticleCount + 1;
    return p;
}
