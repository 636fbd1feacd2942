#include "tests/render/reference_render.h"

#include <cmath>
#include <vector>

namespace {

const int kOffsets[9][2] = {{-1, -1}, {-1, 1}, {1, -1}, {1, 1}, {-1, 0}, {1, 0}, {0, -1}, {0, 1}, {0, 0}};

void LiteralSprites(const TSPH& world) {
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(world.ParticleTex));
    glEnable(GL_BLEND);
    glBlendFunc(GL_ONE, GL_ONE);
    glBegin(GL_QUADS);
    for (const auto& p : world.Particles) {
        if (!p) continue;
        const float h = 8.0f;
        glTexCoord2f(0.0f, 0.0f);
        glVertex2f(p->ScreenX - h, p->ScreenY - h);
        glTexCoord2f(1.0f, 0.0f);
        glVertex2f(p->ScreenX + h, p->ScreenY - h);
        glTexCoord2f(1.0f, 1.0f);
        glVertex2f(p->ScreenX + h, p->ScreenY + h);
        glTexCoord2f(0.0f, 1.0f);
        glVertex2f(p->ScreenX - h, p->ScreenY + h);
    }
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glBlendFunc(GL_ZERO, GL_DST_COLOR);
    glBegin(GL_QUADS);
    for (int k = 0; k < 2; ++k) {
        glVertex2f(0.0f, 0.0f);
        glVertex2f(800.0f, 0.0f);
        glVertex2f(800.0f, 600.0f);
        glVertex2f(0.0f, 600.0f);
    }
    glEnd();
    glDisable(GL_BLEND);
}

void LiteralSmooth(const TSPH& world) {
    TSmoothFields f;
    LiteralSmoothFields(world, f);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    float y = 0.0f;
    for (float j = 0.0f; j < TSmoothFields::ROWS - 1; j += 1.0f) {
        bool inGap = false;
        glBegin(GL_TRIANGLE_STRIP);
        float x = 0.0f;
        for (float i = 0.0f; i < TSmoothFields::COLUMNS; i += 1.0f) {
            const std::size_t at = TSmoothFields::Index(static_cast<int>(i), static_cast<int>(j));
            const std::size_t below = TSmoothFields::Index(static_cast<int>(i), static_cast<int>(j) + 1);
            if (static_cast<double>(f.Density[at]) + f.Density[below] == 0.0) {
                if (!inGap) {
                    glColor4f(0.0f, 0.0f, 0.0f, 0.0f);
                    glVertex2f(x, y);
                    glVertex2f(x, y + 3.0f);
                    inGap = true;
                }
            } else {
                if (inGap) {
                    inGap = false;
                    glVertex2f(x, y);
                    glVertex2f(x, y + 3.0f);
                }
                glColor4f(f.White[at], f.White[at], 1.0f, f.Alpha[at]);
                glVertex2f(x, y);
                glColor4f(f.White[below], f.White[below], 1.0f, f.Alpha[below]);
                glVertex2f(x, y + 3.0f);
            }
            x += 3.0f;
        }
        glEnd();
        y += 3.0f;
    }
    glDisable(GL_BLEND);
}

}  // namespace

