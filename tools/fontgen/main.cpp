// fontgen FONT.psf[.gz] OUTPUT.cpp
// fontgen --preview OUTPUT.png
//
// The first form converts an 8x16 PSF console font (version 1 or 2, with a
// Unicode table; gzip or plain) into the C++ table of the built-in font of
// DrawGLText: 96 glyphs for the codes 32..127, row y of glyph g at byte
// 96 * y + g, bit k = column k with the least significant bit on the left.
// DEL (127) stays blank. The header it writes describes the Terminus Font of
// Debian's console-setup-linux, which is what the committed table is made from.
//
// The second form draws the committed table's atlas as a PNG to look at:
// three lines of 32 glyphs, white on black, scaled 4 times.

#include <zlib.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "graphics/gl/gl_font.h"
#include "image/png.h"
#include "stream/replacing_file.h"

namespace {

const char* const kUsage =
    "usage: fontgen FONT.psf[.gz] OUTPUT.cpp   convert an 8x16 PSF font to the built-in font table\n"
    "       fontgen --preview OUTPUT.png       draw the built-in font's atlas\n";

// Inputs larger than this are no console font.
const size_t kMaxFontBytes = 16u << 20;
// Code points of the font's first and last drawn glyph; DEL stays blank.
const uint32_t kFirstDrawn = 32, kLastDrawn = 126;

struct FontError {
    std::string why;
};

std::vector<unsigned char> ReadFontFile(const std::string& path) {
    gzFile in = gzopen(path.c_str(), "rb");  // reads plain files as they are
    if (!in) throw FontError{"cannot open " + path + ": " + std::strerror(errno ? errno : ENOENT)};
    std::vector<unsigned char> data;
    unsigned char chunk[65536];
    int n;
    while ((n = gzread(in, chunk, sizeof chunk)) > 0) {
        data.insert(data.end(), chunk, chunk + n);
        if (data.size() > kMaxFontBytes) break;
    }
    int code = Z_OK;
    const char* message = n < 0 ? gzerror(in, &code) : nullptr;
    const std::string failure = message ? message : "";
    gzclose(in);
    if (n < 0) throw FontError{"cannot read " + path + ": " + failure};
    if (data.size() > kMaxFontBytes) throw FontError{path + " is too large for a console font"};
    return data;
}

uint32_t Le32(const std::vector<unsigned char>& d, size_t at) {
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<uint32_t>(d[at + 3]) << 24);
}

// Glyph bitmaps (one byte per row, MSB = left) and, per glyph, the single code points mapped to it.
struct PsfFont {
    uint32_t glyphs = 0;
    size_t glyphOffset = 0;
    std::vector<std::vector<uint32_t>> codes;
};

// Decodes one UTF-8 sequence of a PSF2 table entry; advances at.
uint32_t NextUtf8(const std::vector<unsigned char>& d, size_t& at, size_t end) {
    const unsigned char lead = d[at++];
    int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (more < 0) throw FontError{"malformed UTF-8 in the font's Unicode table"};
    uint32_t cp = more == 0 ? lead : lead & (0x3F >> more);
    for (; more > 0; --more) {
        if (at >= end || (d[at] & 0xC0) != 0x80) throw FontError{"malformed UTF-8 in the font's Unicode table"};
        cp = (cp << 6) | (d[at++] & 0x3F);
    }
    return cp;
}

// Reads the Unicode table from at: per glyph, code points up to the terminator; a
// sequence (after the sequence marker) names a combination, not a code point, and is skipped.
void ReadUnicodeTable(const std::vector<unsigned char>& d, size_t at, bool wide, PsfFont& font) {
    font.codes.resize(font.glyphs);
    // Markers are code units outside the entries' encoding: 0xFFFF/0xFFFE in UCS-2, bytes 0xFF/0xFE in UTF-8.
    const uint32_t terminator = wide ? 0xFFFF : 0xFF, sequence = wide ? 0xFFFE : 0xFE;
    for (uint32_t g = 0; g < font.glyphs; ++g) {
        bool inSequence = false;
        for (;;) {
            if (at + (wide ? 2 : 1) > d.size()) throw FontError{"the font's Unicode table is truncated"};
            const uint32_t unit = wide ? d[at] | (d[at + 1] << 8) : d[at];
            if (unit == terminator) {
                at += wide ? 2 : 1;
                break;
            }
            if (unit == sequence) {
                at += wide ? 2 : 1;
                inSequence = true;
                continue;
            }
            uint32_t cp = unit;
            if (wide)
                at += 2;
            else
                cp = NextUtf8(d, at, d.size());
            if (!inSequence) font.codes[g].push_back(cp);
        }
    }
}

