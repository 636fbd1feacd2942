// The OpenGL 1.1 calls that Emscripten's legacy GL emulation lacks or gets
// wrong, filled in over WebGL 1 so that the drawing code above runs as it
// does on the desktop: attribute stacks (the enables, the matrix mode and the
// 2-D texture binding; the client pixel-store state and array pointers),
// double-precision entries, proxy textures, sized internal formats, the
// unpack row length and skips, RGB read-back and pack alignment, the read
// buffer, raster positions with bitmaps and pixel rectangles, and client
// arrays drawn from a first index above 0 (the emulation copies from the
// arrays' start). Defined here, these names replace the emulation's; the
// emulation's own entries stay reachable as emscripten_gl*.
#include "graphics/web/web_internal.h"

#include <GL/gl.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" {
void emscripten_glEnable(GLenum cap);
void emscripten_glDisable(GLenum cap);
void emscripten_glGetIntegerv(GLenum pname, GLint* data);
void emscripten_glGetFloatv(GLenum pname, GLfloat* data);
void emscripten_glMatrixMode(GLenum mode);
void emscripten_glBindTexture(GLenum target, GLuint texture);
void emscripten_glTexCoord2f(GLfloat s, GLfloat t);
void emscripten_glPixelStorei(GLenum pname, GLint param);
void emscripten_glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                             GLint border, GLenum format, GLenum type, const void* pixels);
void emscripten_glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type, void* pixels);
void emscripten_glDrawArrays(GLenum mode, GLint first, GLsizei count);
void emscripten_glVertexPointer(GLint size, GLenum type, GLsizei stride, const void* pointer);
void emscripten_glColorPointer(GLint size, GLenum type, GLsizei stride, const void* pointer);
void emscripten_glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const void* pointer);
void emscripten_glGenTextures(GLsizei n, GLuint* textures);
void emscripten_glDeleteTextures(GLsizei n, const GLuint* textures);
void emscripten_glTexParameteri(GLenum target, GLenum pname, GLint param);
void emscripten_glTexEnvi(GLenum target, GLenum pname, GLint param);
void emscripten_glGetTexEnviv(GLenum target, GLenum pname, GLint* params);
void emscripten_glLoadIdentity();
void emscripten_glLoadMatrixf(const GLfloat* m);
void emscripten_glOrtho(GLdouble left, GLdouble right, GLdouble bottom, GLdouble top, GLdouble zNear, GLdouble zFar);
void emscripten_glBegin(GLenum mode);
void emscripten_glEnd();
void emscripten_glVertex2f(GLfloat x, GLfloat y);
}

namespace {

// The capabilities an enable bit saves; the emulation cannot answer for all of them.
const GLenum kTrackedCaps[] = {GL_ALPHA_TEST,   GL_BLEND,      GL_CULL_FACE,          GL_DEPTH_TEST,
                               GL_DITHER,       GL_FOG,        GL_LIGHTING,           GL_SCISSOR_TEST,
                               GL_STENCIL_TEST, GL_TEXTURE_2D, GL_POLYGON_OFFSET_FILL};
constexpr size_t kCapCount = sizeof kTrackedCaps / sizeof kTrackedCaps[0];

struct PixelStore {
    GLint unpackAlignment = 4, unpackRowLength = 0, unpackSkipRows = 0, unpackSkipPixels = 0;
    GLint unpackSwapBytes = 0, unpackLsbFirst = 0;
    GLint packAlignment = 4, packRowLength = 0, packSkipRows = 0, packSkipPixels = 0;
};

struct ClientPointer {
    GLint size = 4;
    GLenum type = GL_FLOAT;
    GLsizei stride = 0;
    const void* pointer = nullptr;
};

struct ClientArrays {
    ClientPointer vertex, color, texCoord;
};

struct AttribFrame {
    GLbitfield mask = 0;
    bool enabled[kCapCount] = {};
    GLint matrixMode = GL_MODELVIEW;
    GLint texture2D = 0;
};

struct ClientFrame {
    GLbitfield mask = 0;
    PixelStore store;
    ClientArrays arrays;
};

struct WebGLFillState {
    bool enabled[kCapCount] = {};
    PixelStore store;
    ClientArrays arrays;
    std::vector<AttribFrame> attribStack;
    std::vector<ClientFrame> clientStack;
    GLint proxyWidth = 0, proxyHeight = 0;
    GLint maxTextureSize = 0;
    float rasterX = 0, rasterY = 0;  // window coordinates
    bool rasterValid = true;
    std::vector<unsigned char> scratch;

