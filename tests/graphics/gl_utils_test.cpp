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

#include <array>
#include <climits>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

const int32_t kWidth = 800, kHeight = 100;
const uint32_t kBlue = 0x0000FF, kWhite = 0xFFFFFF, kBlack = 0x000000;

// Everything of the caller's that the helpers promise to leave as found.
struct GLStateSnapshot {
    GLint binding = 0, rowLength = 0, alignment = 0, matrixMode = 0, attribDepth = 0, clientDepth = 0;
    std::array<GLdouble, 16> modelview{}, projection{};
    std::array<GLboolean, 5> enables{};

    static GLStateSnapshot Take() {
        GLStateSnapshot s;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &s.binding);
        glGetIntegerv(GL_UNPACK_ROW_LENGTH, &s.rowLength);
        glGetIntegerv(GL_UNPACK_ALIGNMENT, &s.alignment);
        glGetIntegerv(GL_MATRIX_MODE, &s.matrixMode);
        glGetIntegerv(GL_ATTRIB_STACK_DEPTH, &s.attribDepth);
        glGetIntegerv(GL_CLIENT_ATTRIB_STACK_DEPTH, &s.clientDepth);
        glGetDoublev(GL_MODELVIEW_MATRIX, s.modelview.data());
        glGetDoublev(GL_PROJECTION_MATRIX, s.projection.data());
        const GLenum caps[5] = {GL_TEXTURE_2D, GL_CULL_FACE, GL_ALPHA_TEST, GL_DEPTH_TEST, GL_BLEND};
        for (int i = 0; i < 5; ++i) s.enables[i] = glIsEnabled(caps[i]);
        return s;
    }
    bool operator==(const GLStateSnapshot& o) const {
        return std::tie(binding, rowLength, alignment, matrixMode, attribDepth, clientDepth, modelview,
                        projection, enables) ==
               std::tie(o.binding, o.rowLength, o.alignment, o.matrixMode, o.attribDepth, o.clientDepth,
                        o.modelview, o.projection, o.enables);
    }
};

// A pixmap whose every pixel differs from its neighbours.
std::shared_ptr<TPixmap> Pattern(int32_t width, int32_t height, int32_t format) {
    auto p = TPixmap::Create(width, height, format);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            p->WritePixel(x, y, 0xFF000000u | (x * 12 % 256) << 16 | (y * 24 % 256) << 8 | ((x + y) * 7 % 256));
    return p;
}

std::vector<unsigned char> Bytes(const TPixmap& p) {
    std::vector<unsigned char> out;
    for (int32_t y = 0; y < p.height; ++y)
        out.insert(out.end(), p.PixelPtr(0, y), p.PixelPtr(0, y) + p.width * FormatByteSize[p.format]);
    return out;
}

