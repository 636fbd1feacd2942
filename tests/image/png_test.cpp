// PNG decoding and encoding through real files and streams: every colour
// type and bit depth, damaged and truncated data, limits and clean-up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <tuple>

#include "image/loader.h"
#include "image/png.h"
#include "png_fixtures.h"
#include "stream/cstream.h"
#include "stream/embedded.h"
#include "stream/ramstream.h"
#include "tests/support/temp_dir.h"
#ifndef _WIN32
#include "tests/support/full_disk.h"
#endif

namespace fs = std::filesystem;

namespace {

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes, size_t count) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(count));
}

// Open descriptors of this process: a load must leave none behind.
size_t OpenFds() {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// The sample at index s of row y, as stored (sub-byte samples unpacked).
unsigned Sample(const TPngImage& im, uint32_t y, uint32_t s) {
    const auto& row = im.rows[y];
    if (im.bitDepth == 16) return (unsigned{row[2 * s]} << 8) | row[2 * s + 1];
    size_t bit = size_t{s} * im.bitDepth;
    return (row[bit / 8] >> (8 - im.bitDepth - bit % 8)) & ((1u << im.bitDepth) - 1);
}

// What the loader must make of pixel (x, y), packed 0xAARRGGBB.
uint32_t ExpectedPixel(const TPngImage& im, uint32_t x, uint32_t y) {
    auto to8 = [&](unsigned v) {
        if (im.bitDepth == 16) return v >> 8;
        return v * 255u / ((1u << im.bitDepth) - 1);
    };
    auto pack = [](unsigned a, unsigned r, unsigned g, unsigned b) { return (a << 24) | (r << 16) | (g << 8) | b; };
    switch (im.colourType) {
    case 0: {
        unsigned v = Sample(im, y, x);
        unsigned a = im.colourKey && v == im.keyGrey ? 0 : 255;
        return pack(a, to8(v), to8(v), to8(v));
    }
    case 2: {
        unsigned r = Sample(im, y, 3 * x), g = Sample(im, y, 3 * x + 1), b = Sample(im, y, 3 * x + 2);
        bool key = im.colourKey && r == im.keyRed && g == im.keyGreen && b == im.keyBlue;
        return pack(key ? 0 : 255, to8(r), to8(g), to8(b));
    }
    case 3: {
        unsigned i = Sample(im, y, x);
        unsigned a = i < im.paletteAlpha.size() ? im.paletteAlpha[i] : 255;
        return pack(a, im.palette[i][0], im.palette[i][1], im.palette[i][2]);
    }
    case 4: {
        unsigned v = to8(Sample(im, y, 2 * x));
        return pack(to8(Sample(im, y, 2 * x + 1)), v, v, v);
    }
    default:
        return pack(to8(Sample(im, y, 4 * x + 3)), to8(Sample(im, y, 4 * x)), to8(Sample(im, y, 4 * x + 1)),
                    to8(Sample(im, y, 4 * x + 2)));
    }
}

int32_t ExpectedFormat(const TPngImage& im) {
    bool alpha = im.colourType == 4 || im.colourType == 6 || im.colourKey || !im.paletteAlpha.empty();
    if (alpha) return PIXFMT_RGBA32;
    return im.colourType == 0 ? PIXFMT_GREY8 : PIXFMT_RGB24;
}

std::shared_ptr<TRamStream> Ram(const std::vector<uint8_t>& bytes, size_t count) {
    return TRamStream::Create(bytes.data(), static_cast<int32_t>(count), 1);
}

std::vector<uint8_t> SmallPng() { return EncodePng(PatternImage(3, 2, 2, 8)); }

}  // namespace

