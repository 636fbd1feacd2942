#pragma once
// Plain helpers for programs that draw with raw OpenGL: pixmaps into textures
// sized to what the GL accepts, a line of text in the built-in 8x16 font, a
// pixmap and a filled rectangle, the last three in window pixels whatever
// projection the caller has set. All need a current context, on its thread.

#include "image/pixmap.h"

#include <cstdint>
#include <memory>
#include <string>

// Smallest power of two >= n; 1 for n <= 1 (2^30, the largest int32 one, for n above it).
int32_t NextPowerOfTwo(int32_t n);
// Fits width/height to powers of two the GL accepts (proxy texture, halving); raises
// TRuntimeError("Unable to calculate tex size") when even 1x1 is refused.
void FitTextureSize(int32_t& width, int32_t& height);
// The pixmap as a new GL texture (RGBA8, mip levels each resampled from the previous one when
// mipmapped != 0); returns the texture name. Binding and unpack row length are restored.
// A null pixmap raises TNullObjectError.
int32_t UploadPixmapTexture(const std::shared_ptr<TPixmap>& pixmap, int32_t mipmapped);
// Saves enables, transform and texture state and the two matrices; one unit per pixel from the
// viewport's top-left corner, y down. Pairs do not nest.
void BeginGL2D();
// Restores what BeginGL2D saved.
void EndGL2D();
// text is UTF-8; each code point takes one 8-pixel cell (a byte that is not valid UTF-8 counts as one
// cell); codes 32..127 are drawn, all others leave a gap.
void DrawGLText(const std::string& text, int32_t x, int32_t y);
// Draws the pixmap with its top-left pixel at window pixel (x, y), which may lie outside the
// viewport; a null pixmap raises TNullObjectError.
void DrawGLPixmap(const std::shared_ptr<TPixmap>& pixmap, int32_t x, int32_t y);
// Fills the rectangle in the current colour (and texture, if the caller left texturing on).
void DrawGLRect(int32_t x, int32_t y, int32_t width, int32_t height);
