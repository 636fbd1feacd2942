#include "image/pixmap.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "runtime/errors.h"

const int32_t FormatByteSize[13] = {0, 1, 1, 3, 3, 4, 4, 1, 1, 1, 1, 1, 1};

namespace {

constexpr std::align_val_t kPixelAlign{16};

bool ValidFormat(int32_t format) { return format >= 1 && format <= 12; }

TPixmap& Deref(const std::shared_ptr<TPixmap>& p) {
    if (!p) throw TNullObjectError();
    return *p;
}

// Expands n pixels of format src into red, green, blue, alpha bytes. The
// format is dispatched once; each loop walks fixed strides.
void Expand(const unsigned char* s, int32_t format, unsigned char* d, int32_t n) {
    auto fill = [&](auto pixel) {
        for (int32_t i = 0; i < n; ++i, d += 4) pixel(i);
    };
    switch (format) {
    case PIXFMT_GREY8:
        fill([&](int32_t i) {
            d[0] = d[1] = d[2] = s[i];
            d[3] = 255;
        });
        break;
    case PIXFMT_ALPHA8:
        fill([&](int32_t i) {
            d[0] = d[1] = d[2] = 255;
            d[3] = s[i];
        });
        break;
    case PIXFMT_BGR24:
        fill([&](int32_t i) {
            d[0] = s[3 * i + 2];
            d[1] = s[3 * i + 1];
            d[2] = s[3 * i];
            d[3] = 255;
        });
        break;
    case PIXFMT_RGB24:
        fill([&](int32_t i) {
            d[0] = s[3 * i];
            d[1] = s[3 * i + 1];
            d[2] = s[3 * i + 2];
            d[3] = 255;
        });
        break;
    case PIXFMT_BGRA32:
        fill([&](int32_t i) {
            d[0] = s[4 * i + 2];
            d[1] = s[4 * i + 1];
            d[2] = s[4 * i];
            d[3] = s[4 * i + 3];
        });
        break;
    case PIXFMT_RGBA32: std::memmove(d, s, static_cast<size_t>(n) * 4); break;
    // Formats without alpha of their own expand opaque.
    case PIXFMT_RED8:
        fill([&](int32_t i) {
            d[0] = s[i];
            d[1] = d[2] = 0;
            d[3] = 255;
        });
        break;
    case PIXFMT_GREEN8:
        fill([&](int32_t i) {
            d[1] = s[i];
            d[0] = d[2] = 0;
            d[3] = 255;
        });
        break;
    case PIXFMT_BLUE8:
        fill([&](int32_t i) {
            d[2] = s[i];
            d[0] = d[1] = 0;
            d[3] = 255;
        });
        break;
    case PIXFMT_BLACK_ALPHA8:
        fill([&](int32_t i) {
            d[0] = d[1] = d[2] = 0;
            d[3] = s[i];
        });
        break;
    case PIXFMT_INTENSITY8: fill([&](int32_t i) { d[0] = d[1] = d[2] = d[3] = s[i]; }); break;
    case PIXFMT_LUMINANCE8:
        fill([&](int32_t i) {
            d[0] = d[1] = d[2] = s[i];
            d[3] = 255;
        });
        break;
    default: std::memset(d, 0, static_cast<size_t>(n) * 4); break;
    }
}

// Packs n red, green, blue, alpha pixels into format dst.
void Pack(const unsigned char* s, unsigned char* d, int32_t format, int32_t n) {
    auto each = [&](auto pixel) {
        for (int32_t i = 0; i < n; ++i, s += 4) pixel(i);
    };
    switch (format) {
    case PIXFMT_GREY8:
    case PIXFMT_LUMINANCE8:
        each([&](int32_t i) { d[i] = static_cast<unsigned char>((s[0] + s[1] + s[2]) / 3); });
        break;
    case PIXFMT_ALPHA8:
    case PIXFMT_BLACK_ALPHA8: each([&](int32_t i) { d[i] = s[3]; }); break;
    case PIXFMT_BGR24:
        each([&](int32_t i) {
            d[3 * i] = s[2];
            d[3 * i + 1] = s[1];
            d[3 * i + 2] = s[0];
        });
        break;
    case PIXFMT_RGB24:
        each([&](int32_t i) {
            d[3 * i] = s[0];
            d[3 * i + 1] = s[1];
            d[3 * i + 2] = s[2];
        });
        break;
    case PIXFMT_BGRA32:
        each([&](int32_t i) {
            d[4 * i] = s[2];
            d[4 * i + 1] = s[1];
            d[4 * i + 2] = s[0];
            d[4 * i + 3] = s[3];
        });
        break;
    case PIXFMT_RGBA32: std::memmove(d, s, static_cast<size_t>(n) * 4); break;
    case PIXFMT_RED8: each([&](int32_t i) { d[i] = s[0]; }); break;
    case PIXFMT_GREEN8: each([&](int32_t i) { d[i] = s[1]; }); break;
    case PIXFMT_BLUE8: each([&](int32_t i) { d[i] = s[2]; }); break;
    case PIXFMT_INTENSITY8:
        each([&](int32_t i) { d[i] = static_cast<unsigned char>((s[0] + s[1] + s[2] + s[3]) / 4); });
        break;
    default: break;
    }
}

}  // namespace