TEST(PngLoad, EveryColourTypeAndBitDepthDecodes) {
    TempDir dir;
    for (const TPngKind& k : PngKinds()) {
        // 9 x 7 leaves every Adam7 pass some pixels and pads sub-byte rows.
        TPngImage im = PatternImage(9, 7, k.colourType, k.bitDepth, k.interlaced, k.transparency);
        SCOPED_TRACE("type " + std::to_string(k.colourType) + " depth " + std::to_string(k.bitDepth) +
                     (k.interlaced ? " interlaced" : "") + (k.transparency ? " tRNS" : ""));
        auto png = EncodePng(im);
        WriteBytes(dir.File("v.png"), png, png.size());
        auto p = LoadPNGPixmap(dir.File("v.png"));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->format, ExpectedFormat(im));
        EXPECT_EQ(std::vector<int32_t>({p->width, p->height, p->pitch}),
                  std::vector<int32_t>({9, 7, (9 * FormatByteSize[p->format] + 3) / 4 * 4}));
        int mismatches = 0;
        for (uint32_t y = 0; y < im.height; ++y)
            for (uint32_t x = 0; x < im.width; ++x)
                mismatches += p->ReadPixel(int32_t(x), int32_t(y)) != ExpectedPixel(im, x, y);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(PngLoad, SpecialValuesOfTheTransformations) {
    // 1-bit grey widens to 0 and 255; grey with alpha spreads the grey;
    // 16-bit samples keep their high byte.
    struct Case {
        int type, depth, width;
        std::vector<uint8_t> row;
        int32_t format;
        std::vector<uint8_t> pixels;
    };
    const Case cases[] = {
        {0, 1, 8, {0xA5}, PIXFMT_GREY8, {255, 0, 255, 0, 0, 255, 0, 255}},
        {4, 8, 1, {200, 50}, PIXFMT_RGBA32, {200, 200, 200, 50}},
        {6, 16, 1, {0x12, 0xFF, 0x34, 0x00, 0x56, 0x80, 0x78, 0x7F}, PIXFMT_RGBA32, {0x12, 0x34, 0x56, 0x78}},
    };
    for (const Case& c : cases) {
        TPngImage im = PatternImage(uint32_t(c.width), 1, c.type, c.depth);
        im.rows[0] = c.row;
        auto data = EncodePng(im);
        auto p = LoadPNGPixmap(Ram(data, data.size()));
        ASSERT_TRUE(p);
        EXPECT_EQ(p->format, c.format);
        EXPECT_EQ(std::vector<uint8_t>(p->pixels, p->pixels + c.pixels.size()), c.pixels) << "type " << c.type;
    }
}

TEST(PngSave, RoundTripsEveryWritableFormat) {
    TempDir dir;
    for (int32_t format : {PIXFMT_GREY8, PIXFMT_RGB24, PIXFMT_RGBA32, PIXFMT_BGR24, PIXFMT_BGRA32, PIXFMT_ALPHA8}) {
        SCOPED_TRACE("format " + std::to_string(format));
        auto src = TPixmap::Create(5, 3, format, 4);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 5; ++x)
                src->WritePixel(x, y,
                                0x10000000u * uint32_t(x + 3 * y) + 0x00102030u * uint32_t(x + 1) + 7u * uint32_t(y));
        std::string path = dir.File("round.png");
        ASSERT_EQ(SavePNGPixmap(src, path, 6), 1);
        auto back = LoadPNGPixmap(path);
        ASSERT_TRUE(back);
        int32_t expected = format == PIXFMT_GREY8                             ? PIXFMT_GREY8
                           : format == PIXFMT_RGB24 || format == PIXFMT_BGR24 ? PIXFMT_RGB24
                                                                              : PIXFMT_RGBA32;
        EXPECT_EQ(back->format, expected);
        for (int32_t y = 0; y < 3; ++y)
            for (int32_t x = 0; x < 5; ++x) {
                uint32_t want = src->ReadPixel(x, y);
                EXPECT_EQ(back->ReadPixel(x, y), want) << x << "," << y;
            }
    }
}

