// Pixmap layout, pixel packing, conversion, resampling, flips, the mask
// colour and the loader chain.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "image/loader.h"
#include "image/png.h"
#include "image/pixmap.h"
#include "stream/ramstream.h"

namespace {
std::vector<uint8_t> Bytes(const unsigned char* p, size_t n) { return std::vector<uint8_t>(p, p + n); }

std::vector<uint8_t> ConvertRun(const std::vector<uint8_t>& src, int32_t from, int32_t to, int32_t n) {
    std::vector<uint8_t> out(size_t(n) * FormatByteSize[to], 0xEE);
    ConvertPixelRun(src.data(), from, out.data(), to, n);
    return out;
}
}  // namespace

TEST(Pixmap, CreatePadsRowsToTheAlignment) {
    EXPECT_EQ((std::vector<int32_t>(FormatByteSize, FormatByteSize + 13)),
              (std::vector<int32_t>{0, 1, 1, 3, 3, 4, 4, 1, 1, 1, 1, 1, 1}));
    auto rgb = TPixmap::Create(3, 2, PIXFMT_RGB24, 4);
    EXPECT_EQ(rgb->pitch, 12);
    EXPECT_EQ(rgb->capacity, 24);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(rgb->pixels) % 16, 0u);
    EXPECT_EQ(TPixmap::Create(3, 2, PIXFMT_GREY8, 4)->pitch, 4);
    EXPECT_EQ(TPixmap::Create(5, 1, PIXFMT_RGBA32, 4)->pitch, 20);
    EXPECT_EQ(TPixmap::Create(5, 1, PIXFMT_RGB24, 1)->pitch, 15);
    EXPECT_EQ(TPixmap::Create(0, 0, PIXFMT_RGB24, 4)->capacity, 0);
    // Sizes that cannot be held are refused instead of overflowing.
    EXPECT_THROW(TPixmap::Create(70000, 70000, PIXFMT_RGBA32, 4), TRuntimeError);
    EXPECT_THROW(TPixmap::Create(-1, 2, PIXFMT_RGB24, 4), TRuntimeError);
    EXPECT_THROW(TPixmap::Create(2, 2, 13, 4), TRuntimeError);
    EXPECT_THROW(TPixmap::Create(2, 2, PIXFMT_GREY8, 0), TRuntimeError);
    EXPECT_EQ(PixmapPitch(CreatePixmap(7, 1, PIXFMT_GREY8, 8)), 8);
    EXPECT_THROW(PixmapWidth(nullptr), TNullObjectError);
}

TEST(Pixmap, WindowsShareBytesAndKeepTheirParentAlive) {
    std::shared_ptr<TPixmap> win;
    {
        auto parent = TPixmap::Create(4, 4, PIXFMT_RGBA32, 4);
        parent->ClearPixels(0);
        win = parent->Window(1, 1, 2, 2);
        EXPECT_EQ(win->capacity, -1);
        EXPECT_EQ(win->pitch, parent->pitch);
        win->WritePixel(0, 0, 0x11223344u);
        EXPECT_EQ(parent->ReadPixel(1, 1), 0x11223344u);
        EXPECT_EQ(win->_source, parent);
    }
    // The parent's last outside reference is gone; the window still works.
    win->WritePixel(1, 1, 0xFFFFFFFFu);
    EXPECT_EQ(win->ReadPixel(1, 1), 0xFFFFFFFFu);
    EXPECT_EQ(win->_source->ReadPixel(2, 2), 0xFFFFFFFFu);

    unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    auto fixed = TPixmap::CreateStatic(block, 2, 2, 4, PIXFMT_GREY8);
    EXPECT_EQ(fixed->capacity, -1);
    EXPECT_EQ(fixed->ReadPixel(1, 1), 0xFF060606u);
}

TEST(Pixmap, ReadAndWritePixelPerFormat) {
    // What a written 0xAARRGGBB leaves in memory and what reads back.
    struct Case {
        int32_t format;
        uint32_t written;
        std::vector<uint8_t> stored;
        uint32_t read;
    };
    const Case cases[] = {
        {PIXFMT_RGBA32, 0x80102030u, {0x10, 0x20, 0x30, 0x80}, 0x80102030u},
        {PIXFMT_BGRA32, 0x80102030u, {0x30, 0x20, 0x10, 0x80}, 0x80102030u},
        {PIXFMT_RGB24, 0x00102030u, {0x10, 0x20, 0x30}, 0xFF102030u},  // no alpha: reads opaque
        {PIXFMT_BGR24, 0x801E140Au, {10, 20, 30}, 0xFF1E140Au},
        {PIXFMT_GREY8, 0x80102030u, {32}, 0xFF202020u},  // grey is the green
        {PIXFMT_ALPHA8, 0x4D345678u, {77}, 0x4DFFFFFFu},
    };
    for (const Case& c : cases) {
        auto p = TPixmap::Create(1, 1, c.format, 4);
        p->WritePixel(0, 0, c.written);
        EXPECT_EQ(Bytes(p->pixels, c.stored.size()), c.stored) << "format " << c.format;
        EXPECT_EQ(p->ReadPixel(0, 0), c.read) << "format " << c.format;
    }
    for (int32_t f = PIXFMT_RED8; f <= PIXFMT_LUMINANCE8; ++f) {
        auto p = TPixmap::Create(1, 1, f, 4);
        p->pixels[0] = 9;
        p->WritePixel(0, 0, 0xFFFFFFFFu);
        p->ClearPixels(0xFFFFFFFFu);
        EXPECT_EQ(p->pixels[0], 9);
        EXPECT_EQ(p->ReadPixel(0, 0), 0u);
    }
}

