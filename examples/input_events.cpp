// input_events: prints every event of its window (keys, characters, mouse
// buttons, moves, the wheel, the close box) in the window itself, the newest
// at the bottom. Escape ends it.
//
//   input_events [FRAMES]   (FRAMES: end after that many frames)
#include <ferrumkit/graphics/gl/gl_graphics.h>
#include <ferrumkit/graphics/gl/gl_utils.h>
#include <ferrumkit/graphics/graphics.h>
#include <ferrumkit/system/event.h>  // TEvent, eventEmitHookId
#include <ferrumkit/system/hook.h>   // InsertHook
#include <ferrumkit/system/polled_input.h>

#include <GL/gl.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <memory>
#include <string>

namespace {

// The last lines shown: as many as fit in the window.
std::deque<std::string> lines;
const std::size_t kMaxLines = 600 / 16 - 2;

// Every event the library emits runs through the event-emit hook chain; this
// hook keeps the text of each one and passes the event on unchanged.
HookData KeepEvent(int32_t, HookData data, const HookContext&) {
    if (auto event = std::dynamic_pointer_cast<TEvent>(data)) {
        lines.push_back(event->ToString());
        if (lines.size() > kMaxLines) lines.pop_front();
    }
    return data;
}

}  // namespace

int main(int argc, char** argv) {
    const long frames = argc > 1 ? std::atol(argv[1]) : -1;  // -1: until Escape
    if (!OpenGLGraphics(800, 600, 0, 60, GFX_BACKBUFFER)) {
        std::fprintf(stderr, "input_events: cannot open a window\n");
        return 1;
    }
    // Priority -1: after the polled-input hook, which counts the keys.
    InsertHook(eventEmitHookId(), KeepEvent, nullptr, -1);

    for (long frame = 0; frame != frames; ++frame) {
        // Messages are pumped here, and the hook runs for each event.
        if (KeyHitCount(27)) break;  // the close box is printed, not obeyed
        TerminateRequested();

        glClear(GL_COLOR_BUFFER_BIT);
        glColor3f(1.0f, 1.0f, 0.4f);
        DrawGLText("Type, click, move the mouse, turn the wheel. Escape ends.", 0, 0);
        glColor3f(1.0f, 1.0f, 1.0f);
        int32_t y = 32;
        for (const std::string& line : lines) {
            DrawGLText(line, 0, y);
            y += 16;
        }
        FlipPage(-1);
    }
    return 0;
}