// Width and height of each level of the 2-D texture, as the GL reports them, up to the first empty one.
std::vector<std::pair<GLint, GLint>> LevelSizes(GLuint texture) {
    std::vector<std::pair<GLint, GLint>> sizes;
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
std::vector<unsigned char> LevelBytes(GLuint texture, GLint level, GLint w, GLint h) {
    std::vector<unsigned char> out(static_cast<size_t>(w) * h * 4);
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
        // The main program's frame: alpha test on, no blending, black clear colour.
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GREATER, 0.0f);
        glDisable(GL_BLEND);
    }
    void TearDown() override { EndOpenedGraphics(); }

    static void Clear(uint32_t rgb) {
        glClearColor((rgb >> 16) / 255.0f, (rgb >> 8 & 0xFF) / 255.0f, (rgb & 0xFF) / 255.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
    }
    // The frame's pixels as 0xRRGGBB, rows top first, in window coordinates from the top-left corner.
    static std::vector<uint32_t> Read(int32_t x, int32_t y, int32_t w, int32_t h) {
        std::vector<unsigned char> rgba(static_cast<size_t>(w) * h * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(x, kHeight - y - h, w, h, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        std::vector<uint32_t> out(static_cast<size_t>(w) * h);
        for (int32_t row = 0; row < h; ++row)
            for (int32_t col = 0; col < w; ++col) {
                const unsigned char* p = &rgba[(static_cast<size_t>(h - 1 - row) * w + col) * 4];
                out[static_cast<size_t>(row) * w + col] = p[0] << 16 | p[1] << 8 | p[2];
            }
        return out;
    }
    // Checks the 8 x 16 cell at window (x, y): glyph g in ink on black, or the background when g < 0.
    static void ExpectCell(const std::vector<uint32_t>& frame, int32_t frameWidth, int32_t x, int32_t y,
                           int32_t g, uint32_t ink, uint32_t background) {
        int wrong = 0;
        for (int32_t row = 0; row < GL_FONT_CELL_HEIGHT; ++row)
            for (int32_t k = 0; k < GL_FONT_CELL_WIDTH; ++k) {
                const uint32_t want =
                    g < 0 ? background : FontInk(GLDrawTextFontData, g, k, row) ? ink : kBlack;
                wrong += frame[static_cast<size_t>(y + row) * frameWidth + x + k] != want;
            }
        EXPECT_EQ(wrong, 0) << "cell at x " << x << " (glyph " << g << ")";
    }

    GLint maxSize = 0;
};

TEST(GLUtilsNoContextTest, NextPowerOfTwo) {
    const std::pair<int32_t, int32_t> table[] = {
        {-5, 1}, {0, 1}, {1, 1}, {2, 2}, {3, 4}, {64, 64}, {65, 128}, {1 << 30, 1 << 30},
        // Past the largest int32 power of two the answer stays there rather than overflowing.
        {(1 << 30) + 1, 1 << 30}, {INT32_MAX, 1 << 30}};
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

    // Space and DEL are blank; every other glyph has ink and no two are alike.
    auto glyph = [](int32_t g) {
        std::string rows;
        for (int32_t y = 0; y < GL_FONT_CELL_HEIGHT; ++y) rows += static_cast<char>(GLDrawTextFontData[96 * y + g]);
        return rows;
    };
    EXPECT_EQ(glyph(0), std::string(16, '\0'));
    EXPECT_EQ(glyph(95), std::string(16, '\0'));
    std::set<std::string> shapes;
    for (int32_t g = 1; g < 95; ++g) {
        EXPECT_NE(glyph(g), std::string(16, '\0')) << "code " << g + 32;
        shapes.insert(glyph(g));
    }
    EXPECT_EQ(shapes.size(), 94u);
    // The layout's rows: '_' is one row of ink.
    int underscoreRows = 0;
    for (int32_t y = 0; y < GL_FONT_CELL_HEIGHT; ++y) underscoreRows += glyph('_' - 32)[y] != 0;
    EXPECT_EQ(underscoreRows, 1);
}

TEST_F(GLUtilsTest, MipLevelsAreEachResampledFromTheLevelBefore) {
    auto source = Pattern(100, 30, PIXFMT_RGB24);
    const std::vector<unsigned char> before = Bytes(*source);
    glBindTexture(GL_TEXTURE_2D, 0);
    // The caller's unpacking would read other bytes than the pixmap's rows; it does not apply.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 3);
    const GLuint texture = static_cast<GLuint>(UploadPixmapTexture(source, 1));
    ASSERT_NE(texture, 0u);
    EXPECT_EQ(Bytes(*source), before) << "the caller's pixmap is never modified";

    const std::vector<std::pair<GLint, GLint>> want = {{128, 32}, {64, 16}, {32, 8}, {16, 4},
                                                       {8, 2},    {4, 1},   {2, 1},  {1, 1}};
    EXPECT_EQ(LevelSizes(texture), want);
    auto level0 = ResamplePixmap(source->Convert(PIXFMT_RGBA32), 128, 32);
    auto level1 = ResamplePixmap(level0, 64, 16);
    auto level2 = ResamplePixmap(level1, 32, 8);
    EXPECT_EQ(LevelBytes(texture, 0, 128, 32), Bytes(*level0));
    EXPECT_EQ(LevelBytes(texture, 1, 64, 16), Bytes(*level1));
    EXPECT_EQ(LevelBytes(texture, 2, 32, 8), Bytes(*level2));

    // Without mipmaps: level 0 only.
    const GLuint single = static_cast<GLuint>(UploadPixmapTexture(source, 0));
    EXPECT_EQ(LevelSizes(single), (std::vector<std::pair<GLint, GLint>>{{128, 32}}));
    // An empty pixmap: one transparent black pixel.
    const GLuint empty = static_cast<GLuint>(UploadPixmapTexture(TPixmap::Create(0, 0, PIXFMT_RGBA32), 1));
    EXPECT_EQ(LevelSizes(empty), (std::vector<std::pair<GLint, GLint>>{{1, 1}}));
    EXPECT_EQ(LevelBytes(empty, 0, 1, 1), std::vector<unsigned char>(4, 0));

    EXPECT_THROW(UploadPixmapTexture(nullptr, 1), TNullObjectError);
}

TEST_F(GLUtilsTest, SizesTheGLRefusesAreHalved) {
    ASSERT_GE(maxSize, 64);
    int32_t w = 1, h = 2 * maxSize;
    FitTextureSize(w, h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(1, maxSize));
    // Both dimensions halve together, the one at 1 stays there.
    w = 4 * maxSize, h = 3;
    FitTextureSize(w, h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(maxSize, 1));
    w = 100, h = 30;
    FitTextureSize(w, h);
    EXPECT_EQ(std::make_pair(w, h), std::make_pair(128, 32));

    // A pixmap one pixel taller than the GL takes comes out at the largest size it does take.
    const GLuint tall = static_cast<GLuint>(UploadPixmapTexture(Pattern(2, maxSize + 1, PIXFMT_RGBA32), 0));
    EXPECT_EQ(LevelSizes(tall), (std::vector<std::pair<GLint, GLint>>{{1, maxSize}}));
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
    const GLStateSnapshot before = GLStateSnapshot::Take();

    auto pixmap = Pattern(13, 7, PIXFMT_BGR24);
    const std::pair<const char*, std::function<void()>> operations[] = {
        {"UploadPixmapTexture", [&] { UploadPixmapTexture(pixmap, 1); }},
        {"DrawGLText (first, makes the font)", [] { DrawGLText("Hello", 3, 4); }},
        {"DrawGLText", [] { DrawGLText("again", 3, 4); }},
        {"DrawGLPixmap", [&] { DrawGLPixmap(pixmap, -2, 5); }},
        {"DrawGLRect", [] { DrawGLRect(1, 2, 30, 40); }},
        {"BeginGL2D + EndGL2D", [] { BeginGL2D(); EndGL2D(); }},
    };
    for (const auto& [name, run] : operations) {
        run();
        EXPECT_TRUE(GLStateSnapshot::Take() == before) << name;
    }
    EXPECT_THROW(DrawGLPixmap(nullptr, 0, 0), TNullObjectError);
    EXPECT_TRUE(GLStateSnapshot::Take() == before) << "DrawGLPixmap(null)";
}

TEST_F(GLUtilsTest, FontAtlasHasElevenLevelsAndIsMadeOnce) {
    DrawGLText("", 0, 0);  // draws nothing, but makes the font texture
    const GLuint font = static_cast<GLuint>(GLUtilsFontTexture());
    ASSERT_NE(font, 0u);
    const std::vector<std::pair<GLint, GLint>> want = {{1024, 16}, {512, 8}, {256, 4}, {128, 2},
                                                       {64, 1},    {32, 1},  {16, 1},  {8, 1},
                                                       {4, 1},     {2, 1},   {1, 1}};
    EXPECT_EQ(LevelSizes(font), want);
    EXPECT_EQ(LevelBytes(font, 0, 1024, 16), Bytes(*BuildFontAtlas(GLDrawTextFontData)));
    DrawGLText("abc", 0, 0);
    EXPECT_EQ(static_cast<GLuint>(GLUtilsFontTexture()), font);
}

TEST_F(GLUtilsTest, TextReadsBackGlyphByGlyph) {
    Clear(kBlue);
    glColor3f(1.0f, 1.0f, 1.0f);
    std::string all;
    for (int c = 32; c <= 127; ++c) all += static_cast<char>(c);
    DrawGLText(all, 8, 10);
    // Tab, 'é' (two UTF-8 bytes, one cell) and a stray byte each leave one empty cell.
    glColor3f(1.0f, 1.0f, 0.0f);  // the glyphs take the current colour
    DrawGLText("A\tB\xC3\xA9" "C\xFF" "D", 0, 40);
    // Half outside the window on the left and at the top.
    glColor3f(1.0f, 1.0f, 1.0f);
    DrawGLText("WX", -4, -8);

    const std::vector<uint32_t> frame = Read(0, 0, kWidth, kHeight);
    for (int32_t g = 0; g < 96; ++g) ExpectCell(frame, kWidth, 8 + 8 * g, 10, g, kWhite, kBlue);
    ExpectCell(frame, kWidth, 0, 10, -1, kWhite, kBlue);            // nothing before the text
    ExpectCell(frame, kWidth, 8 + 8 * 96, 10, -1, kWhite, kBlue);   // nor after it

    const int32_t cells[] = {'A' - 32, -1, 'B' - 32, -1, 'C' - 32, -1, 'D' - 32, -1};
    for (int32_t i = 0; i < 8; ++i) ExpectCell(frame, kWidth, 8 * i, 40, cells[i], 0xFFFF00, kBlue);

    // The visible part of "WX": columns 4..7 and rows 8..15 of 'W', then all of 'X' from row 8.
    int wrong = 0;
    for (int32_t row = 0; row < 8; ++row)
        for (int32_t x = 0; x < 12; ++x) {
            const int32_t g = x < 4 ? 'W' - 32 : 'X' - 32, k = x < 4 ? x + 4 : x - 4;
            const uint32_t want = FontInk(GLDrawTextFontData, g, k, row + 8) ? kWhite : kBlack;
            wrong += frame[static_cast<size_t>(row) * kWidth + x] != want;
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(GLUtilsTest, PixmapsAndRectanglesLandOnTheirPixels) {
    Clear(kBlue);
    auto pixmap = Pattern(20, 10, PIXFMT_RGB24);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 7);  // the caller's, not the pixmap's
    DrawGLPixmap(pixmap, -5, -3);  // starts outside the viewport: its visible part shows
    DrawGLPixmap(pixmap, 100, 50);
    glColor3f(1.0f, 0.0f, 0.0f);
    DrawGLRect(300, 20, 30, 40);

    const std::vector<uint32_t> frame = Read(0, 0, kWidth, kHeight);
    auto at = [&](int32_t x, int32_t y) { return frame[static_cast<size_t>(y) * kWidth + x]; };
    int wrongCorner = 0, wrongPlaced = 0;
    for (int32_t y = 0; y < 10; ++y)
        for (int32_t x = 0; x < 20; ++x) {
            const uint32_t want = pixmap->ReadPixel(x, y) & 0xFFFFFF;
            if (x >= 5 && y >= 3) wrongCorner += at(x - 5, y - 3) != want;
            wrongPlaced += at(100 + x, 50 + y) != want;
        }
    EXPECT_EQ(wrongCorner, 0);
    EXPECT_EQ(wrongPlaced, 0);
    EXPECT_EQ(at(15, 0), kBlue);
    EXPECT_EQ(at(0, 7), kBlue);
    EXPECT_EQ(at(99, 50), kBlue);
    EXPECT_EQ(at(100, 60), kBlue);

    EXPECT_EQ(at(300, 20), 0xFF0000u);
    EXPECT_EQ(at(329, 59), 0xFF0000u);
    EXPECT_EQ(at(299, 20), kBlue);
    EXPECT_EQ(at(330, 59), kBlue);
    EXPECT_EQ(at(329, 60), kBlue);
}

}  // namespace