TPixmap::~TPixmap() {
    if (capacity >= 0 && pixels) ::operator delete[](pixels, kPixelAlign);
}

std::shared_ptr<TPixmap> TPixmap::Create(int32_t width, int32_t height, int32_t format, int32_t align) {
    if (width < 0 || height < 0 || align < 1 || !ValidFormat(format))
        throw TRuntimeError("Invalid pixmap dimensions or format");
    int64_t rowBytes = int64_t{width} * FormatByteSize[format];
    int64_t pitch = (rowBytes + align - 1) / align * align;
    int64_t bytes = pitch * height;
    if (pitch > std::numeric_limits<int32_t>::max() || bytes > std::numeric_limits<int32_t>::max())
        throw TRuntimeError("Pixmap too large");
    auto p = std::make_shared<TPixmap>();
    p->pixels = static_cast<unsigned char*>(::operator new[](static_cast<size_t>(bytes), kPixelAlign));
    p->width = width;
    p->height = height;
    p->pitch = static_cast<int32_t>(pitch);
    p->format = format;
    p->capacity = static_cast<int32_t>(bytes);
    return p;
}

std::shared_ptr<TPixmap> TPixmap::CreateStatic(void* pixels, int32_t width, int32_t height, int32_t pitch,
                                               int32_t format) {
    if (width < 0 || height < 0 || !ValidFormat(format)) throw TRuntimeError("Invalid pixmap dimensions or format");
    auto p = std::make_shared<TPixmap>();
    p->pixels = static_cast<unsigned char*>(pixels);
    p->width = width;
    p->height = height;
    p->pitch = pitch;
    p->format = format;
    p->capacity = -1;
    return p;
}

unsigned char* TPixmap::PixelPtr(int32_t x, int32_t y) const {
    return pixels + ptrdiff_t{y} * pitch + ptrdiff_t{x} * FormatByteSize[format];
}

std::shared_ptr<TPixmap> TPixmap::Window(int32_t x, int32_t y, int32_t w, int32_t h) {
    auto win = CreateStatic(PixelPtr(x, y), w, h, pitch, format);
    win->_source = shared_from_this();
    return win;
}

std::shared_ptr<TPixmap> TPixmap::Copy() const {
    auto copy = Create(width, height, format, 4);
    size_t rowBytes = static_cast<size_t>(width) * FormatByteSize[format];
    for (int32_t y = 0; y < height; ++y) std::memcpy(copy->PixelPtr(0, y), PixelPtr(0, y), rowBytes);
    return copy;
}

void TPixmap::Paste(const TPixmap& source, int32_t x, int32_t y) {
    for (int32_t r = 0; r < source.height; ++r)
        ConvertPixelRun(source.PixelPtr(0, r), source.format, PixelPtr(x, y + r), format, source.width);
}

