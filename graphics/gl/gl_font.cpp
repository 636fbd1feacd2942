#include "graphics/gl/gl_font.h"

#include "stream/embedded.h"

std::shared_ptr<TPixmap> BuildFontAtlas(const unsigned char* font) {
    auto atlas = TPixmap::Create(GL_FONT_ATLAS_WIDTH, GL_FONT_CELL_HEIGHT, PIXFMT_RGBA32, 4);
    // The cells past the last glyph are never drawn, but the smaller mip levels
    // mix them into the glyphs beside them: they are cleared, not left as found.
    atlas->ClearPixels(0);
    for (int32_t y = 0; y < GL_FONT_CELL_HEIGHT; ++y)
        for (int32_t g = 0; g < GL_FONT_GLYPHS; ++g)
            for (int32_t k = 0; k < GL_FONT_CELL_WIDTH; ++k)
                atlas->WritePixel(GL_FONT_CELL_WIDTH * g + k, y, FontInk(font, g, k, y) ? 0xFFFFFFFFu : 0u);
    return atlas;
}

int32_t RegisterGLDrawTextFont() { return RegisterEmbeddedFile(GL_FONT_FILE_NAME, GLDrawTextFontData, GL_FONT_BYTES); }
