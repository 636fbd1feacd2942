// The GL texture, text and drawing helpers in a real context on a private X
// server with Mesa's software renderer: texture sizes and levels as the GL
// reports them, sizes the GL refuses, the caller's state kept, and text and
// pixmaps read back pixel by pixel.

#include <gtest/gtest.h>

#include "graphics/gl/gl_font.h"
#include "graphics/gl/gl_graphics.h"
#include "graphics/gl/gl_utils.h"
#include "graphics/gl/gl_utils_internal.h"
#include "graphics/graphics.h"
#include "runtime/errors.h"
#include "stream/embedded.h"
#include "tests/support/xvfb.h"

#include <GL/gl.h>

#include <climits>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

const int32_t kWidth = 800, kHeight = 100;
const uint32_t kBlue = 0x0000FF, kWhite = 0xFFFFFF, kBlack = 0x000000;
using Sizes = std::vector<std::pair<GLint, GLint>>;
using Bytes = std::vector<unsigned char>;

// Everything of the caller's that the helpers promise to leave as found.
std::vector<double> CallerState() {
    std::vector<double> s;
    for (GLenum e : {GL_TEXTURE_BINDING_2D, GL_UNPACK_ROW_LENGTH, GL_UNPACK_ALIGNMENT, GL_MATRIX_MODE,
                     GL_ATTRIB_STACK_DEPTH, GL_CLIENT_ATTRIB_STACK_DEPTH}) {
        GLint v = 0;
        glGetIntegerv(e, &v);
        s.push_back(v);
    }
    for (GLenum m : {GL_MODELVIEW_MATRIX, GL_PROJECTION_MATRIX}) {
        GLdouble v[16];
        glGetDoublev(m, v);
        s.insert(s.end(), v, v + 16);
    }
    for (GLenum cap : {GL_TEXTURE_2D, GL_CULL_FACE, GL_ALPHA_TEST, GL_DEPTH_TEST, GL_BLEND})
        s.push_back(glIsEnabled(cap));
    return s;
}

// A pixmap whose every pixel differs from its neighbours.
std::shared_ptr<TPixmap> Pattern(int32_t width, int32_t height, int32_t format) {
    auto p = TPixmap::Create(width, height, format);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            p->WritePixel(x, y, 0xFF000000u | (x * 12 % 256) << 16 | (y * 24 % 256) << 8 | ((x + y) * 7 % 256));
    return p;
}

Bytes BytesOf(const TPixmap& p) {
    Bytes out;
    for (int32_t y = 0; y < p.height; ++y)
        out.insert(out.end(), p.PixelPtr(0, y), p.PixelPtr(0, y) + p.width * FormatByteSize[p.format]);
    return out;
}

// Width and height of each level of the 2-D texture, as the GL reports them, up to the first empty one.
Sizes LevelSizes(GLuint texture) {
    Sizes sizes;
    glBindTexture(GL_TEXTURE_2D, texture);
    for (GLint level = 0; level < 20; ++level) {
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, level, GL_TEXTURE_HEIGHT, &h);
        if (w == 0) break;
        sizes.emplace_back(w, h);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    return sizes;
}

// The RGBA bytes of one level of the texture, top row first.
Bytes LevelBytes(GLuint texture, GLint level, GLint w, GLint h) {
    Bytes out(static_cast<size_t>(w) * h * 4);
    glBindTexture(GL_TEXTURE_2D, texture);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, level, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
    glBindTexture(GL_TEXTURE_2D, 0);
    return out;
}

