#include "render/fluid_renderer.h"

#include <GL/gl.h>

#include <cstddef>
#include <cstring>

namespace {

// Half the side of a particle sprite, in pixels.
constexpr float kSpriteHalf = 8.0f;
// Half the side of a boundary square, in pixels.
constexpr float kSquareHalf = 3.0f;
// Pixels between sample columns and rows, and the height of a strip.
constexpr float kStripStep = 3.0f;
// Texture coordinates of a sprite's four corners, in drawing order.
constexpr float kSpriteCorners[8] = {0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f};
// The full-window quad, twice: each pass squares every colour component.
constexpr float kWindowQuadTwice[16] = {0.0f, 0.0f, 800.0f, 0.0f, 800.0f, 600.0f, 0.0f, 600.0f,
                                        0.0f, 0.0f, 800.0f, 0.0f, 800.0f, 600.0f, 0.0f, 600.0f};
// The boundary squares' light red.
constexpr float kSquareColour[4] = {1.0f, 0.5f, 0.5f, 1.0f};
// Most vertices one strip column can add: a gap's exit pair and its own pair.
constexpr std::size_t kMostVerticesPerColumn = 4;

// Appends the four corners of the square of half side half around (x, y),
// clockwise from the top left, at out (which must have room for 8 floats).
float* PutSquare(float* out, float x, float y, float half) {
    const float left = x - half, right = x + half, top = y - half, bottom = y + half;
    const float corners[8] = {left, top, right, top, right, bottom, left, bottom};
    for (float c : corners) *out++ = c;
    return out;
}

// Corner vertices of a square for every non-empty particle of particles.
void BuildSquares(const std::vector<std::shared_ptr<TParticle>>& particles, float half, std::vector<float>& out) {
    out.resize(particles.size() * 8);
    float* at = out.data();
    for (const auto& p : particles) {
        if (p) at = PutSquare(at, p->ScreenX, p->ScreenY, half);
    }
    out.resize(static_cast<std::size_t>(at - out.data()));
}

// Appends strip vertices with their colours, through raw pointers into
// storage sized for the worst case.
struct StripWriter {
    float* vertex;
    float* colour;
    void Put(float x, float y, float white, float alpha) {
        *vertex++ = x;
        *vertex++ = y;
        *colour++ = white;
        *colour++ = white;
        *colour++ = 1.0f;
        *colour++ = alpha;
    }
    void PutClear(float x, float y) {
        *vertex++ = x;
        *vertex++ = y;
        for (int k = 0; k < 4; ++k) *colour++ = 0.0f;
    }
};

// Whether the eight floats at v are all +0.0 (all bits clear).
bool AllPlusZero(const float* v) {
    std::uint64_t bits[4];
    std::memcpy(bits, v, sizeof bits);
    return (bits[0] | bits[1] | bits[2] | bits[3]) == 0;
}

}  // namespace

void BuildSpriteQuads(const TSPH& world, TFluidFrame& frame) {
    BuildSquares(world.Particles, kSpriteHalf, frame.spriteVertices);
    // Texture coordinates repeat per sprite; only a longer run is written.
    std::vector<float>& t = frame.spriteTexCoords;
    while (t.size() < frame.spriteVertices.size()) t.insert(t.end(), kSpriteCorners, kSpriteCorners + 8);
}

void BuildBoundarySquares(const TSPH& world, TFluidFrame& frame) {
    BuildSquares(world.BoundaryParticles, kSquareHalf, frame.squareVertices);
}