    WebGLFillState() { enabled[CapIndex(GL_DITHER)] = true; }
    static size_t CapIndex(GLenum cap) {
        for (size_t i = 0; i < kCapCount; ++i)
            if (kTrackedCaps[i] == cap) return i;
        return kCapCount;
    }
};

WebGLFillState fill;

void SetCap(GLenum cap, bool on) {
    const size_t i = WebGLFillState::CapIndex(cap);
    if (i < kCapCount) fill.enabled[i] = on;
}

GLint BytesPerPixel(GLenum format, GLenum type) {
    if (type != GL_UNSIGNED_BYTE) return 0;
    switch (format) {
    case GL_RGBA: return 4;
    case GL_RGB: return 3;
    case GL_LUMINANCE_ALPHA: return 2;
    case GL_ALPHA:
    case GL_LUMINANCE: return 1;
    default: return 0;
    }
}

// Bytes between row starts of a width-pixel image in client memory.
size_t RowPitch(GLint width, GLint rowLength, GLint bpp, GLint alignment) {
    const size_t row = static_cast<size_t>(rowLength > 0 ? rowLength : width) * static_cast<size_t>(bpp);
    const size_t a = static_cast<size_t>(std::max(alignment, 1));
    return (row + a - 1) / a * a;
}

// The unpacked rows as WebGL 1 reads them (tight rows, no skips), or pixels
// itself when they already are.
const void* TightRows(GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels) {
    const GLint bpp = BytesPerPixel(format, type);
    const PixelStore& s = fill.store;
    if (!pixels || bpp == 0 || width <= 0 || height <= 0) return pixels;
    const size_t pitch = RowPitch(width, s.unpackRowLength, bpp, s.unpackAlignment);
    const size_t tight = static_cast<size_t>(width) * static_cast<size_t>(bpp);
    if (pitch == tight && s.unpackSkipRows == 0 && s.unpackSkipPixels == 0) return pixels;
    fill.scratch.resize(tight * static_cast<size_t>(height));
    const unsigned char* from = static_cast<const unsigned char*>(pixels) +
                                pitch * static_cast<size_t>(s.unpackSkipRows) +
                                static_cast<size_t>(s.unpackSkipPixels) * static_cast<size_t>(bpp);
    for (GLsizei y = 0; y < height; ++y)
        std::memcpy(fill.scratch.data() + tight * static_cast<size_t>(y), from + pitch * static_cast<size_t>(y), tight);
    return fill.scratch.data();
}

// WebGL 1 takes the unsized format names only.
GLint UnsizedFormat(GLint internalFormat, GLenum format) {
    switch (internalFormat) {
    case 4:
    case GL_RGBA8:
    case GL_RGBA: return GL_RGBA;
    case 3:
    case GL_RGB8:
    case GL_RGB: return GL_RGB;
    case 1:
    case GL_LUMINANCE8: return GL_LUMINANCE;
    case 2:
    case GL_LUMINANCE8_ALPHA8: return GL_LUMINANCE_ALPHA;
    case GL_ALPHA8: return GL_ALPHA;
    default: return static_cast<GLint>(format);
    }
}

GLint MaxTextureSize() {
    if (fill.maxTextureSize == 0) emscripten_glGetIntegerv(GL_MAX_TEXTURE_SIZE, &fill.maxTextureSize);
    return fill.maxTextureSize;
}

// The pointer p advanced by first elements of an array described by c.
const void* Advanced(const ClientPointer& c, GLint first) {
    if (!c.pointer) return c.pointer;
    GLint component = c.type == GL_FLOAT || c.type == GL_INT || c.type == GL_UNSIGNED_INT ? 4
                      : c.type == GL_SHORT || c.type == GL_UNSIGNED_SHORT                 ? 2
                                                                                          : 1;
    const size_t stride = c.stride > 0 ? static_cast<size_t>(c.stride) : static_cast<size_t>(c.size * component);
    return static_cast<const unsigned char*>(c.pointer) + stride * static_cast<size_t>(first);
}

void SetPointers(const ClientArrays& a, GLint first) {
    emscripten_glVertexPointer(a.vertex.size, a.vertex.type, a.vertex.stride, Advanced(a.vertex, first));
    emscripten_glColorPointer(a.color.size, a.color.type, a.color.stride, Advanced(a.color, first));
    emscripten_glTexCoordPointer(a.texCoord.size, a.texCoord.type, a.texCoord.stride, Advanced(a.texCoord, first));
}

// (x, y, 0, 1) through the current matrices and viewport into window coordinates.
bool WindowPoint(float x, float y, float& wx, float& wy) {
    GLfloat mv[16], pr[16];
    GLint viewport[4] = {};
    emscripten_glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    emscripten_glGetFloatv(GL_PROJECTION_MATRIX, pr);
    emscripten_glGetIntegerv(GL_VIEWPORT, viewport);
    double eye[4], clip[4];
    for (int r = 0; r < 4; ++r) eye[r] = double(mv[r]) * x + double(mv[4 + r]) * y + double(mv[12 + r]);
    for (int r = 0; r < 4; ++r)
        clip[r] = double(pr[r]) * eye[0] + double(pr[4 + r]) * eye[1] + double(pr[8 + r]) * eye[2] +
                  double(pr[12 + r]) * eye[3];
    if (clip[3] == 0) return false;
    const double nx = clip[0] / clip[3], ny = clip[1] / clip[3], nz = clip[2] / clip[3];
    wx = static_cast<float>(viewport[0] + (nx + 1) * viewport[2] / 2);
    wy = static_cast<float>(viewport[1] + (ny + 1) * viewport[3] / 2);
    return nx >= -1 && nx <= 1 && ny >= -1 && ny <= 1 && nz >= -1 && nz <= 1;
}

// A pixel rectangle at the raster position: a textured quad in window
// coordinates, its texels replacing the colour, through the same per-fragment
// tests and blending as any drawing.
void DrawPixelRectangle(GLsizei width, GLsizei height, GLenum format, GLenum type, const void* pixels) {
    const GLint bpp = BytesPerPixel(format, type);
    if (!fill.rasterValid || bpp == 0 || width <= 0 || height <= 0 || !pixels) return;
    const void* rows = TightRows(width, height, format, type, pixels);
    GLint viewport[4] = {}, boundTexture = 0, envMode = GL_MODULATE, matrixMode = GL_MODELVIEW;
    emscripten_glGetIntegerv(GL_VIEWPORT, viewport);
    emscripten_glGetIntegerv(GL_TEXTURE_BINDING_2D, &boundTexture);
    emscripten_glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
    emscripten_glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &envMode);
    GLfloat mv[16], pr[16];
    emscripten_glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    emscripten_glGetFloatv(GL_PROJECTION_MATRIX, pr);
    const bool textured = fill.enabled[WebGLFillState::CapIndex(GL_TEXTURE_2D)];

