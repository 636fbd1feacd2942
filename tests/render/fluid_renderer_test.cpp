// The renderer on a real GL context (Mesa's software rasteriser on a private
// X server): its frames against the same frames drawn in immediate mode, the
// boundary squares, the colours of the smooth field, and the GL state it
// leaves behind.

// GoogleTest comes before Xlib (pulled in by the X helpers), whose None macro it would trip over.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cstdint>
#include <tuple>
#include <vector>

#include "graphics/gl/gl_graphics.h"
#include "graphics/graphics.h"
#include "render/fluid_renderer.h"
#include "tests/render/reference_render.h"
#include "tests/render/support.h"
#include "tests/support/xvfb.h"

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

constexpr int kWidth = 800, kHeight = 600;
// The boundary squares' colour as the frame buffer holds it.
constexpr std::uint32_t kLightRed = 0xFF8080;

// The window's pixels, top row first, as 0xRRGGBB.
using Frame = std::vector<std::uint32_t>;

class FluidRendererTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        graphics_ = OpenGLGraphics(kWidth, kHeight, 0, 60, 10);
        if (graphics_) texture_ = MakeParticleTexture();
    }
    static void TearDownTestSuite() {
        graphics_.reset();
        EndOpenedGraphics();
    }

    // The state the main program sets once: pixel projection, alpha test.
    void SetUp() override {
        ASSERT_TRUE(graphics_) << "no OpenGL window on the private X server";
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, kWidth, kHeight, 0, -1, 1);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glEnable(GL_ALPHA_TEST);
        glAlphaFunc(GL_GREATER, 0.0f);
    }

    static Frame ReadFrame() {
        std::vector<std::uint8_t> rgba(static_cast<std::size_t>(kWidth) * kHeight * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kWidth, kHeight, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
        Frame frame(static_cast<std::size_t>(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y) {
            const std::uint8_t* row = &rgba[static_cast<std::size_t>(kHeight - 1 - y) * kWidth * 4];
            for (int x = 0; x < kWidth; ++x) {
                const std::uint8_t* p = row + 4 * x;
                frame[static_cast<std::size_t>(y) * kWidth + x] = (p[0] << 16) | (p[1] << 8) | p[2];
            }
        }
        return frame;
    }

    // A frame of world drawn by the renderer, or in immediate mode by the literal drawing,
    // after what the frame loop draws first: a cleared frame, the status line.
    static Frame Rendered(TRenderedSPH& world, bool literal = false) {
        world.ParticleTex = static_cast<std::int32_t>(texture_);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
        glRectf(0.0f, 0.0f, 480.0f, 16.0f);  // stands in for the status line
        literal ? LiteralRender(world) : world.Render();
        return ReadFrame();
    }

    // Both modes of world against the immediate-mode drawing, byte for byte.
    static void ExpectLiteralFrames(TRenderedSPH& world) {
        for (int mode : {0, 1}) {
            world.NiceRender = mode;
            const Frame ours = Rendered(world), literal = Rendered(world, true);
            std::size_t differ = 0, first = 0;
            for (std::size_t k = 0; k < ours.size(); ++k) {
                if (ours[k] != literal[k] && differ++ == 0) first = k;
            }
            EXPECT_EQ(differ, 0u) << "mode " << mode << ": first at (" << first % kWidth << ", " << first / kWidth
                                  << "): " << std::hex << ours[first] << " vs " << literal[first];
        }
    }

    static std::shared_ptr<TGraphics> graphics_;
    static GLuint texture_;
};

std::shared_ptr<TGraphics> FluidRendererTest::graphics_;
GLuint FluidRendererTest::texture_ = 0;

std::uint32_t At(const Frame& f, int x, int y) { return f[static_cast<std::size_t>(y) * kWidth + x]; }

std::size_t CountOf(const Frame& f, std::uint32_t colour) {
    std::size_t n = 0;
    for (std::uint32_t p : f) n += p == colour;
    return n;
}

TEST_F(FluidRendererTest, InitialSceneInBothModesAndAfterClicks) {
    auto world = InitialScene();
    for (int k = 0; k < 100; ++k) world->Update();
    ExpectLiteralFrames(*world);
    // A square of the floor, inside the liquid: ScreenX 50, ScreenY 500.
    const int fx = static_cast<int>(world->BoundaryParticles[0]->ScreenX);
    const int fy = static_cast<int>(world->BoundaryParticles[0]->ScreenY);
    Frame shown[2];
    for (int mode : {0, 1}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        world->NiceRender = mode;
        shown[mode] = Rendered(*world);
        // The boundary squares cover the liquid.
        for (int dy = -3; dy < 3; ++dy)
            for (int dx = -3; dx < 3; ++dx) ASSERT_EQ(At(shown[mode], fx + dx, fy + dy), kLightRed);
        // Blend and texturing off, no client array on, light red current, no GL error.
        EXPECT_FALSE(glIsEnabled(GL_BLEND));
        EXPECT_FALSE(glIsEnabled(GL_TEXTURE_2D));
        EXPECT_TRUE(glIsEnabled(GL_ALPHA_TEST));
        for (GLenum array : {GL_VERTEX_ARRAY, GL_COLOR_ARRAY, GL_TEXTURE_COORD_ARRAY})
            EXPECT_FALSE(glIsEnabled(array)) << "array " << array;
        GLfloat colour[4];
        glGetFloatv(GL_CURRENT_COLOR, colour);
        EXPECT_EQ(std::vector<GLfloat>(colour, colour + 4), (std::vector<GLfloat>{1.0f, 0.5f, 0.5f, 1.0f}));
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    }
    // The pictures hold liquid (sprite blobs, smooth mode's blue field) and differ;
    // any non-zero mode is smooth.
    EXPECT_GT(static_cast<std::size_t>(kWidth) * kHeight - CountOf(shown[0], 0), 60000u);
    EXPECT_NE(shown[0], shown[1]);
    for (int mode : {7, -1, 1 << 30}) {
        world->NiceRender = mode;
        EXPECT_EQ(Rendered(*world), shown[1]) << "mode " << mode;
    }

    // After clicks (a pour over a wall, a new wall), with empty elements in
    // both arrays, which are drawn as nothing.
    Click(*world, 1, 300, 300);
    Click(*world, 2, 600, 400);
    world->Update();
    world->Particles.insert(world->Particles.begin() + 10, nullptr);
    world->Particles.push_back(nullptr);
    world->BoundaryParticles.insert(world->BoundaryParticles.begin(), nullptr);
    ExpectLiteralFrames(*world);
}

TEST_F(FluidRendererTest, StripsWithGapsMatchImmediateModeDrawing) {
    // Blobs at the left and right edges, in the middle, and lone particles:
    // strips open with a gap, close gaps, and end inside liquid and in a gap.
    auto world = std::make_shared<TRenderedSPH>();
    const float blobs[][2] = {{0.0f, 100.0f},   {400.0f, 100.0f}, {795.0f, 100.0f}, {200.0f, 300.0f},
                              {600.0f, 310.0f}, {20.0f, 590.0f},  {780.0f, 598.0f}};
    for (const auto& b : blobs) {
        for (int k = 0; k < 25; ++k) world->AddParticle(b[0] + 4.0f * (k % 5), b[1] + 4.0f * (k / 5));
    }
    const float lone[][2] = {{100.0f, 450.0f}, {111.0f, 450.0f}, {700.0f, 20.0f}, {300.0f, 599.0f}};
    for (const auto& p : lone) world->AddParticle(p[0], p[1]);
    world->AddBoundaryParticle(50.0f, 50.0f);
    world->RedistributeGrid();
    ExpectLiteralFrames(*world);

    // The drawing did take the gap paths: some strip is neither all gap nor gapless.
    TSmoothFieldMaker fields;
    TFluidFrame frame;
    BuildSmoothStrips(fields.Compute(*world), frame);
    int gapped = 0;
    for (std::int32_t count : frame.stripCount) gapped += count > 2 && count < 2 * TSmoothFields::COLUMNS;
    EXPECT_GT(gapped, 20);
}

TEST_F(FluidRendererTest, WithoutFluidOnlyTheBoundarySquaresShow) {
    auto world = std::make_shared<TRenderedSPH>();
    world->AddBoundaryParticle(100.0f, 100.0f);
    world->AddBoundaryParticle(400.0f, 300.0f);
    world->AddBoundaryParticle(799.0f, 599.0f);  // cut by the window's edges
    world->Update();
    ExpectLiteralFrames(*world);
    for (int mode : {0, 1, 7, -1}) {
        world->NiceRender = mode;
        const Frame f = Rendered(*world);
        // Each square covers 6 x 6 pixels, opaque, on black; the window cuts the last to 4 x 4.
        EXPECT_EQ(CountOf(f, kLightRed), 36u + 36u + 16u) << "mode " << mode;
        for (int y = 96; y < 104; ++y)
            for (int x = 96; x < 104; ++x)
                ASSERT_EQ(At(f, x, y), x > 96 && x < 103 && y > 96 && y < 103 ? kLightRed : 0u) << x << ", " << y;
        // Everything else is as it was: the white status line, black elsewhere.
        EXPECT_EQ(CountOf(f, 0xFFFFFF), 480u * 16u);
        EXPECT_EQ(CountOf(f, 0), static_cast<std::size_t>(kWidth) * kHeight - 88u - 480u * 16u);
    }
}

// The strips of a field that is value everywhere in columns 40..79 of rows
// 40..79, over black; returns the pixel in the middle.
std::uint32_t ShownForDensity(float value) {
    TSmoothFields fields;
    fields.Clear();
    for (std::size_t k = 0; k < TSmoothFields::SIZE; ++k) ShadeSmoothSample(0.0f, fields.White[k], fields.Alpha[k]);
    for (int j = 40; j < 80; ++j) {
        for (int i = 40; i < 80; ++i) {
            const std::size_t k = TSmoothFields::Index(i, j);
            fields.Density[k] = value;
            ShadeSmoothSample(value, fields.White[k], fields.Alpha[k]);
        }
    }
    TFluidFrame frame;
    BuildSmoothStrips(fields, frame);
    glClear(GL_COLOR_BUFFER_BIT);
    DrawSmoothStrips(frame);
    std::uint8_t p[4];
    glReadPixels(180, kHeight - 1 - 180, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, p);
    return (p[0] << 16) | (p[1] << 8) | p[2];
}

TEST_F(FluidRendererTest, FieldValuesGiveTheirColours) {
    // 0.1: white 0.8 at opacity 0.2 * 0.8 / 0.9, over black 0.8a, 0.8a, a.
    // 0.5: white 0.5, opaque.
    const double a = 0.2 * 0.8 / 0.9;
    for (auto [value, red, blue] : {std::tuple{0.1f, 0.8 * a * 255, a * 255}, {0.5f, 127.5, 255.0}}) {
        const std::uint32_t shown = ShownForDensity(value);
        EXPECT_NEAR(shown >> 16, red, 1.0) << value;
        EXPECT_EQ(shown >> 16, (shown >> 8) & 0xFF) << value;  // red equals green
        EXPECT_NEAR(shown & 0xFF, blue, value < 0.5f ? 1.0 : 0.0) << value;
    }
}

}  // namespace
