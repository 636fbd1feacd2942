#pragma once
// PNG data written with libpng for the image suites and the fuzzer's seeds.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One image as libpng takes it: rows of packed samples (16-bit samples
// big-endian, sub-byte samples packed from the high bits).
struct TPngImage {
    uint32_t width = 0, height = 0;
    int colourType = 0;  // PNG colour type value: 0, 2, 3, 4 or 6
    int bitDepth = 8;
    bool interlaced = false;
    std::vector<std::array<uint8_t, 3>> palette;
    std::vector<uint8_t> paletteAlpha;  // tRNS for palette images
    bool colourKey = false;             // tRNS for grey or RGB images
    uint16_t keyGrey = 0, keyRed = 0, keyGreen = 0, keyBlue = 0;
    std::vector<std::vector<uint8_t>> rows;
};

// The PNG file for image.
std::vector<uint8_t> EncodePng(const TPngImage& image);

// A small image of the given kind, rows filled with a varied pattern.
TPngImage PatternImage(uint32_t width, uint32_t height, int colourType, int bitDepth, bool interlaced = false,
                       bool transparency = false);

// One kind of PNG: colour type, bit depth, Adam7 or not, with tRNS or not.
struct TPngKind {
    int colourType, bitDepth;
    bool interlaced, transparency;
};
// Every colour type and bit depth, palettes and colour keys with and without
// transparency, interlaced ones of every colour type.
std::vector<TPngKind> PngKinds();

// A small image of every kind in PngKinds(): name and file bytes.
std::vector<std::pair<std::string, std::vector<uint8_t>>> PngVariety();

// Re-computes the CRC of the chunk starting at offset (its length field).
void FixChunkCrc(std::vector<uint8_t>& png, size_t offset);
// Offset of the first chunk of type (e.g. "IDAT"), or 0 when absent.
size_t FindChunk(const std::vector<uint8_t>& png, const char* type);