    GLuint texture = 0;
    emscripten_glGenTextures(1, &texture);
    emscripten_glBindTexture(GL_TEXTURE_2D, texture);
    emscripten_glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    emscripten_glTexImage2D(GL_TEXTURE_2D, 0, static_cast<GLint>(format), width, height, 0, format, type, rows);
    emscripten_glPixelStorei(GL_UNPACK_ALIGNMENT, fill.store.unpackAlignment);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    emscripten_glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    emscripten_glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    if (!textured) emscripten_glEnable(GL_TEXTURE_2D);
    emscripten_glMatrixMode(GL_PROJECTION);
    emscripten_glLoadIdentity();
    emscripten_glOrtho(viewport[0], viewport[0] + viewport[2], viewport[1], viewport[1] + viewport[3], -1, 1);
    emscripten_glMatrixMode(GL_MODELVIEW);
    emscripten_glLoadIdentity();
    const float x0 = fill.rasterX, y0 = fill.rasterY, x1 = x0 + float(width), y1 = y0 + float(height);
    emscripten_glBegin(GL_QUADS);
    emscripten_glTexCoord2f(0, 0);
    emscripten_glVertex2f(x0, y0);
    emscripten_glTexCoord2f(1, 0);
    emscripten_glVertex2f(x1, y0);
    emscripten_glTexCoord2f(1, 1);
    emscripten_glVertex2f(x1, y1);
    emscripten_glTexCoord2f(0, 1);
    emscripten_glVertex2f(x0, y1);
    emscripten_glEnd();
    emscripten_glLoadMatrixf(mv);
    emscripten_glMatrixMode(GL_PROJECTION);
    emscripten_glLoadMatrixf(pr);
    emscripten_glMatrixMode(static_cast<GLenum>(matrixMode));
    if (!textured) emscripten_glDisable(GL_TEXTURE_2D);
    emscripten_glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, envMode);
    emscripten_glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(boundTexture));
    emscripten_glDeleteTextures(1, &texture);
}

}  // namespace

void ResetWebGLFill() { fill = WebGLFillState{}; }