// A fresh 800 x 100 window and context; the helpers' state starts over with it.
class GLUtilsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(OpenGLGraphics(kWidth, kHeight, 0, 0, 0));
        ResetGLUtilsState();
        GLint drawBuffer = 0;
        glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
        glReadBuffer(static_cast<GLenum>(drawBuffer));
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
        // The main program's frame: alpha test on, no blending.
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GREATER, 0.0f);
        glDisable(GL_BLEND);
    }
    void TearDown() override { EndOpenedGraphics(); }

    static void Clear(uint32_t rgb) {
        glClearColor((rgb >> 16) / 255.0f, (rgb >> 8 & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // The whole frame as 0xRRGGBB, rows top first.
    void ReadFrame() {
        Bytes rgba(static_cast<size_t>(kWidth) * kHeight * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        frame.assign(static_cast<size_t>(kWidth) * kHeight, 0);
        for (int32_t row = 0; row < kHeight; ++row)
            for (int32_t col = 0; col < kWidth; ++col) {
                const unsigned char* p = &rgba[(static_cast<size_t>(kHeight - 1 - row) * kWidth + col) * 4];
                frame[static_cast<size_t>(row) * kWidth + col] = p[0] << 16 | p[1] << 8 | p[2];
            }
    }
    // How many pixels of the w x h area at window (x0, y0) differ from want(x, y).
    int Wrong(int32_t x0, int32_t y0, int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& want) {
        int wrong = 0;
        for (int32_t y = y0; y < y0 + h; ++y)
            for (int32_t x = x0; x < x0 + w; ++x) wrong += frame[static_cast<size_t>(y) * kWidth + x] != want(x, y);
        return wrong;
    }
    // Checks the 8 x 16 cell at window (x, y): glyph g in ink on black, or the background when g < 0.
    void ExpectCell(int32_t x, int32_t y, int32_t g, uint32_t ink, uint32_t background) {
        EXPECT_EQ(Wrong(x, y, GL_FONT_CELL_WIDTH, GL_FONT_CELL_HEIGHT,
                        [&](int32_t px, int32_t py) {
                            return g < 0 ? background : FontInk(GLDrawTextFontData, g, px - x, py - y) ? ink : kBlack;
                        }),
                  0)
            << "cell at x " << x << " (glyph " << g << ")";
    }

    GLint maxSize = 0;
    std::vector<uint32_t> frame;
};

TEST(GLUtilsNoContextTest, NextPowerOfTwo) {
    const std::pair<int32_t, int32_t> table[] = {
        {-5, 1},
        {0, 1},
        {1, 1},
        {2, 2},
        {3, 4},
        {64, 64},
        {65, 128},
        {1 << 30, 1 << 30},
        // Past the largest int32 power of two the answer stays there rather than overflowing.
        {(1 << 30) + 1, 1 << 30},
        {INT32_MAX, 1 << 30}};
    for (auto [n, want] : table) EXPECT_EQ(NextPowerOfTwo(n), want) << n;
}

// Without a current context the GL takes no size at all: the error reaches every caller,
// and DrawGLText keeps no font texture it could not make.
TEST(GLUtilsNoContextTest, NoSizeAcceptedRaisesUnableToCalculateTexSize) {
    StartGLGraphicsModule();
    GLGraphicsDriverInstance()->SetGraphics(nullptr);
    ResetGLUtilsState();
    int32_t w = 100, h = 30;
    try {
        FitTextureSize(w, h);
        FAIL() << "no error";
    } catch (const TRuntimeError& e) {
        EXPECT_STREQ(e.what(), "Unable to calculate tex size");
    }
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(1, 1));  // halved all the way down first
    EXPECT_THROW(UploadPixmapTexture(Pattern(4, 4, PIXFMT_RGBA32), 1), TRuntimeError);
    EXPECT_THROW(DrawGLText("x", 0, 0), TRuntimeError);
    EXPECT_EQ(GLUtilsFontTexture(), 0);
}

TEST(GLUtilsNoContextTest, BuiltInFontIsRegisteredAndLegible) {
    StartGLGraphicsModule();
    ASSERT_EQ(EmbeddedFileSize("gldrawtextfont.bin"), 1536);
    EXPECT_EQ(EmbeddedFileData("gldrawtextfont.bin"), static_cast<const void*>(GLDrawTextFontData));
    EXPECT_EQ(RegisterGLDrawTextFont(), 0);  // a second registration changes nothing
    // Space and DEL are blank; every other glyph has ink and no two are alike; '_' is one row of ink.
    std::set<std::string> shapes;
    for (int32_t g = 0; g < 96; ++g) {
        std::string rows;
        int inkRows = 0;
        for (int32_t y = 0; y < GL_FONT_CELL_HEIGHT; ++y) {
            rows += static_cast<char>(GLDrawTextFontData[96 * y + g]);
            inkRows += rows.back() != 0;
        }
        EXPECT_EQ(inkRows == 0, g == 0 || g == 95) << "code " << g + 32;
        EXPECT_TRUE(g != '_' - 32 || inkRows == 1) << inkRows;
        shapes.insert(rows);
    }
    EXPECT_EQ(shapes.size(), 95u);  // the 94 inked glyphs and the blank
}

TEST_F(GLUtilsTest, UploadsHaveTheLevelsTheGLTakesEachResampledFromTheOneBefore) {
    // Sizes the GL refuses halve, both dimensions together, one at 1 staying there.
    ASSERT_GE(maxSize, 64);
    const std::pair<std::pair<int32_t, int32_t>, std::pair<int32_t, int32_t>> fits[] = {
        {{1, 2 * maxSize}, {1, maxSize}}, {{4 * maxSize, 3}, {maxSize, 1}}, {{100, 30}, {128, 32}}};
    for (auto [size, want] : fits) {
        FitTextureSize(size.first, size.second);
        EXPECT_EQ(size, want);
    }

    auto source = Pattern(100, 30, PIXFMT_RGB24);
    const Bytes before = BytesOf(*source);
    auto level0 = ResamplePixmap(source->Convert(PIXFMT_RGBA32), 128, 32);
    auto level1 = ResamplePixmap(level0, 64, 16);
    // The caller's unpacking would read other bytes than the pixmap's rows; it does not apply.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 3);
    struct Upload {
        const char* name;
        std::function<int32_t()> make;
        Sizes levels;
        std::vector<Bytes> content;  // of the first levels
    };
    const Upload uploads[] = {
        {"mipmapped",
         [&] { return UploadPixmapTexture(source, 1); },
         {{128, 32}, {64, 16}, {32, 8}, {16, 4}, {8, 2}, {4, 1}, {2, 1}, {1, 1}},
         {BytesOf(*level0), BytesOf(*level1), BytesOf(*ResamplePixmap(level1, 32, 8))}},
        {"level 0 only", [&] { return UploadPixmapTexture(source, 0); }, {{128, 32}}, {BytesOf(*level0)}},
        {"empty: one transparent black pixel",
         [] { return UploadPixmapTexture(TPixmap::Create(0, 0, PIXFMT_RGBA32), 1); },
         {{1, 1}},
         {Bytes(4, 0)}},
        {"one pixel taller than the GL takes: the largest size it does take",
         [&] { return UploadPixmapTexture(Pattern(2, maxSize + 1, PIXFMT_RGBA32), 0); },
         {{1, maxSize}},
         {}},
        {"the font atlas, made by a DrawGLText that draws nothing",
         [] {
             DrawGLText("", 0, 0);
             return GLUtilsFontTexture();
         },
         {{1024, 16}, {512, 8}, {256, 4}, {128, 2}, {64, 1}, {32, 1}, {16, 1}, {8, 1}, {4, 1}, {2, 1}, {1, 1}},
         {BytesOf(*BuildFontAtlas(GLDrawTextFontData))}},
    };
    for (const Upload& u : uploads) {
        SCOPED_TRACE(u.name);
        const GLuint texture = static_cast<GLuint>(u.make());
        ASSERT_NE(texture, 0u);
        EXPECT_EQ(LevelSizes(texture), u.levels);
        for (GLint l = 0; l < static_cast<GLint>(u.content.size()); ++l)
            EXPECT_EQ(LevelBytes(texture, l, u.levels[l].first, u.levels[l].second), u.content[l]) << "level " << l;
    }
    EXPECT_EQ(BytesOf(*source), before) << "the caller's pixmap is never modified";
    const int32_t font = GLUtilsFontTexture();
    DrawGLText("abc", 0, 0);
    EXPECT_EQ(GLUtilsFontTexture(), font) << "the font texture is made once";
    EXPECT_THROW(UploadPixmapTexture(nullptr, 1), TNullObjectError);
}

TEST_F(GLUtilsTest, EveryOperationLeavesTheCallersStateAsItWas) {
    // An awkward caller: its own texture bound and enabled, odd unpacking, moved matrices,
    // the texture matrix mode, culling, depth test and blending on.
    GLuint own = 0;
    glGenTextures(1, &own);
    glBindTexture(GL_TEXTURE_2D, own);
    glEnable(GL_TEXTURE_2D);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glMatrixMode(GL_PROJECTION);
    glOrtho(-3, 5, -2, 9, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glTranslated(0.25, -0.5, 0);
    glRotated(30, 0, 0, 1);
    glMatrixMode(GL_TEXTURE);
    glEnable(GL_CULL_FACE);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    const std::vector<double> before = CallerState();

    auto pixmap = Pattern(13, 7, PIXFMT_BGR24);
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"UploadPixmapTexture", [&] { UploadPixmapTexture(pixmap, 1); }},
        {"DrawGLText (first, makes the font)", [] { DrawGLText("Hello", 3, 4); }},
        {"DrawGLText", [] { DrawGLText("again", 3, 4); }},
        {"DrawGLPixmap", [&] { DrawGLPixmap(pixmap, -2, 5); }},
        {"DrawGLPixmap(null)", [] { EXPECT_THROW(DrawGLPixmap(nullptr, 0, 0), TNullObjectError); }},
        {"DrawGLRect", [] { DrawGLRect(1, 2, 30, 40); }},
        {"BeginGL2D + EndGL2D",
         [] {
             BeginGL2D();
             EndGL2D();
         }},
    };
    for (const auto& [name, run] : operations) {
        run();
        EXPECT_EQ(CallerState(), before) << name;
    }
}

TEST_F(GLUtilsTest, TextPixmapsAndRectanglesLandOnTheirPixels) {
    Clear(kBlue);
    glColor3f(1.0f, 1.0f, 1.0f);
    std::string all;
    for (int c = 32; c <= 127; ++c) all += static_cast<char>(c);
    DrawGLText(all, 8, 10);
    // Tab, 'é' (two UTF-8 bytes, one cell) and a stray byte each leave one empty cell.
    glColor3f(1.0f, 1.0f, 0.0f);  // the glyphs take the current colour
    DrawGLText(
        "A\tB\xC3\xA9"
        "C\xFF"
        "D",
        0, 40);
    glColor3f(1.0f, 1.0f, 1.0f);
    DrawGLText("WX", -4, -8);  // half outside the window on the left and at the top

    ReadFrame();
    for (int32_t g = -1; g <= 96; ++g)  // nothing before the text, nor after it
        ExpectCell(8 + 8 * g, 10, g < 96 ? g : -1, kWhite, kBlue);
    const int32_t cells[] = {'A' - 32, -1, 'B' - 32, -1, 'C' - 32, -1, 'D' - 32, -1};
    for (int32_t i = 0; i < 8; ++i) ExpectCell(8 * i, 40, cells[i], 0xFFFF00, kBlue);
    // The visible part of "WX": columns 4..7 and rows 8..15 of 'W', then all of 'X' from row 8.
    EXPECT_EQ(Wrong(0, 0, 12, 8,
                    [](int32_t x, int32_t y) {
                        return FontInk(GLDrawTextFontData, x < 4 ? 'W' - 32 : 'X' - 32, x < 4 ? x + 4 : x - 4, y + 8)
                                   ? kWhite
                                   : kBlack;
                    }),
              0);

    Clear(kBlue);
    auto pixmap = Pattern(20, 10, PIXFMT_RGB24);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);  // the caller's, not the pixmap's
    DrawGLPixmap(pixmap, -5, -3);            // starts outside the viewport: its visible part shows
    DrawGLPixmap(pixmap, 100, 50);
    glColor3f(1.0f, 0.0f, 0.0f);
    DrawGLRect(300, 20, 30, 40);
    ReadFrame();
    // Each area with a rim of background around what was drawn.
    auto drawn = [&](int32_t left, int32_t top, int32_t w, int32_t h, auto&& colour) {
        return [=](int32_t x, int32_t y) {
            return x >= left && x < left + w && y >= top && y < top + h ? colour(x - left, y - top) : kBlue;
        };
    };
    auto shown = [&](int32_t x, int32_t y) { return pixmap->ReadPixel(x, y) & 0xFFFFFF; };
    EXPECT_EQ(Wrong(0, 0, 21, 11, drawn(-5, -3, 20, 10, shown)), 0);
    EXPECT_EQ(Wrong(99, 49, 22, 12, drawn(100, 50, 20, 10, shown)), 0);
    EXPECT_EQ(Wrong(299, 19, 32, 42, drawn(300, 20, 30, 40, [](int32_t, int32_t) { return 0xFF0000u; })), 0);
}

}  // namespace