void LiteralSmoothFields(const TSPH& world, TSmoothFields& fields) {
    fields.Clear();
    const float step =
        static_cast<float>(static_cast<double>(TSPH::SAMPLE_RATE) * TSPH::UNIT_SCALE * TSPH::INV_WORLD_SCALE);
    const double radiusSq = TSPH::SMOOTHING_LENGTH_SQ;
    for (float j = 0.0f; j < TSmoothFields::ROWS; j += 1.0f) {
        for (float i = 0.0f; i < TSmoothFields::COLUMNS; i += 1.0f) {
            const float sx = static_cast<float>(static_cast<double>(i) * step);
            const float sy = static_cast<float>(static_cast<double>(j) * step);
            const int cx = static_cast<int>(static_cast<double>(sx) * TSPH::INV_SMOOTHING_LENGTH);
            const int cy = static_cast<int>(static_cast<double>(sy) * TSPH::INV_SMOOTHING_LENGTH);
            const std::size_t at = TSmoothFields::Index(static_cast<int>(i), static_cast<int>(j));
            float& density = fields.Density[at];
            for (const auto& offset : kOffsets) {
                const int x = cx + offset[0], y = cy + offset[1];
                if (x < 0 || x >= world.GridWidth || y < 0 || y >= world.GridHeight) continue;
                for (const TParticle* p = world.FluidGrid(x, y); p != nullptr; p = p->Succ) {
                    const double dx = static_cast<double>(p->PositionX) - sx;
                    const double dy = static_cast<double>(p->PositionY) - sy;
                    const double d2 = dx * dx + dy * dy;
                    if (d2 < radiusSq) {
                        const float q = static_cast<float>(radiusSq - d2);
                        density = static_cast<float>(density + static_cast<double>(q) * q * q);
                    }
                }
            }
            density = static_cast<float>(static_cast<double>(density) * 7.69230755e-05f);
            float& alpha = fields.Alpha[at];
            float& white = fields.White[at];
            alpha = static_cast<float>(2.0 * density);
            white = static_cast<float>(1.0 - density);
            if (white > TSPH::MAX_WHITE) {
                const float ratio = static_cast<float>(static_cast<double>(TSPH::MAX_WHITE) / white);
                alpha = static_cast<float>(static_cast<double>(alpha) * ratio);
                white = TSPH::MAX_WHITE;
            }
        }
    }
}

void LiteralRender(const TSPH& world) {
    if (world.NiceRender == 0) {
        LiteralSprites(world);
    } else {
        LiteralSmooth(world);
    }
    glColor4f(1.0f, 0.5f, 0.5f, 1.0f);
    glBegin(GL_QUADS);
    for (const auto& b : world.BoundaryParticles) {
        if (!b) continue;
        glVertex2f(b->ScreenX - 3.0f, b->ScreenY - 3.0f);
        glVertex2f(b->ScreenX + 3.0f, b->ScreenY - 3.0f);
        glVertex2f(b->ScreenX + 3.0f, b->ScreenY + 3.0f);
        glVertex2f(b->ScreenX - 3.0f, b->ScreenY + 3.0f);
    }
    glEnd();
}

GLuint MakeParticleTexture() {
    int size = 64;
    std::vector<unsigned char> level(static_cast<std::size_t>(size) * size * 4);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            const double dx = (x + 0.5 - size / 2.0) / (size / 2.0), dy = (y + 0.5 - size / 2.0) / (size / 2.0);
            const double t = 1.0 - (dx * dx + dy * dy);
            const double v = t > 0.0 ? t * t : 0.0;
            const double tint[4] = {0.75, 0.88, 1.0, 1.0};
            for (int c = 0; c < 4; ++c)
                level[(static_cast<std::size_t>(y) * size + x) * 4 + c] =
                    static_cast<unsigned char>(std::lround(255.0 * v * tint[c]));
        }
    }
    GLint bound = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    for (int mip = 0;; ++mip) {
        glTexImage2D(GL_TEXTURE_2D, mip, GL_RGBA, size, size, 0, GL_RGBA, GL_UNSIGNED_BYTE, level.data());
        if (size == 1) break;
        const int half = size / 2;
        std::vector<unsigned char> next(static_cast<std::size_t>(half) * half * 4);
        for (int y = 0; y < half; ++y) {
            for (int x = 0; x < half; ++x) {
                for (int c = 0; c < 4; ++c) {
                    auto texel = [&](int xx, int yy) {
                        return level[(static_cast<std::size_t>(yy) * size + xx) * 4 + c];
                    };
                    next[(static_cast<std::size_t>(y) * half + x) * 4 + c] =
                        static_cast<unsigned char>((texel(2 * x, 2 * y) + texel(2 * x + 1, 2 * y) +
                                                    texel(2 * x, 2 * y + 1) + texel(2 * x + 1, 2 * y + 1) + 2) /
                                                   4);
                }
            }
        }
        level.swap(next);
        size = half;
    }
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
    return name;
}
