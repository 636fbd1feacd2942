#include "graphics/gl/gl_utils.h"

#include "graphics/gl/gl_font.h"
#include "graphics/gl/gl_utils_internal.h"
#include "runtime/errors.h"
#include "stream/embedded.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>

namespace {

// The module's mutable state; BeginGL2D/EndGL2D pairs share the two matrices, so they do not nest.
struct GLUtilsState {
    int32_t FontTexture = 0;
    double SavedModelview[16] = {};
    double SavedProjection[16] = {};
};

GLUtilsState gl_utils;

// Width of one glyph cell in texture coordinates: the atlas holds 128 cells.
const double GLYPH_S = static_cast<double>(GL_FONT_CELL_WIDTH) / GL_FONT_ATLAS_WIDTH;
const int32_t RGBA_BYTES = 4;

// Saves the client pixel-store state and sets the unpacking of pixmap's rows: their
// pitch as the row length and no caller's alignment, skips or byte swaps in the way.
// Restored at the end of the scope.
class ScopedPixmapUnpack {
public:
    ScopedPixmapUnpack() {
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
        glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    }
    ~ScopedPixmapUnpack() { glPopClientAttrib(); }
    ScopedPixmapUnpack(const ScopedPixmapUnpack&) = delete;
    ScopedPixmapUnpack& operator=(const ScopedPixmapUnpack&) = delete;
    // The next transfer reads rows of p.
    static void RowsOf(const TPixmap& p) { glPixelStorei(GL_UNPACK_ROW_LENGTH, p.pitch / FormatByteSize[p.format]); }
};

// Rebinds the caller's 2-D texture at the end of the scope.
class ScopedTextureBinding {
public:
    ScopedTextureBinding() { glGetIntegerv(GL_TEXTURE_BINDING_2D, &saved_); }
    ~ScopedTextureBinding() { glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(saved_)); }
    ScopedTextureBinding(const ScopedTextureBinding&) = delete;
    ScopedTextureBinding& operator=(const ScopedTextureBinding&) = delete;

private:
    GLint saved_ = 0;
};

// The pixmap, or a new copy of it, in RGBA32 with rows a whole number of pixels apart.
std::shared_ptr<TPixmap> AsRGBA32(const std::shared_ptr<TPixmap>& pixmap) {
    if (!pixmap) throw TNullObjectError();
    if (pixmap->format == PIXFMT_RGBA32 && pixmap->pitch >= 0 && pixmap->pitch % RGBA_BYTES == 0) return pixmap;
    return pixmap->Convert(PIXFMT_RGBA32);
}

// Level 0 of a texture made from pixmap: RGBA32, resampled to the size the GL takes.
std::shared_ptr<TPixmap> LevelZero(const std::shared_ptr<TPixmap>& pixmap) {
    std::shared_ptr<TPixmap> p = AsRGBA32(pixmap);
    int32_t width = p->width, height = p->height;
    FitTextureSize(width, height);
    if (p->width == 0 || p->height == 0) {
        // Nothing to resample from: an empty image becomes transparent black.
        auto blank = TPixmap::Create(width, height, PIXFMT_RGBA32, 4);
        blank->ClearPixels(0);
        return blank;
    }
    if (width != p->width || height != p->height) p = ResamplePixmap(p, width, height);
    return p;
}

// The font's 1536 bytes from the embedded-file table.
const unsigned char* EmbeddedFont() {
    RegisterGLDrawTextFont();  // no change when start-up registered it already
    const void* data = EmbeddedFileData(GL_FONT_FILE_NAME);
    if (!data || EmbeddedFileSize(GL_FONT_FILE_NAME) != GL_FONT_BYTES)
        throw TRuntimeError(std::string("DrawGLText: the embedded file \"") + GL_FONT_FILE_NAME + "\" is not " +
                            std::to_string(GL_FONT_BYTES) + " bytes long");
    return static_cast<const unsigned char*>(data);
}

// The code point at text[at], advancing at past it. A byte that does not start a
// well-formed UTF-8 sequence is one cell of its own: it returns a code that is never drawn.
uint32_t NextCodePoint(const std::string& text, size_t& at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at++);
    if (lead < 0x80) return lead;
    const uint32_t NOT_DRAWN = 0xFFFD;
    // Continuation count and the range of the second byte (Unicode's well-formed sequences).
    int more = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        more = 1;
    else if (lead >= 0xE0 && lead <= 0xEF)
        more = 2, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (lead >= 0xF0 && lead <= 0xF4)
        more = 3, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    else
        return NOT_DRAWN;
    if (at + more > text.size() || byte(at) < low || byte(at) > high) return NOT_DRAWN;
    uint32_t cp = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80) return NOT_DRAWN;
        cp = (cp << 6) | (byte(at + i) & 0x3F);
    }
    at += more;
    return cp;
}

// A pixel coordinate sum kept inside the int range (only far off any screen does it matter).
GLint ClampedSum(int64_t a, int64_t b) { return static_cast<GLint>(std::clamp<int64_t>(a + b, INT32_MIN, INT32_MAX)); }

}  // namespace

void ResetGLUtilsState() { gl_utils = GLUtilsState{}; }