std::shared_ptr<TPixmap> TPixmap::Convert(int32_t to) const {
    auto out = Create(width, height, to, 4);
    for (int32_t y = 0; y < height; ++y) ConvertPixelRun(PixelPtr(0, y), format, out->PixelPtr(0, y), to, width);
    return out;
}

uint32_t TPixmap::ReadPixel(int32_t x, int32_t y) const {
    const unsigned char* p = PixelPtr(x, y);
    auto argb = [](uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a << 24) | (r << 16) | (g << 8) | b; };
    switch (format) {
    case PIXFMT_GREY8: return 0xFF000000u + p[0] * 0x10101u;
    case PIXFMT_ALPHA8: return (uint32_t{p[0]} << 24) | 0xFFFFFFu;
    case PIXFMT_BGR24: return argb(255, p[2], p[1], p[0]);
    case PIXFMT_RGB24: return argb(255, p[0], p[1], p[2]);
    case PIXFMT_BGRA32: return argb(p[3], p[2], p[1], p[0]);
    case PIXFMT_RGBA32: return argb(p[3], p[0], p[1], p[2]);
    default: return 0;
    }
}

int32_t TPixmap::WritePixel(int32_t x, int32_t y, uint32_t argb) {
    if (format < PIXFMT_GREY8 || format > PIXFMT_RGBA32) return 0;
    unsigned char rgba[4] = {static_cast<unsigned char>(argb >> 16), static_cast<unsigned char>(argb >> 8),
                             static_cast<unsigned char>(argb), static_cast<unsigned char>(argb >> 24)};
    Pack(rgba, PixelPtr(x, y), format, 1);
    return 0;
}

int32_t TPixmap::ClearPixels(uint32_t argb) {
    const size_t rowBytes = static_cast<size_t>(width) * FormatByteSize[format];
    if (argb == 0) {
        if (static_cast<size_t>(pitch) == rowBytes) {
            std::memset(pixels, 0, rowBytes * static_cast<size_t>(height));
        } else {
            for (int32_t y = 0; y < height; ++y) std::memset(PixelPtr(0, y), 0, rowBytes);
        }
        return 0;
    }
    if (format < PIXFMT_GREY8 || format > PIXFMT_RGBA32) return 0;
    unsigned char one[4];
    unsigned char rgba[4] = {static_cast<unsigned char>(argb >> 16), static_cast<unsigned char>(argb >> 8),
                             static_cast<unsigned char>(argb), static_cast<unsigned char>(argb >> 24)};
    Pack(rgba, one, format, 1);
    const int32_t bpp = FormatByteSize[format];
    for (int32_t y = 0; y < height; ++y) {
        unsigned char* row = PixelPtr(0, y);
        for (int32_t x = 0; x < width; ++x) std::memcpy(row + x * bpp, one, static_cast<size_t>(bpp));
    }
    return 0;
}

void ConvertPixelRun(const void* src, int32_t srcFormat, void* dst, int32_t dstFormat, int32_t count) {
    if (count <= 0 || !ValidFormat(srcFormat) || !ValidFormat(dstFormat)) return;
    auto* s = static_cast<const unsigned char*>(src);
    auto* d = static_cast<unsigned char*>(dst);
    if (srcFormat == dstFormat) {
        std::memmove(d, s, static_cast<size_t>(count) * FormatByteSize[srcFormat]);
    } else if (srcFormat == PIXFMT_RGBA32) {
        Pack(s, d, dstFormat, count);
    } else if (dstFormat == PIXFMT_RGBA32) {
        Expand(s, srcFormat, d, count);
    } else {
        // Through the hub, a bounded piece at a time.
        constexpr int32_t kPiece = 256;
        unsigned char hub[kPiece * 4];
        const int32_t sb = FormatByteSize[srcFormat], db = FormatByteSize[dstFormat];
        for (int32_t done = 0; done < count; done += kPiece) {
            int32_t n = count - done < kPiece ? count - done : kPiece;
            Expand(s + ptrdiff_t{done} * sb, srcFormat, hub, n);
            Pack(hub, d + ptrdiff_t{done} * db, dstFormat, n);
        }
    }
}