PsfFont ParsePsf(const std::vector<unsigned char>& d) {
    PsfFont font;
    if (d.size() >= 4 && d[0] == 0x36 && d[1] == 0x04) {
        const unsigned mode = d[2], height = d[3];
        if (height != GL_FONT_CELL_HEIGHT) throw FontError{"the font is not 16 pixels high"};
        font.glyphs = (mode & 0x01) ? 512 : 256;
        font.glyphOffset = 4;
        if (d.size() < font.glyphOffset + size_t{font.glyphs} * height)
            throw FontError{"the font's glyphs are truncated"};
        if (!(mode & 0x06)) throw FontError{"the font has no Unicode table"};
        ReadUnicodeTable(d, font.glyphOffset + size_t{font.glyphs} * height, true, font);
        return font;
    }
    if (d.size() >= 32 && Le32(d, 0) == 0x864AB572u) {
        const uint32_t headerSize = Le32(d, 8), flags = Le32(d, 12), count = Le32(d, 16), bytesPerGlyph = Le32(d, 20),
                       height = Le32(d, 24), width = Le32(d, 28);
        if (width != GL_FONT_CELL_WIDTH || height != GL_FONT_CELL_HEIGHT || bytesPerGlyph != height)
            throw FontError{"the font is not 8 x 16 pixels"};
        if (count > kMaxFontBytes / height || headerSize > d.size() || d.size() - headerSize < size_t{count} * height)
            throw FontError{"the font's glyphs are truncated"};
        if (!(flags & 1)) throw FontError{"the font has no Unicode table"};
        font.glyphs = count;
        font.glyphOffset = headerSize;
        ReadUnicodeTable(d, headerSize + size_t{count} * height, false, font);
        return font;
    }
    throw FontError{"not a PSF font"};
}

// The table in the built-in layout: bits mirrored so that the left pixel is bit 0.
std::vector<unsigned char> BuiltInLayout(const std::vector<unsigned char>& d, const PsfFont& font) {
    std::vector<unsigned char> table(GL_FONT_BYTES, 0);
    for (uint32_t cp = kFirstDrawn; cp <= kLastDrawn; ++cp) {
        uint32_t glyph = font.glyphs;
        for (uint32_t g = 0; g < font.glyphs && glyph == font.glyphs; ++g)
            for (uint32_t c : font.codes[g])
                if (c == cp) glyph = g;
        if (glyph == font.glyphs) throw FontError{"the font has no glyph for code " + std::to_string(cp)};
        const int32_t cell = static_cast<int32_t>(cp) - GL_FONT_FIRST_CODE;
        for (int32_t y = 0; y < GL_FONT_CELL_HEIGHT; ++y) {
            const unsigned char row = d[font.glyphOffset + size_t{glyph} * GL_FONT_CELL_HEIGHT + y];
            unsigned char mirrored = 0;
            for (int k = 0; k < GL_FONT_CELL_WIDTH; ++k)
                if (row & (0x80 >> k)) mirrored |= 1 << k;
            table[GL_FONT_GLYPHS * y + cell] = mirrored;
        }
    }
    return table;
}

