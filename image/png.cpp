#include "image/png.h"

#include <png.h>

#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "runtime/errors.h"
#include "stream/replacing_file.h"

// libpng reports errors by longjmp. Every function below that contains a
// setjmp, and every callback libpng calls, keeps only trivially destructible
// locals in its frame, so a longjmp never skips a C++ destructor. Exceptions
// from streams are caught inside the callbacks, parked in TPngIo and raised
// again once libpng has been left and its structures freed.

namespace {

// Largest decoded image, and largest side, a load accepts.
constexpr int64_t kMaxImageBytes = int64_t{64} << 20;
constexpr png_uint_32 kMaxSide = 16384;
// What libpng may hold at once during one load: its decoded rows plus room
// for the row table, zlib and ancillary chunks.
constexpr size_t kLibpngBudget = static_cast<size_t>(kMaxImageBytes) + (size_t{16} << 20);
// Each block libpng gets carries its size in front, keeping 16-byte alignment.
constexpr size_t kHeader = 16;

// State shared by one load or save with libpng's callbacks. It lives in
// the caller's frame, above every recovery point.
struct TPngIo {
    TStream* stream = nullptr;
    std::exception_ptr error;  // what a callback caught
    size_t allocated = 0;      // bytes libpng holds now
};

TPngIo* IoOf(png_structp png) { return static_cast<TPngIo*>(png_get_io_ptr(png)); }

png_voidp BudgetMalloc(png_structp png, png_alloc_size_t size) {
    auto* io = static_cast<TPngIo*>(png_get_mem_ptr(png));
    if (size > kLibpngBudget - io->allocated) return nullptr;  // libpng reports "Out of memory"
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!block) return nullptr;
    std::memcpy(block, &size, sizeof size);
    io->allocated += size;
    return block + kHeader;
}

void BudgetFree(png_structp png, png_voidp p) {
    if (!p) return;
    auto* io = static_cast<TPngIo*>(png_get_mem_ptr(png));
    unsigned char* block = static_cast<unsigned char*>(p) - kHeader;
    png_alloc_size_t size;
    std::memcpy(&size, block, sizeof size);
    io->allocated -= size;
    std::free(block);
}

// Errors end the operation silently: the caller sees null (or the stream's
// exception); warnings about ancillary data are of no interest.
[[noreturn]] void SilentError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void SilentWarning(png_structp, png_const_charp) {}

bool ReadInto(TPngIo* io, png_bytep data, size_t length) noexcept {
    try {
        if (length > static_cast<size_t>(INT32_MAX)) throw TStreamReadException();
        io->stream->ReadBytes(data, static_cast<int32_t>(length));
        return true;
    } catch (...) {
        io->error = std::current_exception();
        return false;
    }
}

bool WriteFrom(TPngIo* io, png_bytep data, size_t length) noexcept {
    try {
        if (length > static_cast<size_t>(INT32_MAX)) throw TStreamWriteException();
        io->stream->WriteBytes(data, static_cast<int32_t>(length));
        return true;
    } catch (...) {
        io->error = std::current_exception();
        return false;
    }
}

bool FlushStream(TPngIo* io) noexcept {
    try {
        io->stream->Flush();
        return true;
    } catch (...) {
        io->error = std::current_exception();
        return false;
    }
}

void ReadCallback(png_structp png, png_bytep data, size_t length) {
    if (!ReadInto(IoOf(png), data, length)) png_error(png, "stream read failed");
}

void WriteCallback(png_structp png, png_bytep data, size_t length) {
    if (!WriteFrom(IoOf(png), data, length)) png_error(png, "stream write failed");
}

void FlushCallback(png_structp png) {
    if (!FlushStream(IoOf(png))) png_error(png, "stream flush failed");
}

// Decodes the rest of the data into libpng's rows. False when libpng gave up.
bool ReadImage(png_structp png, png_infop info) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_sig_bytes(png, 8);
    png_set_user_limits(png, kMaxSide, kMaxSide);
    png_read_png(png, info, PNG_TRANSFORM_STRIP_16 | PNG_TRANSFORM_EXPAND, nullptr);
    return true;
}

// Encodes rows as one image. False when libpng refused.
bool WriteImage(png_structp png, png_infop info, png_uint_32 width, png_uint_32 height, int colourType, int level,
                png_bytepp rows, int transforms) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_compression_level(png, level);
    png_set_IHDR(png, info, width, height, 8, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows);
    png_write_png(png, info, transforms, nullptr);
    return true;
}

// Frees the read structures however the load ends.
struct TReadStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~TReadStructs() {
        if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

struct TWriteStructs {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~TWriteStructs() {
        if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

// Closes the stream however the operation ends.
struct TCloseOnExit {
    TStream& stream;
    ~TCloseOnExit() { stream.Close(); }
};

// Drops what a save wrote unless it completed: a file that replaces its
// target then leaves the target as it was.
struct TDiscardUnlessDone {
    TStream& stream;
    bool done = false;
    ~TDiscardUnlessDone() {
        if (!done) stream.Discard();
    }
};

// The pixmap for libpng's decoded rows; null for a layout it cannot hold.
std::shared_ptr<TPixmap> PixmapFromRows(png_structp png, png_infop info) {
    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0, compression = 0, filter = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, &compression, &filter);
    if (depth != 8) return nullptr;
    int32_t format = 0, channels = 0;
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
        format = PIXFMT_GREY8;
        channels = 1;
        break;
    case PNG_COLOR_TYPE_RGB:
        format = PIXFMT_RGB24;
        channels = 3;
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        format = PIXFMT_RGBA32;
        channels = 4;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        format = PIXFMT_RGBA32;
        channels = 2;
        break;
    default: return nullptr;
    }
    if (width > kMaxSide || height > kMaxSide || int64_t{width} * height * FormatByteSize[format] > kMaxImageBytes)
        return nullptr;
    png_bytepp rows = png_get_rows(png, info);
    if (!rows || png_get_rowbytes(png, info) < size_t{width} * static_cast<size_t>(channels)) return nullptr;