namespace {
// One axis of the bilinear filter: the first sample, its weight and whether
// a second sample follows.
struct TSpan {
    int32_t first;
    float weight;
    bool second;
};

TSpan SpanFor(int32_t i, float scale, int32_t srcSize) {
    float s = (static_cast<float>(i) + 0.5f) * scale - 0.5f;
    float f = std::floor(s);
    if (f < 0.0f) return {0, 0.0f, false};
    if (f >= static_cast<float>(srcSize - 1)) return {srcSize - 1, 0.0f, false};
    return {static_cast<int32_t>(f), s - f, true};
}
}  // namespace

std::shared_ptr<TPixmap> ResamplePixmap(const std::shared_ptr<TPixmap>& pixmap, int32_t width, int32_t height) {
    TPixmap& in = Deref(pixmap);
    std::shared_ptr<TPixmap> src = in.format == PIXFMT_RGBA32 ? pixmap : in.Convert(PIXFMT_RGBA32);
    auto out = TPixmap::Create(width, height, in.format, 4);
    if (width == 0 || height == 0 || src->width == 0 || src->height == 0) return out;
    const float scaleX = static_cast<float>(src->width) / static_cast<float>(width);
    const float scaleY = static_cast<float>(src->height) / static_cast<float>(height);
    std::vector<TSpan> cols(static_cast<size_t>(width));
    for (int32_t j = 0; j < width; ++j) cols[j] = SpanFor(j, scaleX, src->width);
    std::vector<unsigned char> row(static_cast<size_t>(width) * 4);
    for (int32_t i = 0; i < height; ++i) {
        TSpan sy = SpanFor(i, scaleY, src->height);
        const unsigned char* r0 = src->PixelPtr(0, sy.first);
        const unsigned char* r1 = sy.second ? src->PixelPtr(0, sy.first + 1) : nullptr;
        for (int32_t j = 0; j < width; ++j) {
            const TSpan& sx = cols[j];
            const unsigned char* p0 = r0 + sx.first * 4;
            for (int c = 0; c < 4; ++c) {
                float a = p0[c];
                float b = sx.second ? p0[4 + c] : a;
                float cc = r1 ? r1[sx.first * 4 + c] : a;
                float d = r1 ? (sx.second ? r1[sx.first * 4 + 4 + c] : cc) : b;
                float top = a + (b - a) * sx.weight;
                float bottom = cc + (d - cc) * sx.weight;
                float v = top + (bottom - top) * sy.weight;
                row[static_cast<size_t>(j) * 4 + c] = static_cast<unsigned char>(static_cast<int32_t>(v));
            }
        }
        ConvertPixelRun(row.data(), PIXFMT_RGBA32, out->PixelPtr(0, i), out->format, width);
    }
    return out;
}

std::shared_ptr<TPixmap> HorizontalFlipPixmap(const std::shared_ptr<TPixmap>& pixmap) {
    TPixmap& in = Deref(pixmap);
    auto out = TPixmap::Create(in.width, in.height, in.format, 4);
    const int32_t bpp = FormatByteSize[in.format];
    for (int32_t y = 0; y < in.height; ++y)
        for (int32_t x = 0; x < in.width; ++x)
            std::memcpy(out->PixelPtr(x, y), in.PixelPtr(in.width - 1 - x, y), static_cast<size_t>(bpp));
    return out;
}

std::shared_ptr<TPixmap> VerticalFlipPixmap(const std::shared_ptr<TPixmap>& pixmap) {
    TPixmap& in = Deref(pixmap);
    auto out = TPixmap::Create(in.width, in.height, in.format, 4);
    const size_t rowBytes = static_cast<size_t>(in.width) * FormatByteSize[in.format];
    for (int32_t y = 0; y < in.height; ++y)
        std::memcpy(out->PixelPtr(0, y), in.PixelPtr(0, in.height - 1 - y), rowBytes);
    return out;
}