std::string CppSource(const std::vector<unsigned char>& table, const std::string& input, uLong crc) {
    std::string s;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%08lx", crc);
    s += "// The built-in font of DrawGLText (\"gldrawtextfont.bin\"): 96 glyphs of 8 x 16 pixels for\n"
         "// the codes 32..127; row y of glyph g is the byte at 96 * y + g, bit k is column k (least\n"
         "// significant bit on the left). DEL (127) is blank.\n"
         "//\n"
         "// Generated by tools/fontgen from the 8x16 Terminus Font of Debian's console-setup-linux\n"
         "// package (Debian 12: 1.221), file " +
         input +
         "\n"
         "// (decompressed CRC-32 " +
         buf +
         "). Do not edit; regenerate with\n"
         "//   build/tools/fontgen/fontgen " +
         input +
         " graphics/gl/gl_font_data.cpp\n"
         "//\n"
         "// Terminus Font: Copyright (c) 2010 Dimitar Toshkov Zhekov, with Reserved Font Name\n"
         "// \"Terminus Font\"; licensed under the SIL Open Font License, Version 1.1 (the text is in\n"
         "// graphics/gl/FONT-LICENSE.txt). This table is a modified version (a different layout)\n"
         "// and does not carry the Reserved Font Name.\n"
         "\n"
         "#include \"graphics/gl/gl_font.h\"\n"
         "\n"
         "const unsigned char GLDrawTextFontData[GL_FONT_BYTES] = {\n";
    for (int32_t y = 0; y < GL_FONT_CELL_HEIGHT; ++y) {
        s += "    // row " + std::to_string(y) + "\n";
        for (int32_t g = 0; g < GL_FONT_GLYPHS; g += 12) {
            s += "   ";
            for (int32_t i = g; i < g + 12; ++i) {
                std::snprintf(buf, sizeof buf, " 0x%02x,", table[GL_FONT_GLYPHS * y + i]);
                s += buf;
            }
            s += "\n";
        }
    }
    s += "};\n";
    return s;
}

// The old file stays as it was unless the new one is written whole.
void WriteFile(const std::string& path, const std::string& text) {
    const std::string why = WriteWholeFile(path, [&](const std::shared_ptr<TStream>& out) { out->WriteString(text); });
    if (!why.empty()) throw FontError{"cannot write " + path + ": " + why};
}

// The atlas of the built-in table in 3 lines of 32 cells, opaque, scaled up for the eye.
void WritePreview(const std::string& path) {
    const int32_t perLine = 32, lines = GL_FONT_GLYPHS / perLine, scale = 4;
    auto atlas = BuildFontAtlas(GLDrawTextFontData);
    auto sheet =
        TPixmap::Create(perLine * GL_FONT_CELL_WIDTH * scale, lines * GL_FONT_CELL_HEIGHT * scale, PIXFMT_RGB24);
    for (int32_t y = 0; y < sheet->height; ++y)
        for (int32_t x = 0; x < sheet->width; ++x) {
            const int32_t cell = (y / (GL_FONT_CELL_HEIGHT * scale)) * perLine + x / (GL_FONT_CELL_WIDTH * scale);
            const int32_t ax = cell * GL_FONT_CELL_WIDTH + (x / scale) % GL_FONT_CELL_WIDTH;
            const int32_t ay = (y / scale) % GL_FONT_CELL_HEIGHT;
            sheet->WritePixel(x, y, atlas->ReadPixel(ax, ay) | 0xFF000000u);
        }
    const std::string why = SavePNGFile(sheet, path, 9);
    if (!why.empty()) throw FontError{"cannot write " + path + ": " + why};
}

int Run(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return 0;
        throw FontError{"cannot write to standard output"};
    }
    if (argc != 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (std::strcmp(argv[1], "--preview") == 0) {
        WritePreview(argv[2]);
        return 0;
    }
    const std::vector<unsigned char> data = ReadFontFile(argv[1]);
    const std::vector<unsigned char> table = BuiltInLayout(data, ParsePsf(data));
    const uLong crc = crc32(crc32(0L, Z_NULL, 0), data.data(), static_cast<uInt>(data.size()));
    WriteFile(argv[2], CppSource(table, argv[1], crc));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const FontError& e) {
        std::fprintf(stderr, "fontgen: %s\n", e.why.c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "fontgen: %s\n", e.what());
    }
    return 1;
}
