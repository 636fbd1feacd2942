#include "png_fixtures.h"

#include <png.h>
#include <zlib.h>

#include <cstring>
#include <stdexcept>

namespace {
void Append(png_structp png, png_bytep data, size_t n) {
    auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + n);
}
void NoFlush(png_structp) {}

// Samples per pixel: grey and palette 1, grey+alpha 2, RGB 3, RGBA 4.
int Channels(int colourType) { return colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1; }
}  // namespace

std::vector<uint8_t> EncodePng(const TPngImage& image) {
    std::vector<uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::vector<png_bytep> rows;
    for (const auto& r : image.rows) rows.push_back(const_cast<png_bytep>(r.data()));
    // Everything with a destructor exists before the recovery point.
    std::vector<png_color> palette;
    for (const auto& c : image.palette) palette.push_back({c[0], c[1], c[2]});
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("libpng could not write the fixture");
    }
    png_set_write_fn(png, &out, Append, NoFlush);
    png_set_IHDR(png, info, image.width, image.height, image.bitDepth, image.colourType,
                 image.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    png_color_16 key{};
    key.gray = image.keyGrey;
    key.red = image.keyRed;
    key.green = image.keyGreen;
    key.blue = image.keyBlue;
    if (!image.paletteAlpha.empty())
        png_set_tRNS(png, info, image.paletteAlpha.data(), static_cast<int>(image.paletteAlpha.size()), nullptr);
    else if (image.colourKey)
        png_set_tRNS(png, info, nullptr, 0, &key);
    png_set_rows(png, info, rows.data());
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

TPngImage PatternImage(uint32_t width, uint32_t height, int colourType, int bitDepth, bool interlaced,
                       bool transparency) {
    TPngImage im;
    im.width = width;
    im.height = height;
    im.colourType = colourType;
    im.bitDepth = bitDepth;
    im.interlaced = interlaced;
    const int samples = static_cast<int>(width) * Channels(colourType);
    const size_t rowBytes = (static_cast<size_t>(samples) * bitDepth + 7) / 8;
    const int maxSample = (1 << bitDepth) - 1;
    if (colourType == 3) {
        for (int i = 0; i <= maxSample; ++i)
            im.palette.push_back(
                {static_cast<uint8_t>(i * 37), static_cast<uint8_t>(255 - i * 11), static_cast<uint8_t>(i * 5 + 3)});
        if (transparency)
            for (int i = 0; i < (maxSample + 1) / 2 + 1 && i <= maxSample; ++i)
                im.paletteAlpha.push_back(static_cast<uint8_t>(i * 40));
    } else if (transparency) {
        im.colourKey = true;
        im.keyGrey = im.keyRed = im.keyGreen = im.keyBlue = 0;
    }
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(rowBytes, 0);
        for (int s = 0; s < samples; ++s) {
            unsigned v = (s * 7 + y * 13 + 1) % static_cast<unsigned>(maxSample + 1);
            if (bitDepth == 16) {
                v = (s * 4099u + y * 771u) & 0xFFFFu;
                row[2 * s] = static_cast<uint8_t>(v >> 8);
                row[2 * s + 1] = static_cast<uint8_t>(v);
            } else {
                size_t bit = static_cast<size_t>(s) * bitDepth;
                row[bit / 8] |= static_cast<uint8_t>(v << (8 - bitDepth - bit % 8));
            }
        }
        im.rows.push_back(row);
    }
    return im;
}

std::vector<TPngKind> PngKinds() {
    std::vector<TPngKind> kinds;
    for (int d : {1, 2, 4, 8, 16}) kinds.push_back({0, d, false, false});
    for (int d : {1, 2, 4, 8}) kinds.insert(kinds.end(), {{3, d, false, false}, {3, d, false, true}});
    for (int t : {2, 4, 6}) kinds.insert(kinds.end(), {{t, 8, false, false}, {t, 16, false, false}});
    kinds.insert(kinds.end(), {{0, 8, false, true}, {0, 2, false, true}, {2, 8, false, true}, {2, 16, false, true}});
    for (int t : {0, 2, 3, 4, 6}) kinds.push_back({t, 8, true, false});
    kinds.insert(kinds.end(), {{3, 2, true, true}, {6, 16, true, false}, {0, 1, true, false}});
    return kinds;
}

std::vector<std::pair<std::string, std::vector<uint8_t>>> PngVariety() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> all;
    for (const TPngKind& k : PngKinds()) {
        std::string name = "type" + std::to_string(k.colourType) + "_depth" + std::to_string(k.bitDepth) +
                           (k.interlaced ? "_interlaced" : "") + (k.transparency ? "_trns" : "") + ".png";
        all.emplace_back(name, EncodePng(PatternImage(7, 5, k.colourType, k.bitDepth, k.interlaced, k.transparency)));
    }
    return all;
}

void FixChunkCrc(std::vector<uint8_t>& png, size_t offset) {
    uint32_t length = (uint32_t{png[offset]} << 24) | (uint32_t{png[offset + 1]} << 16) |
                      (uint32_t{png[offset + 2]} << 8) | png[offset + 3];
    uLong crc = crc32(0, png.data() + offset + 4, static_cast<uInt>(length + 4));
    size_t at = offset + 8 + length;
    for (int i = 0; i < 4; ++i) png[at + i] = static_cast<uint8_t>(crc >> (24 - 8 * i));
}

size_t FindChunk(const std::vector<uint8_t>& png, const char* type) {
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length =
            (uint32_t{png[at]} << 24) | (uint32_t{png[at + 1]} << 16) | (uint32_t{png[at + 2]} << 8) | png[at + 3];
        if (std::memcmp(png.data() + at + 4, type, 4) == 0) return at;
        at += 12 + length;
    }
    return 0;
}
