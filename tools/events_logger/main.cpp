// events-logger: opens a small OpenGL window and prints every event that the
// window's input produces, one line each, until Escape or the close box.

#include "graphics/gl/gl_graphics.h"
#include "graphics/graphics.h"
#include "system/event.h"
#include "system/hook.h"
#include "system/polled_input.h"
#include "system/system_driver.h"

#include <GL/gl.h>

#include <cstdio>
#include <string>

#include "runtime/tool.h"

namespace {

// Set whenever an event goes by.
bool gEventsSeen = false;
// Set when a line could not be written: logging on would lose every later one.
bool gOutputFailed = false;

// Every emitted event, as its text, flushed at once so a reader sees it live.
HookData PrintEvent(int32_t, HookData data, const HookContext&) {
    gEventsSeen = true;
    if (auto* event = dynamic_cast<TEvent*>(data.get())) {
        std::fputs(event->ToString().c_str(), stdout);
        std::fputc('\n', stdout);
        if (!FlushStandardOutput()) gOutputFailed = true;
    }
    return data;
}

void ClearAndFlip() {
    glClearColor(0.2f, 0.2f, 0.2f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    FlipPage(0);
}

int Run() {
    if (!OpenGLGraphics(640, 480, 0, 0, 2)) {
        std::fputs("events-logger: cannot open a 640x480 OpenGL window (no X display?)\n", stderr);
        return 1;
    }
    // Installed once the window is open and polled input listens, so a printed
    // line means the logger is ready. Priority -1 runs it after the polled-input hook.
    InsertHook(eventEmitHookId(), PrintEvent, nullptr, -1);
    ClearAndFlip();
    for (;;) {
        // Each query pumps messages: an event taken in by the second one would
        // not wake the wait below, so look again whenever a query saw events.
        gEventsSeen = false;
        const bool escape = KeyHitCount(27) != 0;
        const bool close = TerminateRequested() != 0;
        if (escape || close || gOutputFailed) break;
        if (!gEventsSeen) WaitForMessages();
        ClearAndFlip();
    }
    // Nothing the closing window produces may follow the last line.
    RemoveHookEntry(eventEmitHookId(), PrintEvent, nullptr);
    EndOpenedGraphics();
    std::puts("bye");
    return 0;  // RunTool's exit check reports output that did not arrive
}

const char* const kUsage =
    "usage: events-logger [--help] [--version]\n"
    "Opens a 640 by 480 window and prints every event on its own line;\n"
    "Escape or the close box ends it.\n";

}  // namespace

int main(int argc, char** argv) {
    return RunTool("events-logger", [&] {
        for (int i = 1; i < argc; ++i) {
            ExitWithUsageIfAsked(argv[i], kUsage);
            ExitWithUsage(std::string("unknown argument '") + argv[i] + "'", kUsage);
        }
        return Run();
    });
}