void BuildSmoothStrips(const TSmoothFields& fields, TFluidFrame& frame) {
    constexpr int strips = TSmoothFields::ROWS - 1;
    constexpr std::size_t most = strips * TSmoothFields::COLUMNS * kMostVerticesPerColumn;
    if (frame.stripVertices.size() < most * 2) {
        frame.stripVertices.resize(most * 2);
        frame.stripColours.resize(most * 4);
    }
    frame.stripFirst.resize(strips);
    frame.stripCount.resize(strips);
    StripWriter out{frame.stripVertices.data(), frame.stripColours.data()};
    float y = 0.0f;
    for (int j = 0; j < strips; ++j) {
        const float* density = &fields.Density[TSmoothFields::Index(0, j)];
        const float* white = &fields.White[TSmoothFields::Index(0, j)];
        const float* alpha = &fields.Alpha[TSmoothFields::Index(0, j)];
        constexpr int below = TSmoothFields::COLUMNS;  // the same column one row down
        const auto first = static_cast<std::int32_t>((out.vertex - frame.stripVertices.data()) / 2);
        auto empty = [&](int i) { return static_cast<double>(density[i]) + density[i + below] == 0.0; };
        bool inGap = false;
        for (int i = 0; i < TSmoothFields::COLUMNS; ++i) {
            // Inside a gap, runs of empty columns add nothing: pass them eight
            // at a time while all their densities are +0.
            while (inGap && i + 8 <= TSmoothFields::COLUMNS && AllPlusZero(density + i) &&
                   AllPlusZero(density + i + below))
                i += 8;
            if (i == TSmoothFields::COLUMNS) break;
            // The column's pixel x, 3i: exactly the running sum of 3s.
            const float x = kStripStep * static_cast<float>(i);
            if (empty(i)) {
                // An empty column pair: one transparent pair opens the gap.
                if (!inGap) {
                    out.PutClear(x, y);
                    out.PutClear(x, y + kStripStep);
                    inGap = true;
                }
            } else {
                // Closing a gap repeats the transparent colour at this column.
                if (inGap) {
                    inGap = false;
                    out.PutClear(x, y);
                    out.PutClear(x, y + kStripStep);
                }
                out.Put(x, y, white[i], alpha[i]);
                out.Put(x, y + kStripStep, white[i + below], alpha[i + below]);
            }
        }
        frame.stripFirst[j] = first;
        frame.stripCount[j] = static_cast<std::int32_t>((out.vertex - frame.stripVertices.data()) / 2) - first;
        y += kStripStep;
    }
}

void DrawSpriteQuads(const TFluidFrame& frame, std::int32_t particleTex) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(particleTex));
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_TEXTURE_COORD_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, frame.spriteVertices.data());
    glTexCoordPointer(2, GL_FLOAT, 0, frame.spriteTexCoords.data());
    glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(frame.spriteVertices.size() / 2));
    glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    glDisable(GL_TEXTURE_2D);

    // Sharpening: the frame times itself, twice.
    glBlendFunc(GL_ZERO, GL_DST_COLOR);
    glVertexPointer(2, GL_FLOAT, 0, kWindowQuadTwice);
    glDrawArrays(GL_QUADS, 0, 8);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_BLEND);
}

void DrawSmoothStrips(const TFluidFrame& frame) {
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, frame.stripVertices.data());
    glColorPointer(4, GL_FLOAT, 0, frame.stripColours.data());
    for (std::size_t s = 0; s < frame.stripFirst.size(); ++s)
        glDrawArrays(GL_TRIANGLE_STRIP, frame.stripFirst[s], frame.stripCount[s]);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisable(GL_BLEND);
}

void DrawBoundarySquares(const TFluidFrame& frame) {
    // Also the colour left current: after a colour array it is undefined.
    glColor4fv(kSquareColour);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, frame.squareVertices.data());
    glDrawArrays(GL_QUADS, 0, static_cast<GLsizei>(frame.squareVertices.size() / 2));
    glDisableClientState(GL_VERTEX_ARRAY);
}

void TRenderedSPH::Render() {
    RenderState& s = state_;
    if (NiceRender == 0) {
        BuildSpriteQuads(*this, s.frame);
        DrawSpriteQuads(s.frame, ParticleTex);
    } else {
        BuildSmoothStrips(s.fields.Compute(*this), s.frame);
        DrawSmoothStrips(s.frame);
    }
    BuildBoundarySquares(*this, s.frame);
    DrawBoundarySquares(s.frame);
}