extern "C" {

void glEnable(GLenum cap) {
    SetCap(cap, true);
    emscripten_glEnable(cap);
}

void glDisable(GLenum cap) {
    SetCap(cap, false);
    emscripten_glDisable(cap);
}

void glPushAttrib(GLbitfield mask) {
    AttribFrame frame;
    frame.mask = mask;
    std::copy(std::begin(fill.enabled), std::end(fill.enabled), frame.enabled);
    emscripten_glGetIntegerv(GL_MATRIX_MODE, &frame.matrixMode);
    emscripten_glGetIntegerv(GL_TEXTURE_BINDING_2D, &frame.texture2D);
    fill.attribStack.push_back(frame);
}

void glPopAttrib() {
    if (fill.attribStack.empty()) return;
    const AttribFrame frame = fill.attribStack.back();
    fill.attribStack.pop_back();
    // The texture bit carries the 2-D enable too, as the enable bit does.
    for (size_t i = 0; i < kCapCount; ++i) {
        const bool restore =
            (frame.mask & GL_ENABLE_BIT) || ((frame.mask & GL_TEXTURE_BIT) && kTrackedCaps[i] == GL_TEXTURE_2D);
        if (restore && fill.enabled[i] != frame.enabled[i]) (frame.enabled[i] ? glEnable : glDisable)(kTrackedCaps[i]);
    }
    if (frame.mask & GL_TRANSFORM_BIT) emscripten_glMatrixMode(static_cast<GLenum>(frame.matrixMode));
    if (frame.mask & GL_TEXTURE_BIT) emscripten_glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(frame.texture2D));
}

void glPushClientAttrib(GLbitfield mask) { fill.clientStack.push_back(ClientFrame{mask, fill.store, fill.arrays}); }

void glPopClientAttrib() {
    if (fill.clientStack.empty()) return;
    const ClientFrame frame = fill.clientStack.back();
    fill.clientStack.pop_back();
    if (frame.mask & GL_CLIENT_PIXEL_STORE_BIT) {
        fill.store = frame.store;
        emscripten_glPixelStorei(GL_UNPACK_ALIGNMENT, fill.store.unpackAlignment);
        emscripten_glPixelStorei(GL_PACK_ALIGNMENT, fill.store.packAlignment);
    }
    if (frame.mask & GL_CLIENT_VERTEX_ARRAY_BIT) {
        fill.arrays = frame.arrays;
        SetPointers(fill.arrays, 0);
    }
}

void glPixelStorei(GLenum pname, GLint param) {
    PixelStore& s = fill.store;
    switch (pname) {
    case GL_UNPACK_ALIGNMENT:
        s.unpackAlignment = param;
        emscripten_glPixelStorei(pname, param);
        break;
    case GL_PACK_ALIGNMENT:
        s.packAlignment = param;
        emscripten_glPixelStorei(pname, param);
        break;
    case GL_UNPACK_ROW_LENGTH: s.unpackRowLength = param; break;
    case GL_UNPACK_SKIP_ROWS: s.unpackSkipRows = param; break;
    case GL_UNPACK_SKIP_PIXELS: s.unpackSkipPixels = param; break;
    case GL_UNPACK_SWAP_BYTES: s.unpackSwapBytes = param; break;  // bytes are bytes: nothing to swap
    case GL_UNPACK_LSB_FIRST: s.unpackLsbFirst = param; break;    // bitmaps only
    case GL_PACK_ROW_LENGTH: s.packRowLength = param; break;
    case GL_PACK_SKIP_ROWS: s.packSkipRows = param; break;
    case GL_PACK_SKIP_PIXELS: s.packSkipPixels = param; break;
    default: emscripten_glPixelStorei(pname, param); break;
    }
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const GLvoid* pixels) {
    if (target == GL_PROXY_TEXTURE_2D) {
        // What the GL would accept: a size within the limit, level by level.
        const GLint limit = MaxTextureSize() >> std::max(level, 0);
        const bool fits = border == 0 && width >= 0 && height >= 0 && width <= limit && height <= limit;
        fill.proxyWidth = fits ? width : 0;
        fill.proxyHeight = fits ? height : 0;
        return;
    }
    emscripten_glTexImage2D(target, level, UnsizedFormat(internalFormat, format), width, height, border, format, type,
                            TightRows(width, height, format, type, pixels));
}

void glGetTexLevelParameteriv(GLenum target, GLint, GLenum pname, GLint* params) {
    if (!params) return;
    *params = 0;
    if (target != GL_PROXY_TEXTURE_2D) return;  // only the proxy's answer is kept
    if (pname == GL_TEXTURE_WIDTH) *params = fill.proxyWidth;
    if (pname == GL_TEXTURE_HEIGHT) *params = fill.proxyHeight;
}

