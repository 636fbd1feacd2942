// frame-compare: tells whether two PNG frames show the same pixels below a
// band of rows at the top (where the status line prints timings that differ
// from run to run). Prints the number of differing pixels; exit status 0 when
// there are none, 1 when there are, 2 for bad arguments or unreadable files.

#include "image/png.h"
#include "image/pixmap.h"
#include "runtime/tool.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const int kUsageError = 2;

int Compare(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: frame-compare FIRST.png SECOND.png SKIPPED_TOP_ROWS\n", stderr);
        return kUsageError;
    }
    char* end = nullptr;
    const long skipped = std::strtol(argv[3], &end, 10);
    if (!*argv[3] || *end || skipped < 0) {
        std::fprintf(stderr, "frame-compare: \"%s\" is not a number of rows\n", argv[3]);
        return kUsageError;
    }
    auto first = LoadPNGPixmap(TUrl(argv[1]));
    auto second = LoadPNGPixmap(TUrl(argv[2]));
    for (auto [pixmap, name] : {std::pair{first.get(), argv[1]}, std::pair{second.get(), argv[2]}}) {
        if (!pixmap) {
            std::fprintf(stderr, "frame-compare: cannot read %s as a PNG image\n", name);
            return kUsageError;
        }
    }
    if (first->width != second->width || first->height != second->height) {
        std::printf("sizes differ: %dx%d and %dx%d\n", first->width, first->height, second->width, second->height);
        return 1;
    }
    long differing = 0;
    for (int32_t y = static_cast<int32_t>(skipped); y < first->height; ++y)
        for (int32_t x = 0; x < first->width; ++x) differing += first->ReadPixel(x, y) != second->ReadPixel(x, y);
    std::printf("%ld differing pixels below row %ld\n", differing, skipped);
    return differing == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return RunTool(
        "frame-compare", [&] { return Compare(argc, argv); }, kUsageError);
}
