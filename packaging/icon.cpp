// Draws the desktop icon: a blue drop of liquid on a transparent ground, lit
// from the upper left, as an RGBA PNG of the given size. Each pixel averages
// 4 x 4 samples, so the outline is smooth at every size.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "image/pixmap.h"
#include "image/png.h"
#include "runtime/tool.h"
#include "stream/stream.h"

namespace {

const char* const kUsage = "usage: fluid-icon SIZE OUTPUT.png   (SIZE from 16 to 1024 pixels)\n";

// The drop in unit coordinates (x and y from -1 to 1, y down): a round body
// below and the point where its two tangents from the tip meet.
constexpr double kBodyY = 0.28, kBodyRadius = 0.62, kTipY = -0.92;

// True when (x, y) lies in the convex hull of the body and the tip.
bool InDrop(double x, double y) {
    const double dy = y - kBodyY;
    if (x * x + dy * dy <= kBodyRadius * kBodyRadius) return true;
    const double axis = kBodyY - kTipY;  // tip to body centre
    const double tangent = std::sqrt(axis * axis - kBodyRadius * kBodyRadius);
    const double along = y - kTipY, across = std::fabs(x);  // from the tip, down the axis
    if (along <= 0.0) return false;
    // Inside the two tangents and above the chord through their points of contact.
    return across * tangent <= along * kBodyRadius && along <= tangent * tangent / axis;
}

// The colour of a point inside the drop: deep blue below, lighter above, a
// soft highlight up and to the left. Channels from 0 to 1.
void DropColour(double x, double y, double rgb[3]) {
    const double depth = (y + 1.0) / 2.0;  // 0 at the top, 1 at the bottom
    const double hx = x + 0.22, hy = y - 0.05;
    const double highlight = std::exp(-(hx * hx + hy * hy) / 0.03);
    const double base[3] = {0.25 - 0.17 * depth, 0.62 - 0.30 * depth, 1.0 - 0.25 * depth};
    for (int c = 0; c < 3; ++c) rgb[c] = base[c] + (1.0 - base[c]) * 0.85 * highlight;
}

std::shared_ptr<TPixmap> DrawIcon(int32_t size) {
    constexpr int kSamples = 4;
    auto icon = TPixmap::Create(size, size, PIXFMT_RGBA32, 4);
    for (int32_t py = 0; py < size; ++py) {
        for (int32_t px = 0; px < size; ++px) {
            double sum[3] = {0, 0, 0};
            int covered = 0;
            for (int sy = 0; sy < kSamples; ++sy) {
                for (int sx = 0; sx < kSamples; ++sx) {
                    const double x = 2.0 * (px + (sx + 0.5) / kSamples) / size - 1.0;
                    const double y = 2.0 * (py + (sy + 0.5) / kSamples) / size - 1.0;
                    if (!InDrop(x, y)) continue;
                    double rgb[3];
                    DropColour(x, y, rgb);
                    for (int c = 0; c < 3; ++c) sum[c] += rgb[c];
                    ++covered;
                }
            }
            unsigned char* p = icon->PixelPtr(px, py);
            for (int c = 0; c < 3; ++c)
                p[c] = covered ? static_cast<unsigned char>(std::lround(255.0 * sum[c] / covered)) : 0;
            p[3] = static_cast<unsigned char>(std::lround(255.0 * covered / (kSamples * kSamples)));
        }
    }
    return icon;
}

int Generate(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) ExitWithUsageIfAsked(argv[i], kUsage);
    if (argc != 3) ExitWithUsage("needs a size and an output file", kUsage);
    const auto size = static_cast<int32_t>(OptionNumber("SIZE", argv[1], 16, 1024, kUsage));
    // The writer gives 0 for a file it cannot open and raises for bytes that
    // never arrive (a full disk).
    bool written = false;
    errno = 0;
    try {
        written = SavePNGPixmap(DrawIcon(size), argv[2], 9) != 0;
    } catch (const TStreamWriteException&) {
    }
    if (!written) {
        std::fprintf(stderr, "fluid-icon: cannot write %s: %s\n", argv[2], std::strerror(errno != 0 ? errno : EIO));
        return kToolFailed;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return RunTool("fluid-icon", [&] { return Generate(argc, argv); });
}
