#pragma once
// In-memory raster images in twelve pixel formats and the operations that
// make new pixmaps from old ones.

#include <cstdint>
#include <memory>

// Pixel format ids; 0 is no format. RGBA32 is the hub of every conversion.
enum : int32_t {
    PIXFMT_GREY8 = 1,
    PIXFMT_ALPHA8 = 2,
    PIXFMT_BGR24 = 3,
    PIXFMT_RGB24 = 4,
    PIXFMT_BGRA32 = 5,
    PIXFMT_RGBA32 = 6,
    PIXFMT_RED8 = 7,
    PIXFMT_GREEN8 = 8,
    PIXFMT_BLUE8 = 9,
    PIXFMT_BLACK_ALPHA8 = 10,
    PIXFMT_INTENSITY8 = 11,
    PIXFMT_LUMINANCE8 = 12,
};

// Bytes per pixel, indexed by format id (entry 0 is 0).
extern const int32_t FormatByteSize[13];

// A block of pixel rows. Coordinates are not checked: callers keep them
// inside the pixmap. Pixels are exchanged as packed 0xAARRGGBB values.
class TPixmap : public std::enable_shared_from_this<TPixmap> {
public:
    TPixmap() = default;
    TPixmap(const TPixmap&) = delete;
    TPixmap& operator=(const TPixmap&) = delete;
    ~TPixmap();

    // A pixmap owning an uncleared, 16-byte-aligned block whose rows are
    // padded to a multiple of align bytes. Raises TRuntimeError for a
    // negative size, an unknown format, align < 1 or a block over 2 GiB.
    static std::shared_ptr<TPixmap> Create(int32_t width, int32_t height, int32_t format, int32_t align = 4);
    // A pixmap over bytes the caller keeps alive (capacity -1).
    static std::shared_ptr<TPixmap> CreateStatic(void* pixels, int32_t width, int32_t height, int32_t pitch,
                                                 int32_t format);

    // Address of pixel (x, y).
    unsigned char* PixelPtr(int32_t x, int32_t y) const;
    // A sub-rectangle sharing this pixmap's bytes; it keeps this pixmap alive.
    std::shared_ptr<TPixmap> Window(int32_t x, int32_t y, int32_t width, int32_t height);
    // A packed (align 4) copy in the same format.
    std::shared_ptr<TPixmap> Copy() const;
    // Writes all of source, converted, with its top-left corner at (x, y).
    void Paste(const TPixmap& source, int32_t x, int32_t y);
    // A new pixmap (align 4) holding this one converted to format.
    std::shared_ptr<TPixmap> Convert(int32_t format) const;
    // The pixel as 0xAARRGGBB; 0 for formats 7 to 12.
    uint32_t ReadPixel(int32_t x, int32_t y) const;
    // Stores a packed pixel; formats 7 to 12 are left unchanged. Returns 0.
    int32_t WritePixel(int32_t x, int32_t y, uint32_t argb);
    // Fills every pixel (0 zeroes, leaving row padding alone). Returns 0.
    int32_t ClearPixels(uint32_t argb);

    unsigned char* pixels = nullptr;   // first byte of the top row
    int32_t width = 0;                 // pixels per row
    int32_t height = 0;                // rows
    int32_t pitch = 0;                 // bytes from one row to the next
    int32_t format = 0;                // pixel format id
    int32_t capacity = 0;              // bytes owned; -1 when borrowed
    std::shared_ptr<TPixmap> _source;  // owner of a window's bytes
};

// Converts count pixels from format srcFormat at src to dstFormat at dst.
void ConvertPixelRun(const void* src, int32_t srcFormat, void* dst, int32_t dstFormat, int32_t count);

// Bilinear resampling to width x height, keeping the pixmap's format.
std::shared_ptr<TPixmap> ResamplePixmap(const std::shared_ptr<TPixmap>& pixmap, int32_t width, int32_t height);
// Mirror image left to right.
std::shared_ptr<TPixmap> HorizontalFlipPixmap(const std::shared_ptr<TPixmap>& pixmap);
// Mirror image top to bottom.
std::shared_ptr<TPixmap> VerticalFlipPixmap(const std::shared_ptr<TPixmap>& pixmap);
// An RGBA32 copy where pixels of the given colour become transparent, their
// colour taken from the mean of their unmasked neighbours.
std::shared_ptr<TPixmap> ApplyMaskColour(const std::shared_ptr<TPixmap>& pixmap, int32_t red, int32_t green,
                                         int32_t blue);
// pixmap->Convert(format).
std::shared_ptr<TPixmap> ConvertedPixmap(const std::shared_ptr<TPixmap>& pixmap, int32_t format);

// Module forms of the methods: the pixmap comes first; null raises the
// null-object error.
std::shared_ptr<TPixmap> CreatePixmap(int32_t width, int32_t height, int32_t format, int32_t align = 4);
// TPixmap::CreateStatic.
std::shared_ptr<TPixmap> CreateStaticPixmap(void* pixels, int32_t width, int32_t height, int32_t pitch, int32_t format);
// TPixmap::Copy.
std::shared_ptr<TPixmap> CopyPixmap(const std::shared_ptr<TPixmap>& pixmap);
// TPixmap::Window.
std::shared_ptr<TPixmap> PixmapWindow(const std::shared_ptr<TPixmap>& pixmap, int32_t x, int32_t y, int32_t width,
                                      int32_t height);
// TPixmap::Paste.
void PastePixmap(const std::shared_ptr<TPixmap>& pixmap, const std::shared_ptr<TPixmap>& source, int32_t x, int32_t y);
// TPixmap::PixelPtr.
unsigned char* PixmapPixelPtr(const std::shared_ptr<TPixmap>& pixmap, int32_t x, int32_t y);
// TPixmap::ReadPixel.
uint32_t ReadPixel(const std::shared_ptr<TPixmap>& pixmap, int32_t x, int32_t y);
// TPixmap::WritePixel.
int32_t WritePixel(const std::shared_ptr<TPixmap>& pixmap, int32_t x, int32_t y, uint32_t argb);
// TPixmap::ClearPixels.
int32_t ClearPixels(const std::shared_ptr<TPixmap>& pixmap, uint32_t argb);
// The pixmap's width.
int32_t PixmapWidth(const std::shared_ptr<TPixmap>& pixmap);
// The pixmap's height.
int32_t PixmapHeight(const std::shared_ptr<TPixmap>& pixmap);
// The pixmap's pitch.
int32_t PixmapPitch(const std::shared_ptr<TPixmap>& pixmap);
// The pixmap's format id.
int32_t PixmapFormat(const std::shared_ptr<TPixmap>& pixmap);
