#pragma once
// The class constants of the fluid world. Every value is the single-precision
// number written out in decimal; derived ones were computed in single
// precision from their single-precision inputs.

// Shared by the particle record and the world, so that particles can be
// created without pulling in the world.
struct TSPHConstants {
    // Verlet damping: the previous displacement is kept with factor 1 - DAMPING.
    static constexpr float DAMPING = 0.00150000001f;
    // Factor in the speed of sound.
    static constexpr float HEAT_RATIO = 1.00000000f;
    // Linear coefficient of the artificial viscosity (applied as -V_ALPHA).
    static constexpr float V_ALPHA = 5.00000000f;
    // Quadratic coefficient of the artificial viscosity.
    static constexpr float V_BETA = 10.0000000f;
    // Fixed time step of one Update.
    static constexpr float TIMESTEP = 0.400000006f;
    // TIMESTEP * TIMESTEP in single precision.
    static constexpr float TIMESTEP_SQ = 0.160000011f;
    // 1 / TIMESTEP.
    static constexpr float INV_TIMESTEP = 2.50000000f;
    // Screen to world, together with INV_WORLD_SCALE.
    static constexpr float UNIT_SCALE = 0.0700000003f;
    // World to screen, together with WORLD_SCALE.
    static constexpr float INV_UNIT_SCALE = 14.2857141f;
    // World to screen: pixels = world * INV_UNIT_SCALE * WORLD_SCALE (= 2.5).
    static constexpr float WORLD_SCALE = 0.174999997f;
    // Screen to world: world = pixels * UNIT_SCALE * INV_WORLD_SCALE (= 0.4).
    static constexpr float INV_WORLD_SCALE = 5.71428585f;
    // Container width in world units.
    static constexpr float CONTAINER_WIDTH = 320.000000f;
    // Container height in world units.
    static constexpr float CONTAINER_HEIGHT = 240.000000f;
    // Range of the container-wall force.
    static constexpr float REPULSIVE_DISTANCE = 2.09999990f;
    // 1 / REPULSIVE_DISTANCE.
    static constexpr float INV_REPULSIVE_DISTANCE = 0.476190507f;
    // REPULSIVE_DISTANCE squared: range and scale of the boundary-particle force.
    static constexpr float REPULSIVE_DIST_SQ = 4.40999937f;
    // Strength of the boundary-particle force.
    static constexpr float REPULSIVE_D = 0.500000000f;
    // Kernel radius h, also the width of a grid cell.
    static constexpr float SMOOTHING_LENGTH = 3.84999990f;
    // h squared.
    static constexpr float SMOOTHING_LENGTH_SQ = 14.8224993f;
    // 1 / h: world coordinate to grid cell.
    static constexpr float INV_SMOOTHING_LENGTH = 0.259740263f;
    // Poly6 normalisation 315 / (64 pi h^9).
    static constexpr float D_KERNEL_FACTOR = 8.43012913e-006f;
    // Spiky gradient factor -45 / (pi h^6).
    static constexpr float P_KERNEL_FACTOR = -0.00439843675f;
    // Poly6 gradient factor -945 / (32 pi h^9).
    static constexpr float D_KERNEL_FACTOR_GRADIENT = -5.05807766e-005f;
    // Area of one particle: mass = density * area.
    static constexpr float PARTICLE_AREA = 4.19096279f;
    // XSPH blending factor.
    static constexpr float XSPH_EPSILON = 0.500000000f;
    // Gravity, x.
    static constexpr float GRAVITY_X = 0.000000000f;
    // Gravity, y (down the screen).
    static constexpr float GRAVITY_Y = 0.0489999987f;
    // Rest density of the liquid.
    static constexpr float REST_DENSITY = 0.349999994f;
    // 1 / REST_DENSITY.
    static constexpr float INV_REST_DENSITY = 2.85714293f;
    // Pressure constant of the equation of state.
    static constexpr float P_B = 5.03999996f;
    // Sampling step of the smooth rendering, in pixels.
    static constexpr float SAMPLE_RATE = 3.00000000f;
    // Brightness limit of the smooth rendering.
    static constexpr float MAX_WHITE = 0.800000012f;
    // Screen-pixel distance between placed fluid particles.
    static constexpr float PARTICLE_SPACING = 5.25000000f;
    // Screen-pixel distance between placed boundary particles.
    static constexpr float BOUNDARY_SPACING = 5.25000000f;
};

// The fixed numbers of the passes' formulas, which are not class constants
// of the world, named once for every implementation of the passes.
struct TSPHFormula {
    // Lower bound of the fluid pair window: pairs with r^2 <= this are skipped.
    static constexpr float PAIR_WINDOW_MIN_SQ = 0.1f;
    // Density guard: a density below LOW or above HIGH (or NaN) is replaced
    // by RESET (0.38499999 in single precision); the bounds themselves pass.
    static constexpr float DENSITY_GUARD_LOW = 0.3f;
    static constexpr float DENSITY_GUARD_HIGH = 0.4f;
    static constexpr float DENSITY_RESET = 0.385f;
    // Exponent of the equation of state.
    static constexpr double STATE_EXPONENT = 7.0;
    // Added to r^2 in the viscosity denominator.
    static constexpr double VISCOSITY_R2_OFFSET = 20.0;
    // Squared speed limit of the integration step (speed 2 world units per
    // time unit).
    static constexpr double SPEED_CAP_SQ = 4.0;
    // The nine cells around a particle's home cell, (column, row) offsets in
    // the fixed visiting order that orders every sum.
    static constexpr int NEIGHBOUR_OFFSETS[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0},
                                                    {1, 0},   {0, -1}, {0, 1},  {0, 0}};
};
