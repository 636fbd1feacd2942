#pragma once
// The X11 system driver: the message pump over the X connection, pointer
// tracking and hiding, and the translation of X events into events.
// Only x11/ folders include this header.

#include "system/event.h"
#include "system/system_driver.h"

#include <X11/Xlib.h>

// The system driver on X11. Works without a display too (clock, sleep and
// main-thread calls); then it pumps only main-thread calls.
class TX11SystemDriver : public TSystemDriver {
public:
    // Main-thread calls, then every queued X event to its window's handler.
    int32_t Poll() override;
    // Sleeps in poll() on the X connection and the main-thread wake pipe, then polls.
    int32_t Wait() override;
    // Warps the pointer to (x, y) of the focused program window (else the root window).
    int32_t MoveMouse(int32_t x, int32_t y) override;
    // Hides the pointer over the tracked client area while visible is 0.
    int32_t SetMouseVisible(int32_t visible) override;
    // Message boxes and choosers run as zenity (message boxes fall back to
    // xmessage) while the pump goes on; URLs go to xdg-open (x11_services.cpp).
    int32_t Notify(const std::string& text, int32_t serious) override;
    int32_t Confirm(const std::string& text, int32_t serious) override;
    int32_t Proceed(const std::string& text, int32_t serious) override;
    std::string RequestFile(const std::string& text, const std::string& extensions, int32_t save,
                            const std::string& path) override;
    std::string RequestDir(const std::string& text, const std::string& path) override;
    int32_t OpenURL(const std::string& url) override;
};

// Makes a TX11SystemDriver the current system driver unless one already is.
// X11RegisterWindow calls it; a main program may call it at start-up.
void StartX11System();

// Turns one X event of a program window into events and emits them (at most
// one, plus "KeyChar" after a key press that types text, and "MouseEnter" /
// "MouseLeave" from pointer tracking). Called by window procedures with a
// null source. Every emitted event carries source and modifierState.
// Keys without a virtual-key code give no key events, only the text they type.
void TranslateWindowMessage(const XEvent& event, EventSource source);

// The Windows virtual-key code of a key event (0: the key has none).
int32_t VirtualKeyOfEvent(const XKeyEvent& event);

// The window whose client area holds the pointer, as last seen (None: none).
Window TrackedWindow();