TEST(Pixmap, ConvertPixelRunFollowsTheHubRules) {
    // Into and out of RGBA: single channels, grey from green, black and white alphas.
    const std::vector<uint8_t> px = {1, 2, 5, 10};  // means that truncate: 8 / 3 and 18 / 4
    struct Case {
        std::vector<uint8_t> from;
        int32_t src, dst;
        std::vector<uint8_t> to;
    };
    const Case cases[] = {
        {px, PIXFMT_RGBA32, PIXFMT_INTENSITY8, {4}},
        {px, PIXFMT_RGBA32, PIXFMT_GREY8, {2}},
        {px, PIXFMT_RGBA32, PIXFMT_LUMINANCE8, {2}},
        {px, PIXFMT_RGBA32, PIXFMT_BGRA32, {5, 2, 1, 10}},
        {px, PIXFMT_RGBA32, PIXFMT_BLACK_ALPHA8, {10}},
        {px, PIXFMT_RGBA32, PIXFMT_GREEN8, {2}},
        {{7}, PIXFMT_BLACK_ALPHA8, PIXFMT_RGBA32, {0, 0, 0, 7}},
        {{7}, PIXFMT_INTENSITY8, PIXFMT_RGBA32, {7, 7, 7, 7}},
        {{7}, PIXFMT_BLUE8, PIXFMT_RGBA32, {0, 0, 7, 255}},
        {{7}, PIXFMT_LUMINANCE8, PIXFMT_RGBA32, {7, 7, 7, 255}},
        {{7}, PIXFMT_GREY8, PIXFMT_RGBA32, {7, 7, 7, 255}},
        {{77}, PIXFMT_ALPHA8, PIXFMT_RGBA32, {255, 255, 255, 77}},
        {{10, 20, 30}, PIXFMT_BGR24, PIXFMT_RGBA32, {30, 20, 10, 255}},
    };
    for (const Case& c : cases) EXPECT_EQ(ConvertRun(c.from, c.src, c.dst, 1), c.to) << c.src << " -> " << c.dst;

    // Between two non-hub formats, over more pixels than one piece of the
    // temporary buffer holds.
    const int32_t n = 1000;
    std::vector<uint8_t> bgr(size_t(n) * 3);
    for (size_t i = 0; i < bgr.size(); ++i) bgr[i] = uint8_t(i * 7);
    auto rgb = ConvertRun(bgr, PIXFMT_BGR24, PIXFMT_RGB24, n);
    for (int32_t i = 0; i < n; ++i) {
        ASSERT_EQ(rgb[3 * i], bgr[3 * i + 2]);
        ASSERT_EQ(rgb[3 * i + 1], bgr[3 * i + 1]);
        ASSERT_EQ(rgb[3 * i + 2], bgr[3 * i]);
    }
    auto alpha = ConvertRun(bgr, PIXFMT_BGR24, PIXFMT_ALPHA8, n);
    EXPECT_EQ(alpha, std::vector<uint8_t>(size_t(n), 255));
}

TEST(Pixmap, ClearPixelsLeavesRowPaddingAlone) {
    auto narrow = TPixmap::Create(3, 2, PIXFMT_RGB24, 4);
    std::fill(narrow->pixels, narrow->pixels + narrow->capacity, 0xAB);
    narrow->ClearPixels(0);
    for (int32_t y = 0; y < 2; ++y) {
        EXPECT_EQ(Bytes(narrow->PixelPtr(0, y), 9), std::vector<uint8_t>(9, 0));
        EXPECT_EQ(Bytes(narrow->PixelPtr(3, y), 3), std::vector<uint8_t>(3, 0xAB));
    }
    auto wide = TPixmap::Create(4, 2, PIXFMT_RGB24, 4);
    std::fill(wide->pixels, wide->pixels + wide->capacity, 0xAB);
    wide->ClearPixels(0);
    EXPECT_EQ(Bytes(wide->pixels, 24), std::vector<uint8_t>(24, 0));

    narrow->ClearPixels(0x80102030u);
    EXPECT_EQ(Bytes(narrow->PixelPtr(0, 1), 12),
              (std::vector<uint8_t>{0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0x10, 0x20, 0x30, 0xAB, 0xAB, 0xAB}));
    auto grey = TPixmap::Create(2, 2, PIXFMT_GREY8, 4);
    grey->ClearPixels(0x80102030u);
    EXPECT_EQ(grey->ReadPixel(1, 1), 0xFF202020u);
}