// WebGL reads the drawing buffer, which is the back buffer until the frame is presented.
void glReadBuffer(GLenum) {}

void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format, GLenum type, GLvoid* pixels) {
    const GLint bpp = BytesPerPixel(format, type);
    const PixelStore& s = fill.store;
    if (bpp == 0 || width <= 0 || height <= 0 || !pixels) {
        emscripten_glReadPixels(x, y, width, height, format, type, pixels);
        return;
    }
    // Read as RGBA, tight, then lay the rows out as the pack state asks.
    const size_t tight = static_cast<size_t>(width) * 4;
    fill.scratch.resize(tight * static_cast<size_t>(height));
    emscripten_glPixelStorei(GL_PACK_ALIGNMENT, 4);
    emscripten_glReadPixels(x, y, width, height, GL_RGBA, GL_UNSIGNED_BYTE, fill.scratch.data());
    emscripten_glPixelStorei(GL_PACK_ALIGNMENT, s.packAlignment);
    const size_t pitch = RowPitch(width, s.packRowLength, bpp, s.packAlignment);
    unsigned char* out = static_cast<unsigned char*>(pixels) + pitch * static_cast<size_t>(s.packSkipRows) +
                         static_cast<size_t>(s.packSkipPixels) * static_cast<size_t>(bpp);
    for (GLsizei row = 0; row < height; ++row) {
        const unsigned char* from = fill.scratch.data() + tight * static_cast<size_t>(row);
        unsigned char* to = out + pitch * static_cast<size_t>(row);
        for (GLsizei i = 0; i < width; ++i, from += 4, to += bpp) {
            switch (format) {
            case GL_RGBA: std::memcpy(to, from, 4); break;
            case GL_RGB: std::memcpy(to, from, 3); break;
            case GL_ALPHA: to[0] = from[3]; break;
            case GL_LUMINANCE: to[0] = from[0]; break;
            default:
                to[0] = from[0];
                to[1] = from[3];
                break;  // luminance and alpha
            }
        }
    }
}

void glVertexPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
    fill.arrays.vertex = ClientPointer{size, type, stride, pointer};
    emscripten_glVertexPointer(size, type, stride, pointer);
}

void glColorPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
    fill.arrays.color = ClientPointer{size, type, stride, pointer};
    emscripten_glColorPointer(size, type, stride, pointer);
}

void glTexCoordPointer(GLint size, GLenum type, GLsizei stride, const GLvoid* pointer) {
    fill.arrays.texCoord = ClientPointer{size, type, stride, pointer};
    emscripten_glTexCoordPointer(size, type, stride, pointer);
}

void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
    if (first <= 0) {
        emscripten_glDrawArrays(mode, first, count);
        return;
    }
    // Drawn from index 0 of arrays that start at first.
    SetPointers(fill.arrays, first);
    emscripten_glDrawArrays(mode, 0, count);
    SetPointers(fill.arrays, 0);
}

void glGetDoublev(GLenum pname, GLdouble* params) {
    GLfloat values[16] = {};
    emscripten_glGetFloatv(pname, values);
    const int n = pname == GL_MODELVIEW_MATRIX || pname == GL_PROJECTION_MATRIX || pname == GL_TEXTURE_MATRIX ? 16
                  : pname == GL_VIEWPORT || pname == GL_COLOR_CLEAR_VALUE || pname == GL_CURRENT_COLOR        ? 4
                                                                                                              : 1;
    for (int i = 0; i < n; ++i) params[i] = values[i];
}

void glTexCoord2d(GLdouble s, GLdouble t) { emscripten_glTexCoord2f(static_cast<GLfloat>(s), static_cast<GLfloat>(t)); }

void glRasterPos2i(GLint x, GLint y) {
    fill.rasterValid = WindowPoint(static_cast<float>(x), static_cast<float>(y), fill.rasterX, fill.rasterY);
}

// Only the move of a bitmap is kept: no bitmap is drawn.
void glBitmap(GLsizei, GLsizei, GLfloat, GLfloat, GLfloat xmove, GLfloat ymove, const GLubyte*) {
    if (!fill.rasterValid) return;
    fill.rasterX += xmove;
    fill.rasterY += ymove;
}

void glDrawPixels(GLsizei width, GLsizei height, GLenum format, GLenum type, const GLvoid* pixels) {
    DrawPixelRectangle(width, height, format, type, pixels);
}

}  // extern "C"
