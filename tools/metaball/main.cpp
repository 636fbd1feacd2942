// Writes the particle sprite: a 64 x 64 RGBA disc, brightest at its centre
// and falling smoothly to black with alpha 0 at its inscribed circle, tinted
// a cool blue-white. Additive sprites of it, sharpened by a power, merge
// into round liquid blobs.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "image/pixmap.h"
#include "image/png.h"
#include "runtime/startup.h"
#include "runtime/tool.h"

namespace {

int Generate(int argc, char** argv) {
    const std::vector<std::string> args = CommandLineArguments(argc, argv);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: metaball_gen <output.png>\n");
        return 2;
    }
    const int32_t size = 64;
    const double radius = size / 2.0;
    // Red, green, blue weights of the tint; blue is full.
    const double tint[3] = {0.75, 0.88, 1.0};

    auto sprite = TPixmap::Create(size, size, PIXFMT_RGBA32, 4);
    for (int32_t y = 0; y < size; ++y) {
        for (int32_t x = 0; x < size; ++x) {
            // Distance of the pixel centre from the image centre, 1 at the rim.
            double dx = (x + 0.5 - radius) / radius, dy = (y + 0.5 - radius) / radius;
            double t = 1.0 - (dx * dx + dy * dy);
            // (1 - d^2)^2: flat on top, zero with zero slope at the rim.
            double v = t > 0.0 ? t * t : 0.0;
            unsigned char* p = sprite->PixelPtr(x, y);
            for (int c = 0; c < 3; ++c) p[c] = static_cast<unsigned char>(std::lround(255.0 * v * tint[c]));
            p[3] = static_cast<unsigned char>(std::lround(255.0 * v));
        }
    }
    // The old file stays as it was unless the new one is written whole.
    const std::string why = SavePNGFile(sprite, args[1], 9);
    if (!why.empty()) {
        std::fprintf(stderr, "metaball_gen: cannot write %s: %s\n", args[1].c_str(), why.c_str());
        return kToolFailed;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return RunTool("metaball_gen", [&] { return Generate(argc, argv); });
}
