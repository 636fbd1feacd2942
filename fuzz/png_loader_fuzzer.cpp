// Feeds arbitrary bytes to the PNG loader through an in-memory stream.
// Properties checked besides the sanitizers' own: a direct load either
// yields a pixmap or raises a stream error; the loader chain never raises
// and agrees with the direct load; a decoded image saved and loaded again
// comes back byte for byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/loader.h"
#include "image/png.h"
#include "stream/ramstream.h"

namespace {

bool SamePixels(const TPixmap& a, const TPixmap& b) {
    if (a.width != b.width || a.height != b.height || a.format != b.format) return false;
    const size_t row = static_cast<size_t>(a.width) * FormatByteSize[a.format];
    for (int32_t y = 0; y < a.height; ++y)
        if (std::memcmp(a.PixelPtr(0, y), b.PixelPtr(0, y), row) != 0) return false;
    return true;
}

void Check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24)) return 0;
    auto stream = TRamStream::Create(data, static_cast<int32_t>(size), 1);

    std::shared_ptr<TPixmap> direct;
    try {
        direct = LoadPNGPixmap(stream);
    } catch (const TStreamReadException&) {
    }
    stream->Seek(0);
    std::shared_ptr<TPixmap> chained = LoadPixmapFrom(stream);
    Check(static_cast<bool>(direct) == static_cast<bool>(chained));
    if (!direct) return 0;
    Check(SamePixels(*direct, *chained));

    // Round trip through the writer for images of moderate size.
    const size_t raw = static_cast<size_t>(direct->pitch) * static_cast<size_t>(direct->height);
    if (raw > (1u << 20) || direct->width == 0 || direct->height == 0) return 0;
    std::vector<uint8_t> file(2 * raw + 4096);
    auto out = TRamStream::Create(file.data(), static_cast<int32_t>(file.size()), 0, 1);
    Check(SavePNGPixmap(direct, out, 1) == 1);
    auto back = LoadPNGPixmap(TRamStream::Create(file.data(), out->Pos(), 1));
    Check(back && SamePixels(*direct, *back));
    return 0;
}