std::shared_ptr<TPixmap> ApplyMaskColour(const std::shared_ptr<TPixmap>& pixmap, int32_t red, int32_t green,
                                         int32_t blue) {
    TPixmap& in = Deref(pixmap);
    std::shared_ptr<TPixmap> src = in.format == PIXFMT_RGBA32 ? pixmap : in.Convert(PIXFMT_RGBA32);
    auto out = TPixmap::Create(in.width, in.height, PIXFMT_RGBA32, 4);
    auto masked = [&](const unsigned char* p) { return p[0] == red && p[1] == green && p[2] == blue; };
    for (int32_t y = 0; y < in.height; ++y) {
        for (int32_t x = 0; x < in.width; ++x) {
            const unsigned char* p = src->PixelPtr(x, y);
            unsigned char* q = out->PixelPtr(x, y);
            if (!masked(p)) {
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
                q[3] = 255;
                continue;
            }
            int32_t sum[3] = {0, 0, 0}, count = 0;
            for (int32_t ny = y - 1; ny <= y + 1; ++ny) {
                for (int32_t nx = x - 1; nx <= x + 1; ++nx) {
                    if (nx < 0 || ny < 0 || nx >= in.width || ny >= in.height) continue;
                    const unsigned char* n = src->PixelPtr(nx, ny);
                    if (masked(n)) continue;
                    for (int c = 0; c < 3; ++c) sum[c] += n[c];
                    ++count;
                }
            }
            for (int c = 0; c < 3; ++c) q[c] = static_cast<unsigned char>(count ? sum[c] / count : 0);
            q[3] = 0;
        }
    }
    return out;
}

std::shared_ptr<TPixmap> ConvertedPixmap(const std::shared_ptr<TPixmap>& pixmap, int32_t format) {
    return Deref(pixmap).Convert(format);
}

std::shared_ptr<TPixmap> CreatePixmap(int32_t width, int32_t height, int32_t format, int32_t align) {
    return TPixmap::Create(width, height, format, align);
}
std::shared_ptr<TPixmap> CreateStaticPixmap(void* pixels, int32_t width, int32_t height, int32_t pitch,
                                            int32_t format) {
    return TPixmap::CreateStatic(pixels, width, height, pitch, format);
}
std::shared_ptr<TPixmap> CopyPixmap(const std::shared_ptr<TPixmap>& p) { return Deref(p).Copy(); }
std::shared_ptr<TPixmap> PixmapWindow(const std::shared_ptr<TPixmap>& p, int32_t x, int32_t y, int32_t width,
                                      int32_t height) {
    return Deref(p).Window(x, y, width, height);
}
void PastePixmap(const std::shared_ptr<TPixmap>& p, const std::shared_ptr<TPixmap>& source, int32_t x, int32_t y) {
    Deref(p).Paste(Deref(source), x, y);
}
unsigned char* PixmapPixelPtr(const std::shared_ptr<TPixmap>& p, int32_t x, int32_t y) {
    return Deref(p).PixelPtr(x, y);
}
uint32_t ReadPixel(const std::shared_ptr<TPixmap>& p, int32_t x, int32_t y) { return Deref(p).ReadPixel(x, y); }
int32_t WritePixel(const std::shared_ptr<TPixmap>& p, int32_t x, int32_t y, uint32_t argb) {
    return Deref(p).WritePixel(x, y, argb);
}
int32_t ClearPixels(const std::shared_ptr<TPixmap>& p, uint32_t argb) { return Deref(p).ClearPixels(argb); }
int32_t PixmapWidth(const std::shared_ptr<TPixmap>& p) { return Deref(p).width; }
int32_t PixmapHeight(const std::shared_ptr<TPixmap>& p) { return Deref(p).height; }
int32_t PixmapPitch(const std::shared_ptr<TPixmap>& p) { return Deref(p).pitch; }
int32_t PixmapFormat(const std::shared_ptr<TPixmap>& p) { return Deref(p).format; }
