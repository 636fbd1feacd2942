// Writes a seed corpus for the PNG loader fuzzer: one small PNG of every
// colour type and bit depth, palettes with and without transparency,
// interlaced ones, and a sprite saved by the project's own writer.
#include <cstdio>
#include <string>

#include "image/pixmap.h"
#include "image/png.h"
#include "png_fixtures.h"
#include "stream/replacing_file.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <directory>\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    for (const auto& [name, contents] : PngVariety()) {
        const auto& bytes = contents;  // a structured binding cannot be captured before C++20
        const std::string why = WriteWholeFile(dir + "/" + name, [&](const std::shared_ptr<TStream>& out) {
            out->WriteBytes(bytes.data(), static_cast<int32_t>(bytes.size()));
        });
        if (!why.empty()) {
            std::fprintf(stderr, "cannot write %s/%s: %s\n", dir.c_str(), name.c_str(), why.c_str());
            return 1;
        }
    }
    auto sprite = TPixmap::Create(8, 8, PIXFMT_BGRA32, 4);
    for (int32_t y = 0; y < 8; ++y)
        for (int32_t x = 0; x < 8; ++x) sprite->WritePixel(x, y, 0x11223344u * static_cast<uint32_t>(x ^ y));
    const std::string why = SavePNGFile(sprite, dir + "/saved_bgra.png", 6);
    if (why.empty()) return 0;
    std::fprintf(stderr, "cannot write %s/saved_bgra.png: %s\n", dir.c_str(), why.c_str());
    return 1;
}
