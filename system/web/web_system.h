#pragma once
// The browser's system driver: the pump over the input the page's listeners
// queue, the translation of that input into events, pointer tracking and
// hiding, and dialogs through the browser's own. Only web/ folders include
// this header.

#include "system/event.h"
#include "system/system_driver.h"

#include <cstdint>
#include <string>

// The system driver in a browser. Main-thread calls wake its Wait as browser
// input does: both raise the host's wake-up signal.
class TWebSystemDriver : public TSystemDriver {
public:
    // Main-thread calls, then every queued browser input record.
    int32_t Poll() override;
    // Yields to the browser until input or a main-thread call arrives, then polls.
    int32_t Wait() override;
    // A page cannot move the pointer: nothing happens.
    int32_t MoveMouse(int32_t x, int32_t y) override;
    // Hides the pointer over the program's canvases while visible is 0.
    int32_t SetMouseVisible(int32_t visible) override;
    // The browser's alert, headed by the application title; 0.
    int32_t Notify(const std::string& text, int32_t serious) override;
    // The browser's confirmation: 1 for OK, 0 otherwise (also without a page).
    int32_t Confirm(const std::string& text, int32_t serious) override;
    // The same confirmation: 1 for OK (yes), 0 for cancelling (no); the
    // browser's dialog has no third answer.
    int32_t Proceed(const std::string& text, int32_t serious) override;
    // Not available in a browser: "" and one line on the console.
    std::string RequestFile(const std::string& text, const std::string& extensions, int32_t save,
                            const std::string& path) override;
    std::string RequestDir(const std::string& text, const std::string& path) override;
    // Opens url in a new tab; 1 when the browser opened one.
    int32_t OpenURL(const std::string& url) override;
};

// Makes a TWebSystemDriver the current system driver unless one already is.
void StartWebSystem();

// What the page's listeners queue for one browser event.
enum TBrowserInputKind : int32_t {
    BROWSER_KEY_DOWN = 1,
    BROWSER_KEY_UP = 2,
    BROWSER_MOUSE_DOWN = 3,
    BROWSER_MOUSE_UP = 4,
    BROWSER_MOUSE_MOVE = 5,
    BROWSER_WHEEL = 6,
    BROWSER_MOUSE_LEAVE = 7,
    BROWSER_CLOSE = 8,   // the page's own close control
    BROWSER_BLUR = 9,    // the page lost the focus
    BROWSER_FOCUS = 10,  // and got it back
};

// Modifier flags of a browser event (shiftKey, ctrlKey, altKey, metaKey).
enum : int32_t { BROWSER_SHIFT = 1, BROWSER_CTRL = 2, BROWSER_ALT = 4, BROWSER_META = 8 };

// One browser input record.
struct TBrowserInput {
    int32_t kind = 0;
    int32_t canvas = 0;    // which of the program's canvases (its window)
    int32_t button = 0;    // MouseEvent.button: 0 left, 1 middle, 2 right
    int32_t buttons = 0;   // MouseEvent.buttons: 1 left, 2 right, 4 middle held
    int32_t x = 0, y = 0;  // in canvas pixels
    int32_t inside = 0;    // the point lies on the canvas
    int32_t wheel = 0;     // wheel movement, 120 per notch, positive away from the user
    int32_t flags = 0;     // BROWSER_* modifier flags
    int32_t repeat = 0;    // KeyboardEvent.repeat
    std::string code;      // KeyboardEvent.code ("KeyA", "ShiftLeft")
    std::string key;       // KeyboardEvent.key ("a", "Enter")
};

// The Windows virtual-key code of a KeyboardEvent.code; 0 for keys without one.
int32_t VirtualKeyOfCode(const std::string& code);

// Turns one browser record into events (at most one, plus "MouseEnter" /
// "MouseLeave" from pointer tracking and "KeyChar" after a key press) and
// emits them with source and modifierState, as the desktop drivers do.
void TranslateBrowserInput(const TBrowserInput& input, EventSource source);

// Clears the pointer tracking, the modifier state and the pointer hiding
// (a new set of canvases).
void ResetBrowserInput();

// Starts listening to the canvas that CSS selector names, as the program's
// window number index; false when there is no such canvas.
bool WebListenToCanvas(const std::string& selector, int32_t index);
// Stops listening to window number index.
void WebStopListening(int32_t index);