TEST(PngSave, CompressionIsClampedAndFailuresReportZero) {
    TempDir dir;
    auto src = TPixmap::Create(64, 64, PIXFMT_RGB24, 4);
    for (int32_t y = 0; y < 64; ++y)
        for (int32_t x = 0; x < 64; ++x) src->WritePixel(x, y, uint32_t(x / 8) * 0x102030u);
    auto saved = [&](int level) {
        EXPECT_EQ(SavePNGPixmap(src, dir.File("level.png"), level), 1);
        return ReadFileBytes(dir.File("level.png"));
    };
    EXPECT_EQ(saved(15), saved(9));
    EXPECT_EQ(saved(-3), saved(0));
    EXPECT_GT(saved(0).size(), saved(9).size());

    EXPECT_EQ(SavePNGPixmap(src, dir.File("no/such/dir/x.png"), 5), 0);
    EXPECT_EQ(SavePNGPixmap(TPixmap::Create(0, 0, PIXFMT_RGB24, 4), dir.File("empty.png"), 5), 0)
        << "libpng refuses an empty image";
    EXPECT_THROW(SavePNGPixmap(nullptr, dir.File("n.png"), 5), TNullObjectError);

    // A block too small for the file: the stream's exception reaches the caller.
    std::vector<uint8_t> small(40);
    auto ram = TRamStream::Create(small.data(), 40, 0, 1);
    EXPECT_THROW(SavePNGPixmap(src, ram, 0), TStreamWriteException);
#ifndef _WIN32
    // A device is no file to replace: refused, and left alone.
    EXPECT_EQ(SavePNGPixmap(src, "/dev/full", 5), 0);
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
#endif
}

#ifndef _WIN32
// Saving over a file on a full disk raises and leaves the old file whole.
TEST(PngSave, AFullDiskLeavesTheOldFile) {
    FullDisk disk;
    if (!disk.Why().empty()) GTEST_SKIP() << disk.Why();
    WriteFileBytes(disk.File("old.png"), std::string(8192, 'o'));
    disk.Fill();
    auto noise = TPixmap::Create(256, 256, PIXFMT_RGB24, 4);
    for (int32_t y = 0; y < 256; ++y)
        for (int32_t x = 0; x < 256; ++x) noise->WritePixel(x, y, uint32_t(x * 2654435761u ^ y * 40503u));
    EXPECT_THROW(SavePNGPixmap(noise, disk.File("old.png"), 0), TStreamWriteException);
    EXPECT_EQ(SavePNGFile(noise, disk.File("old.png"), 0), "No space left on device");
    EXPECT_EQ(ReadFileBytes(disk.File("old.png")), std::string(8192, 'o'));
    EXPECT_EQ(disk.Names(), (std::vector<std::string>{"filler", "old.png"}));
}
#endif

TEST(PngLoad, TruncatedDataAtEveryLengthIsRefused) {
    TempDir dir;
    auto png = SmallPng();
    const std::string path = dir.File("cut.png");
    const size_t fds = OpenFds();
    for (size_t n = 0; n < png.size(); ++n) {
        SCOPED_TRACE("length " + std::to_string(n));
        // The exact-size copy lets the address sanitizer see any over-read.
        std::vector<uint8_t> cut(png.begin(), png.begin() + long(n));
        EXPECT_FALSE(LoadPixmapFrom(Ram(cut, n)));
        EXPECT_THROW(LoadPNGPixmap(Ram(cut, n)), TStreamReadException);
        WriteBytes(path, png, n);
        EXPECT_FALSE(LoadPixmapFrom(path));
        try {
            LoadPNGPixmap(path);
            ADD_FAILURE() << "no exception";
        } catch (const TStreamReadException& e) {
            EXPECT_STREQ(e.what(), "Error reading from stream");
        }
    }
    EXPECT_EQ(OpenFds(), fds);
    WriteBytes(path, png, png.size());
    EXPECT_TRUE(LoadPixmapFrom(path));
}