TEST(Pixmap, CopyPasteAndConvertWorkRowByRow) {
    auto src = TPixmap::Create(3, 2, PIXFMT_RGBA32, 8);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) src->WritePixel(x, y, 0xFF000000u | uint32_t(x * 40 + y * 100) << 8);
    auto copy = CopyPixmap(src);
    EXPECT_EQ(copy->pitch, 12);
    EXPECT_EQ(copy->ReadPixel(2, 1), src->ReadPixel(2, 1));

    auto dst = TPixmap::Create(5, 4, PIXFMT_BGR24, 4);
    dst->ClearPixels(0);
    dst->Paste(*src, 2, 1);
    EXPECT_EQ(dst->ReadPixel(1, 1), 0xFF000000u);
    EXPECT_EQ(dst->ReadPixel(2, 1), src->ReadPixel(0, 0));
    EXPECT_EQ(dst->ReadPixel(4, 2), src->ReadPixel(2, 1));

    auto grey = ConvertedPixmap(src, PIXFMT_GREY8);
    EXPECT_EQ(grey->format, PIXFMT_GREY8);
    EXPECT_EQ(grey->pitch, 4);
    EXPECT_EQ(grey->pixels[grey->pitch + 2], (180 / 3));
}

TEST(Pixmap, ResampleIsBilinearAndKeepsTheFormat) {
    auto one = TPixmap::Create(1, 1, PIXFMT_RGB24, 4);
    one->WritePixel(0, 0, 0xFF123456u);
    auto big = ResamplePixmap(one, 4, 4);
    for (int32_t y = 0; y < 4; ++y)
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(big->ReadPixel(x, y), 0xFF123456u);

    auto pair = TPixmap::Create(2, 1, PIXFMT_GREY8, 4);
    pair->pixels[0] = 0;
    pair->pixels[1] = 255;
    auto wide = ResamplePixmap(pair, 4, 1);
    EXPECT_EQ(wide->format, PIXFMT_GREY8);
    EXPECT_EQ(Bytes(wide->pixels, 4), (std::vector<uint8_t>{0, 63, 191, 255}));

    auto tall = TPixmap::Create(1, 2, PIXFMT_GREY8, 4);
    tall->pixels[0] = 0;
    tall->pixels[4] = 255;
    auto stretched = ResamplePixmap(tall, 1, 4);
    EXPECT_EQ(stretched->pixels[4], 63);
    EXPECT_EQ(stretched->pixels[8], 191);

    auto img = TPixmap::Create(5, 3, PIXFMT_RGBA32, 4);
    for (int32_t i = 0; i < img->capacity; ++i) img->pixels[i] = uint8_t(i * 31);
    auto same = ResamplePixmap(img, 5, 3);
    for (int32_t y = 0; y < 3; ++y) EXPECT_EQ(Bytes(same->PixelPtr(0, y), 20), Bytes(img->PixelPtr(0, y), 20));

    auto half = ResamplePixmap(img, 2, 1);
    EXPECT_EQ(half->width, 2);
    EXPECT_EQ(ResamplePixmap(img, 0, 0)->capacity, 0);
}

TEST(Pixmap, FlipsMirrorColumnsAndRows) {
    auto p = TPixmap::Create(3, 2, PIXFMT_RGB24, 4);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) p->WritePixel(x, y, uint32_t(x + 10 * y));
    auto h = HorizontalFlipPixmap(p);
    auto v = VerticalFlipPixmap(p);
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 3; ++x) {
            EXPECT_EQ(h->ReadPixel(x, y), p->ReadPixel(2 - x, y));
            EXPECT_EQ(v->ReadPixel(x, y), p->ReadPixel(x, 1 - y));
        }
}

