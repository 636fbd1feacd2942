// show_png: loads a PNG file into a pixmap, makes a grey copy and an
// enlarged copy of it, and draws all three until Escape or the close box.
//
//   show_png FILE.png [FRAMES]   (FRAMES: end after that many frames)
#include <ferrumkit/graphics/gl/gl_graphics.h>
#include <ferrumkit/graphics/gl/gl_utils.h>  // DrawGLPixmap, DrawGLText
#include <ferrumkit/graphics/graphics.h>
#include <ferrumkit/image/pixmap.h>  // TPixmap, Convert, ResamplePixmap
#include <ferrumkit/image/png.h>     // LoadPNGPixmap
#include <ferrumkit/system/polled_input.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: show_png FILE.png [FRAMES]\n");
        return 2;
    }
    const long frames = argc > 2 ? std::atol(argv[2]) : -1;  // -1: until Escape

    // Null when the file is missing or is not a readable PNG.
    std::shared_ptr<TPixmap> image = LoadPNGPixmap(argv[1]);
    if (!image) {
        std::fprintf(stderr, "show_png: %s is not a PNG image I can read\n", argv[1]);
        return 1;
    }
    // Conversion makes a new pixmap in another pixel format (one grey byte a
    // pixel); resampling makes a new one of another size, bilinearly.
    std::shared_ptr<TPixmap> grey = image->Convert(PIXFMT_GREY8);
    std::shared_ptr<TPixmap> large = ResamplePixmap(image, image->width * 3, image->height * 3);

    if (!OpenGLGraphics(800, 600, 0, 60, GFX_BACKBUFFER)) {
        std::fprintf(stderr, "show_png: cannot open a window\n");
        return 1;
    }
    const std::string path = argv[1];
    const std::string label = path.substr(path.find_last_of('/') + 1) + ": " + std::to_string(image->width) + " by " +
                              std::to_string(image->height) + " pixels; a grey copy; three times the size";

    for (long frame = 0; frame != frames; ++frame) {
        if (KeyHitCount(27) || TerminateRequested()) break;
        glClearColor(0.3f, 0.3f, 0.3f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1.0f, 1.0f, 1.0f);
        DrawGLText(label, 8, 8);
        // Pixmaps are drawn at window pixels, their top-left corner first;
        // blending lets the image's alpha show the ground through.
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
        DrawGLPixmap(image, 8, 40);
        DrawGLPixmap(grey, 16 + image->width, 40);
        DrawGLPixmap(large, 8, 48 + image->height);
        glDisable(GL_BLEND);
        FlipPage(-1);
    }
    return 0;
}