TEST(PngLoad, DamagedDataGivesNullAndClosesTheFile) {
    TempDir dir;
    const auto good = SmallPng();
    const size_t ihdr = FindChunk(good, "IHDR"), idat = FindChunk(good, "IDAT");
    const size_t fds = OpenFds();
    // Each damage: bytes to overwrite, and whether the chunk's checksum is
    // then made right again so that only the content is wrong.
    struct Damage {
        const char* what;
        size_t at;
        std::vector<uint8_t> bytes;
        size_t fixCrcOf;
    };
    const Damage damages[] = {
        {"header checksum", ihdr + 8 + 13, {uint8_t(good[ihdr + 8 + 13] ^ 0x55)}, 0},
        {"image data checksum", idat + 8 + 13 + 3, {uint8_t(good[idat + 8 + 13 + 3] ^ 0x01)}, 0},
        {"compressed stream header", idat + 8, {0, 0}, idat},
        {"compressed data", idat + 10, std::vector<uint8_t>(8, 0xFF), idat},
        {"zero width", ihdr + 8, {0, 0, 0, 0}, ihdr},
        {"colour type 5", ihdr + 8 + 9, {5}, ihdr},
        {"signature", 1, {'Q'}, 0},
    };
    for (const Damage& d : damages) {
        SCOPED_TRACE(d.what);
        auto bad = good;
        std::copy(d.bytes.begin(), d.bytes.end(), bad.begin() + long(d.at));
        if (d.fixCrcOf) FixChunkCrc(bad, d.fixCrcOf);
        WriteBytes(dir.File("bad.png"), bad, bad.size());
        EXPECT_FALSE(LoadPNGPixmap(dir.File("bad.png")));
        EXPECT_FALSE(LoadPixmapFrom(dir.File("bad.png")));
        EXPECT_EQ(OpenFds(), fds);
    }
}

TEST(PngLoad, OversizedImagesAreRefusedBeforeDecoding) {
    // Only the header tells the size: libpng must not be allowed to claim
    // gigabytes for rows before the (tiny) data runs out.
    auto make = [](uint32_t w, uint32_t h, uint8_t type) {
        auto png = SmallPng();
        size_t ihdr = FindChunk(png, "IHDR");
        for (int i = 0; i < 4; ++i) {
            png[ihdr + 8 + i] = uint8_t(w >> (24 - 8 * i));
            png[ihdr + 12 + i] = uint8_t(h >> (24 - 8 * i));
        }
        png[ihdr + 8 + 9] = type;
        FixChunkCrc(png, ihdr);
        return png;
    };
    for (auto [w, h, type] : {std::tuple{16384u, 16384u, uint8_t{6}}, std::tuple{16385u, 1u, uint8_t{0}},
                              std::tuple{1u, 100000u, uint8_t{0}}, std::tuple{0x7FFFFFFFu, 0x7FFFFFFFu, uint8_t{6}},
                              std::tuple{5000u, 5000u, uint8_t{6}}, std::tuple{14851u, 4864u, uint8_t{4}}}) {
        SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
        auto png = make(w, h, type);
        EXPECT_FALSE(LoadPixmapFrom(Ram(png, png.size())));
        EXPECT_FALSE(LoadPNGPixmap(Ram(png, png.size())));
    }
}

namespace {
// Serves bytes from memory and fails with a chosen exception at one offset.
class TFailingStream : public TStream {
public:
    static std::shared_ptr<TFailingStream> Over(const std::vector<uint8_t>& bytes, int32_t failAt) {
        auto s = std::make_shared<TFailingStream>();
        s->bytes_ = &bytes;
        s->failAt_ = failAt;
        return s;
    }
    int32_t Pos() override { return pos_; }
    int32_t Size() override { return int32_t(bytes_->size()); }
    int32_t Seek(int32_t p) override { return pos_ = p; }
    int32_t Read(void* buf, int32_t n) override {
        if (pos_ + n > failAt_) throw std::runtime_error("device lost");
        std::memcpy(buf, bytes_->data() + pos_, size_t(n));
        pos_ += n;
        return n;
    }
    int32_t Close() override {
        ++closes;
        return 0;
    }
    int closes = 0;

private:
    const std::vector<uint8_t>* bytes_ = nullptr;
    int32_t failAt_ = 0, pos_ = 0;
};
}  // namespace