int32_t GLUtilsFontTexture() { return gl_utils.FontTexture; }

int32_t NextPowerOfTwo(int32_t n) {
    int32_t p = 1;
    // The largest int32 power of two is the answer for anything above it.
    while (p < n && p <= INT32_MAX / 2) p *= 2;
    return p;
}

void FitTextureSize(int32_t& width, int32_t& height) {
    width = NextPowerOfTwo(width);
    height = NextPowerOfTwo(height);
    for (;;) {
        glTexImage2D(GL_PROXY_TEXTURE_2D, 0, 4, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        GLint accepted = 0;
        glGetTexLevelParameteriv(GL_PROXY_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &accepted);
        if (accepted != 0) return;
        if (width == 1 && height == 1) throw TRuntimeError("Unable to calculate tex size");
        if (width > 1) width /= 2;
        if (height > 1) height /= 2;
    }
}

int32_t UploadPixmapTexture(const std::shared_ptr<TPixmap>& pixmap, int32_t mipmapped) {
    std::shared_ptr<TPixmap> level = LevelZero(pixmap);
    int32_t width = level->width, height = level->height;

    ScopedTextureBinding binding;
    ScopedPixmapUnpack unpack;
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    for (GLint n = 0;; ++n) {
        ScopedPixmapUnpack::RowsOf(*level);
        glTexImage2D(GL_TEXTURE_2D, n, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, level->pixels);
        if (mipmapped == 0 || (width == 1 && height == 1)) break;
        if (width > 1) width /= 2;
        if (height > 1) height /= 2;
        level = ResamplePixmap(level, width, height);  // from the level before, not level 0
    }
    return static_cast<int32_t>(texture);
}

void BeginGL2D() {
    glPushAttrib(GL_ENABLE_BIT | GL_TRANSFORM_BIT | GL_TEXTURE_BIT);
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    glGetDoublev(GL_MODELVIEW_MATRIX, gl_utils.SavedModelview);
    glGetDoublev(GL_PROJECTION_MATRIX, gl_utils.SavedProjection);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, viewport[2], viewport[3], 0, -1, 1);
    glDisable(GL_CULL_FACE);
    glDisable(GL_ALPHA_TEST);
    glDisable(GL_DEPTH_TEST);
}

void EndGL2D() {
    glMatrixMode(GL_PROJECTION);
    glLoadMatrixd(gl_utils.SavedProjection);
    glMatrixMode(GL_MODELVIEW);
    glLoadMatrixd(gl_utils.SavedModelview);
    glPopAttrib();
}

void DrawGLText(const std::string& text, int32_t x, int32_t y) {
    if (gl_utils.FontTexture == 0) gl_utils.FontTexture = UploadPixmapTexture(BuildFontAtlas(EmbeddedFont()), 1);

    BeginGL2D();
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(gl_utils.FontTexture));
    const GLint bottom = ClampedSum(y, GL_FONT_CELL_HEIGHT);
    int64_t pen = x;
    for (size_t at = 0; at < text.size() && pen <= INT32_MAX; pen += GL_FONT_CELL_WIDTH) {
        const uint32_t code = NextCodePoint(text, at);
        if (code < GL_FONT_FIRST_CODE || code >= GL_FONT_FIRST_CODE + GL_FONT_GLYPHS) continue;
        const double s = (code - GL_FONT_FIRST_CODE) * GLYPH_S;
        const GLint left = static_cast<GLint>(pen), right = ClampedSum(pen, GL_FONT_CELL_WIDTH);
        glBegin(GL_QUADS);
        glTexCoord2d(s, 0);
        glVertex2i(left, y);
        glTexCoord2d(s + GLYPH_S, 0);
        glVertex2i(right, y);
        glTexCoord2d(s + GLYPH_S, 1);
        glVertex2i(right, bottom);
        glTexCoord2d(s, 1);
        glVertex2i(left, bottom);
        glEnd();
    }
    EndGL2D();
}

void DrawGLPixmap(const std::shared_ptr<TPixmap>& pixmap, int32_t x, int32_t y) {
    if (!pixmap) throw TNullObjectError();
    const std::shared_ptr<TPixmap> p = AsRGBA32(VerticalFlipPixmap(pixmap));

    BeginGL2D();
    ScopedPixmapUnpack unpack;
    ScopedPixmapUnpack::RowsOf(*p);
    // A raster position outside the viewport would be invalid and draw nothing; a
    // bitmap move from the valid corner has no such test, so the image may start outside.
    glRasterPos2i(0, 0);
    glBitmap(0, 0, 0, 0, static_cast<GLfloat>(x), static_cast<GLfloat>(-int64_t{y} - p->height), nullptr);
    glDrawPixels(p->width, p->height, GL_RGBA, GL_UNSIGNED_BYTE, p->pixels);
    EndGL2D();
}

void DrawGLRect(int32_t x, int32_t y, int32_t width, int32_t height) {
    const GLint right = ClampedSum(x, width), bottom = ClampedSum(y, height);
    BeginGL2D();
    glBegin(GL_QUADS);
    glVertex2i(x, y);
    glVertex2i(right, y);
    glVertex2i(right, bottom);
    glVertex2i(x, bottom);
    glEnd();
    EndGL2D();
}