    auto pixmap = TPixmap::Create(static_cast<int32_t>(width), static_cast<int32_t>(height), format, 4);
    for (png_uint_32 y = 0; y < height; ++y) {
        unsigned char* out = pixmap->PixelPtr(0, static_cast<int32_t>(y));
        const png_bytep in = rows[y];
        if (channels != 2) {
            std::memcpy(out, in, size_t{width} * static_cast<size_t>(channels));
            continue;
        }
        for (png_uint_32 x = 0; x < width; ++x) {
            out[4 * x] = out[4 * x + 1] = out[4 * x + 2] = in[2 * x];
            out[4 * x + 3] = in[2 * x + 1];
        }
    }
    return pixmap;
}

}  // namespace

std::shared_ptr<TPixmap> LoadPNGPixmap(const TUrl& url) {
    std::shared_ptr<TStream> stream = OpenUrlStream(url, 1, 0);
    if (!stream) return nullptr;
    TCloseOnExit closer{*stream};

    unsigned char signature[8];
    stream->ReadBytes(signature, 8);
    if (png_sig_cmp(signature, 0, 8) != 0) return nullptr;

    TPngIo io;
    io.stream = stream.get();
    TReadStructs s;
    s.png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning, &io, BudgetMalloc,
                                     BudgetFree);
    if (!s.png) return nullptr;
    s.info = png_create_info_struct(s.png);
    if (!s.info) return nullptr;
    png_set_read_fn(s.png, &io, ReadCallback);

    std::shared_ptr<TPixmap> pixmap;
    if (ReadImage(s.png, s.info)) pixmap = PixmapFromRows(s.png, s.info);
    if (io.error) std::rethrow_exception(io.error);
    return pixmap;
}

int32_t SavePNGPixmap(const std::shared_ptr<TPixmap>& pixmap, const TUrl& url, int32_t compression) {
    if (!pixmap) throw TNullObjectError();
    const int level = compression < 0 ? 0 : compression > 9 ? 9 : compression;

    std::shared_ptr<TPixmap> image = pixmap;
    int colourType = PNG_COLOR_TYPE_RGB_ALPHA;
    int transforms = PNG_TRANSFORM_IDENTITY;
    switch (pixmap->format) {
    case PIXFMT_GREY8: colourType = PNG_COLOR_TYPE_GRAY; break;
    case PIXFMT_RGB24: colourType = PNG_COLOR_TYPE_RGB; break;
    case PIXFMT_RGBA32: break;
    case PIXFMT_BGR24:
        colourType = PNG_COLOR_TYPE_RGB;
        transforms = PNG_TRANSFORM_BGR;
        break;
    case PIXFMT_BGRA32: transforms = PNG_TRANSFORM_BGR; break;
    default: image = pixmap->Convert(PIXFMT_RGBA32); break;
    }
    std::vector<png_bytep> rows(static_cast<size_t>(image->height > 0 ? image->height : 0));
    for (int32_t y = 0; y < image->height; ++y) rows[static_cast<size_t>(y)] = image->PixelPtr(0, y);

    std::shared_ptr<TStream> stream = OpenUrlStream(url, 0, 1);
    if (!stream) return 0;
    TDiscardUnlessDone guard{*stream};

    TPngIo io;
    io.stream = stream.get();
    TWriteStructs s;
    s.png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, nullptr, SilentError, SilentWarning, &io, BudgetMalloc,
                                      BudgetFree);
    if (!s.png) return 0;
    s.info = png_create_info_struct(s.png);
    if (!s.info) return 0;
    png_set_write_fn(s.png, &io, WriteCallback, FlushCallback);

    bool written =
        WriteImage(s.png, s.info, static_cast<png_uint_32>(image->width), static_cast<png_uint_32>(image->height),
                   colourType, level, rows.empty() ? nullptr : rows.data(), transforms);
    if (io.error) std::rethrow_exception(io.error);
    if (!written) return 0;
    // Bytes a file stream only buffered may still fail to arrive, and a file
    // is in place only once closed.
    if (stream->Flush() != 0) throw TStreamWriteException();
    guard.done = true;
    if (stream->Close() != 0) throw TStreamWriteException();
    return 1;
}

std::string SavePNGFile(const std::shared_ptr<TPixmap>& pixmap, const std::string& path, int32_t compression) {
    return WriteWholeFile(path, [&](const std::shared_ptr<TStream>& file) {
        if (!SavePNGPixmap(pixmap, TUrl(file), compression)) throw TRuntimeError("the PNG writer refused the image");
    });
}

std::shared_ptr<TPixmap> TPixmapLoaderPNG::LoadPixmap(const std::shared_ptr<TStream>& stream) {
    return LoadPNGPixmap(stream);
}
