#include "graphics/gl/gl_utils.h"

int32_t NextPowerOfTwo(int32_t n) {
    int32_t p = 1;
    while (p < n) p *= 2;
    return p;
}
void FitTextureSize(int32_t&, int32_t&) {}
int32_t UploadPixmapTexture(const std::shared_ptr<TPixmap>&, int32_t) { return 0; }
void BeginGL2D() {}
void EndGL2D() {}
void DrawGLText(const std::string&, int32_t, int32_t) {}
void DrawGLPixmap(const std::shared_ptr<TPixmap>&, int32_t, int32_t) {}
void DrawGLRect(int32_t, int32_t, int32_t, int32_t) {}