TEST(Pixmap, MaskColourTakesTheMeanOfUnmaskedNeighbours) {
    auto p = TPixmap::Create(3, 3, PIXFMT_RGB24, 4);
    p->ClearPixels(0xFF5A0000u);
    p->WritePixel(1, 1, 0xFF00FF00u);
    auto m = ApplyMaskColour(p, 0, 255, 0);
    EXPECT_EQ(m->format, PIXFMT_RGBA32);
    EXPECT_EQ(Bytes(m->PixelPtr(1, 1), 4), (std::vector<uint8_t>{90, 0, 0, 0}));
    EXPECT_EQ(Bytes(m->PixelPtr(0, 0), 4), (std::vector<uint8_t>{90, 0, 0, 255}));

    // Neighbours come from the source: a masked corner next to other masked
    // pixels averages only the unmasked ones.
    auto q = TPixmap::Create(2, 2, PIXFMT_RGBA32, 4);
    q->ClearPixels(0xFF00FF00u);
    q->WritePixel(1, 1, 0xFF0A1420u);
    q->WritePixel(1, 0, 0x000C1620u);
    auto n = ApplyMaskColour(q, 0, 255, 0);
    EXPECT_EQ(Bytes(n->PixelPtr(0, 0), 4), (std::vector<uint8_t>{11, 21, 32, 0}));
    EXPECT_EQ(Bytes(n->PixelPtr(1, 0), 4), (std::vector<uint8_t>{12, 22, 32, 255}));

    auto all = TPixmap::Create(2, 2, PIXFMT_GREY8, 4);
    all->ClearPixels(0xFF070707u);
    auto z = ApplyMaskColour(all, 7, 7, 7);
    EXPECT_EQ(Bytes(z->pixels, 16), std::vector<uint8_t>(16, 0));
}

namespace {
// A loader that, when armed, reads a few bytes and refuses, raises a stream
// error, or raises something else; unarmed it refuses without reading.
enum class Mode { Off, ReadAndRefuse, StreamError, OtherError, Answer };
Mode gMode = Mode::Off;
std::vector<int32_t> gStarts;  // the stream position each call began at

class TProbeLoader : public TPixmapLoader {
public:
    std::shared_ptr<TPixmap> LoadPixmap(const std::shared_ptr<TStream>& stream) override {
        gStarts.push_back(stream->Pos());
        switch (gMode) {
        case Mode::Off: return nullptr;
        case Mode::ReadAndRefuse: stream->SkipBytes(3); return nullptr;
        case Mode::StreamError: stream->SkipBytes(1); throw TStreamReadException();
        case Mode::OtherError: throw std::logic_error("probe");
        case Mode::Answer: {
            auto p = TPixmap::Create(1, 1, PIXFMT_GREY8, 4);
            p->pixels[0] = uint8_t(stream->ReadByte());
            return p;
        }
        }
        return nullptr;
    }
};

// Serves 16 bytes 'A', 'B', ... (one letter per position) and counts closes;
// without a position it cannot be rewound.
class TLetterStream : public TStream {
public:
    int32_t Pos() override { return positioned ? pos : -1; }
    int32_t Seek(int32_t p) override { return pos = p; }
    int32_t Read(void* b, int32_t n) override {
        int32_t k = std::min(n, 16 - pos);
        if (k <= 0) return 0;
        std::memset(b, 'A' + pos, size_t(k));
        pos += k;
        return k;
    }
    int32_t Close() override {
        ++closes;
        return 0;
    }
    int32_t pos = 0;
    bool positioned = true;
    int closes = 0;
};
}  // namespace

TEST(LoaderChain, LoadersAreAskedNewestFirstFromTheSameStart) {
    EXPECT_THROW(TPixmapLoader().LoadPixmap(nullptr), TAbstractMethodError);
    ASSERT_TRUE(PixmapLoaders());
    EXPECT_NE(dynamic_cast<TPixmapLoaderPNG*>(PixmapLoaders().get()), nullptr)
        << "the PNG loader is in the chain without any start-up call";
    RegisterPixmapLoader(std::make_shared<TProbeLoader>());
    RegisterPixmapLoader(std::make_shared<TProbeLoader>());
    ASSERT_TRUE(PixmapLoaders()->Succ());

    auto s = std::make_shared<TLetterStream>();
    s->pos = 2;
    gMode = Mode::ReadAndRefuse;
    EXPECT_FALSE(LoadPixmapFrom(s)) << "not PNG data";
    gMode = Mode::StreamError;
    s->pos = 2;
    EXPECT_FALSE(LoadPixmapFrom(s)) << "stream errors are refusals";
    EXPECT_EQ(gStarts, std::vector<int32_t>(4, 2)) << "each loader starts where the caller left the stream";

    gMode = Mode::Answer;
    s->pos = 5;
    auto p = LoadPixmapFrom(s);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->pixels[0], 'A' + 5);

    gMode = Mode::OtherError;
    EXPECT_THROW(LoadPixmapFrom(s), std::logic_error);

    auto noPos = std::make_shared<TLetterStream>();
    noPos->positioned = false;
    gMode = Mode::Answer;
    gStarts.clear();
    EXPECT_FALSE(LoadPixmapFrom(noPos)) << "a stream that cannot rewind";
    EXPECT_TRUE(gStarts.empty());
    EXPECT_EQ(noPos->closes, 0) << "the caller's stream is only unwrapped";
    gMode = Mode::Off;
}