TEST(PngLoad, ForeignExceptionsFromTheStreamPassThroughLibpng) {
    auto png = SmallPng();
    for (int32_t at : {4, 20, int32_t(png.size()) - 1}) {
        auto s = TFailingStream::Over(png, at);
        EXPECT_THROW(LoadPNGPixmap(s), std::runtime_error);
        s->Seek(0);
        EXPECT_THROW(LoadPixmapFrom(s), std::runtime_error) << "only stream errors count as refusal";
        EXPECT_EQ(s->closes, 0) << "a stream passed in stays open";
    }
}

TEST(PngLoad, AnOpenStreamIsReadInPlaceAndStaysOpen) {
    TempDir dir;
    auto png = SmallPng();
    std::vector<uint8_t> file = {'j', 'u', 'n', 'k'};
    file.insert(file.end(), png.begin(), png.end());
    file.push_back('!');
    WriteBytes(dir.File("embedded.bin"), file, file.size());
    auto stream = TCStream::OpenFile(dir.File("embedded.bin"), 1, 0);
    ASSERT_TRUE(stream);
    stream->Seek(4);
    auto p = LoadPNGPixmap(stream);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->width, 3);
    EXPECT_EQ(stream->Pos(), int32_t(4 + png.size()));
    EXPECT_EQ(stream->ReadByte(), '!');

    stream->Seek(4);
    auto q = LoadPixmapFrom(stream);
    ASSERT_TRUE(q);
    EXPECT_NE(stream->Handle(), nullptr);
    EXPECT_EQ(stream->ReadByte(), '!');
}

TEST(PngLoad, MissingAndEmbeddedSources) {
    TempDir dir;
    EXPECT_FALSE(LoadPNGPixmap(dir.File("Metaball.png")));
    EXPECT_FALSE(LoadPixmapFrom(dir.File("Metaball.png")));
    std::filesystem::create_directory(dir.File("Metaball.png"));
    EXPECT_FALSE(LoadPNGPixmap(dir.File("Metaball.png"))) << "a directory is no image, and no error either";

    static const std::vector<uint8_t> blob = SmallPng();
    ASSERT_EQ(RegisterEmbeddedFile("tiny.png", blob.data(), int32_t(blob.size())), 1);
    auto p = LoadPixmapFrom("incbin::tiny.png");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->format, PIXFMT_RGB24);
    EXPECT_TRUE(LoadPNGPixmap("incbin::tiny.png"));
    EXPECT_FALSE(LoadPixmapFrom("incbin::other.png"));
}

#ifdef FK_METABALL_PNG
TEST(MetaballAsset, IsASoftDiscThatEndsAtItsInscribedCircle) {
    auto p = LoadPNGPixmap(FK_METABALL_PNG);
    ASSERT_TRUE(p) << FK_METABALL_PNG;
    ASSERT_EQ(p->format, PIXFMT_RGBA32);
    ASSERT_EQ(p->width, 64);
    ASSERT_EQ(p->height, 64);
    uint32_t peak = 0;
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 64; ++x) {
            uint32_t c = p->ReadPixel(x, y);
            double dx = x + 0.5 - 32, dy = y + 0.5 - 32;
            if (dx * dx + dy * dy >= 32.0 * 32.0) {
                EXPECT_EQ(c, 0u) << x << "," << y;
            }
            // Mirror-symmetric, blue-white (blue >= green >= red), alpha follows brightness.
            EXPECT_EQ(c, p->ReadPixel(63 - x, y));
            EXPECT_EQ(c, p->ReadPixel(x, 63 - y));
            uint32_t a = c >> 24, r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
            EXPECT_TRUE(b >= g && g >= r && a == b) << std::hex << c;
            peak = std::max(peak, a);
        }
    }
    EXPECT_EQ(p->ReadPixel(31, 31) >> 24, peak) << "brightest at the centre";
    EXPECT_GE(peak, 250u);
    // Falls monotonically from the centre outwards along a row.
    for (int32_t x = 32; x < 63; ++x) EXPECT_GE(p->ReadPixel(x, 32) >> 24, p->ReadPixel(x + 1, 32) >> 24);
}
#endif
