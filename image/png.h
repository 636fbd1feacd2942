#pragma once
// PNG files to pixmaps and back, on the system's libpng.

#include <memory>

#include "image/loader.h"
#include "image/pixmap.h"
#include "stream/url.h"

// Decodes the PNG data at url (a path, protocol "::" path, or an open
// stream, which stays open). 8-bit greyscale gives PIXFMT_GREY8, RGB
// PIXFMT_RGB24, anything with alpha or a transparency chunk PIXFMT_RGBA32;
// 16-bit samples are reduced to 8, palettes and small greys expanded.
// Null when the URL cannot be opened, the data is not PNG, libpng finds
// the data damaged, or the image is larger than 64 MiB decoded or 16384
// pixels on a side. A stream that ends early raises TStreamReadException
// after everything is released.
std::shared_ptr<TPixmap> LoadPNGPixmap(const TUrl& url);

// Writes pixmap as an 8-bit PNG at compression 0..9 (clamped). Greyscale,
// RGB and RGBA pixmaps keep their channels, BGR(A) are reordered, every
// other format is written as RGBA. Returns 1 when written, 0 when the URL
// cannot be opened for writing or libpng refuses the image (an empty one,
// say). A stream that stops taking bytes, or cannot flush them at the
// end, raises TStreamWriteException. A file path is replaced only by a
// complete file: on any failure the old one stays as it was.
int32_t SavePNGPixmap(const std::shared_ptr<TPixmap>& pixmap, const TUrl& url, int32_t compression);

// SavePNGPixmap to the file at path: "" when written, else why ("No space
// left on device"; the old file untouched).
std::string SavePNGFile(const std::shared_ptr<TPixmap>& pixmap, const std::string& path, int32_t compression);

// The PNG member of the loader chain.
class TPixmapLoaderPNG : public TPixmapLoader {
public:
    // LoadPNGPixmap(stream).
    std::shared_ptr<TPixmap> LoadPixmap(const std::shared_ptr<TStream>& stream) override;
};
