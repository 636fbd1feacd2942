// Feeds arbitrary bytes to the PNG loader through an in-memory stream.
// Properties checked besides the sanitizers' own: a direct load either
// yields a pixmap or raises a stream error; the loader chain never raises
// and agrees with the direct load; a decoded image saved and loaded again
// comes back byte for byte.
//
// libpng itself carries no coverage instrumentation, and almost any blind
// mutation inside a chunk breaks its CRC, which libpng rejects at once. The
// custom mutator therefore repairs the signature (mostly) and every chunk's
// CRC after mutating, so that mutated data reaches the decoder proper.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/loader.h"
#include "image/png.h"
#include "stream/ramstream.h"

#include <zlib.h>

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

extern "C" size_t LLVMFuzzerMutate(uint8_t* data, size_t size, size_t maxSize);

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t* data, size_t size, size_t maxSize, unsigned seed) {
    size = LLVMFuzzerMutate(data, size, maxSize);
    static const uint8_t kSignature[8] = {137, 80, 78, 71, 13, 10, 26, 10};
    if (size >= 8 && seed % 16 != 0) std::memcpy(data, kSignature, 8);
    // Leave one input in eight with whatever checksums the mutation made.
    if (seed % 8 == 1) return size;
    size_t at = 8;
    while (at + 12 <= size) {
        uint32_t length =
            (uint32_t{data[at]} << 24) | (uint32_t{data[at + 1]} << 16) | (uint32_t{data[at + 2]} << 8) | data[at + 3];
        if (length > size - at - 12) break;
        uLong crc = crc32(0, data + at + 4, static_cast<uInt>(length + 4));
        uint8_t* out = data + at + 8 + length;
        for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
        at += 12 + length;
    }
    return size;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 24)) return 0;
    // Headers that claim more than a million pixels make libpng allocate
    // rows for all of them before the (short) data runs out; under the
    // address sanitizer's allocator that memory piles up across runs until
    // the RSS limit trips. The size guard for such images has its own tests.
    if (size >= 24 && std::memcmp(data + 12, "IHDR", 4) == 0) {
        auto be32 = [&](size_t at) {
            return (uint64_t{data[at]} << 24) | (uint64_t{data[at + 1]} << 16) | (uint64_t{data[at + 2]} << 8) |
                   data[at + 3];
        };
        if (be32(16) * be32(20) > (uint64_t{1} << 20)) return 0;
    }
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
