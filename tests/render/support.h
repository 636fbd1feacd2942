#pragma once
// Helpers shared by the renderer suites: scenes and clicks as the main
// program makes them.

#include <algorithm>
#include <memory>

#include "app/scene.h"
#include "render/fluid_renderer.h"

// The initial scene in a world that renders, from the generator's first state.
inline std::shared_ptr<TRenderedSPH> InitialScene() {
    RandomState = 4660;
    auto world = std::make_shared<TRenderedSPH>();
    BuildScene(world);
    return world;
}

// A left (button 1: pour liquid) or right (button 2: place wall) click at
// pixel (mx, my), as the frame loop handles it.
inline void Click(TSPH& world, int button, int mx, int my) {
    const int clear = button == 1 ? 41 : 9;
    const int fill = button == 1 ? 40 : 10;
    world.FreeRect(static_cast<float>(mx - clear), static_cast<float>(my - clear), static_cast<float>(mx + clear),
                   static_cast<float>(my + clear));
    const float x1 = static_cast<float>(std::min(mx + fill, 800));
    const float y1 = static_cast<float>(std::min(my + fill, 600));
    for (float x = static_cast<float>(std::max(mx - fill, 0)); x <= x1; x += TSPH::PARTICLE_SPACING) {
        for (float y = static_cast<float>(std::max(my - fill, 0)); y <= y1; y += TSPH::PARTICLE_SPACING) {
            if (button == 1) {
                world.AddParticle(x, y);
            } else {
                world.AddBoundaryParticle(x, y);
            }
        }
    }
}
