#pragma once
// X plumbing shared by the suites that drive a real X server: a second
// connection that looks at the server as any other client would, bounded
// waits, windows found by class, pixels the server shows, input injected
// with XTest, close requests, and child processes with captured output.

#include <X11/Xlib.h>

#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <vector>

// An own connection to the server named by DISPLAY, closed on destruction.
class XConnection {
public:
    XConnection() : display_(XOpenDisplay(nullptr)) {}
    ~XConnection() {
        if (display_) XCloseDisplay(display_);
    }
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;
    // The connection; null when the server could not be reached.
    Display* get() const { return display_; }

private:
    Display* display_;
};

// Calls step() and sleeps a little until done() holds; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& step = {}, int timeoutMs = 5000);

// A window as the server sees it: position on the root, size, viewable.
struct WindowBox {
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
    bool exists = false;  // false when the window is gone (all else zero)
};
bool operator==(const WindowBox& a, const WindowBox& b);
std::ostream& operator<<(std::ostream& out, const WindowBox& box);
// Reads w's box; X errors (a window that is gone) are swallowed.
WindowBox BoxOf(Display* d, Window w);

// The children of the root window, bottom to top.
std::vector<Window> TopLevelWindows(Display* d);
// w's WM_CLASS class; empty when it has none or is gone (the X error is swallowed).
std::string WindowClassOf(Display* d, Window w);
// Top-level windows whose WM_CLASS class is className; windows that vanish
// while they are looked at are left out.
std::vector<Window> FindWindowsByClass(Display* d, const std::string& className);

// The colour the server shows at window (x, y), as 0xRRGGBB (0xFFFFFFFF: unreadable,
// such as a point off the window).
unsigned long ShownColour(Display* d, Window w, int x, int y);
// Looks again for up to two seconds until the colour is want (a swap made on
// another connection reaches the screen in its own time); returns the last colour.
unsigned long WaitForColour(Display* d, Window w, int x, int y, unsigned long want);

// The WM_DELETE_WINDOW client message a window manager sends for the close box.
XEvent CloseRequest(Display* d, Window w);
// Sends CloseRequest(d, w) to w and syncs.
void SendCloseRequest(Display* d, Window w);

// Gives w the keyboard focus and syncs (no window manager runs on the test server).
void FocusWindow(Display* d, Window w);

// XTest input; every call syncs, so the server has acted on it on return.
// Presses or releases the key of keysym; false when the keyboard has no such key.
bool FakeKey(Display* d, KeySym keysym, bool down);
// Presses and releases the key of keysym.
bool TapKey(Display* d, KeySym keysym);
// Presses and releases the key of keysym count times back to back, as fast as
// a burst of typing can come, then syncs once; false when there is no such key.
bool TapKeyBurst(Display* d, KeySym keysym, int count);
// Presses or releases a pointer button.
void FakeButton(Display* d, unsigned int button, bool down);
// Moves the pointer to root coordinates.
void MovePointer(Display* d, int rootX, int rootY);
// Moves the pointer to (x, y) of window w.
void MovePointerIn(Display* d, Window w, int x, int y);
// Types text (printable ASCII; "\n" is Return) key by key, holding shift
// where the keyboard needs it; false at the first character it has no key for.
bool TypeText(Display* d, const std::string& text);

// A child process whose stdout and stderr are collected through pipes. It is
// killed if still running when the object goes away.
class ChildProcess {
public:
    // Forks; the child runs body and exits with its result.
    explicit ChildProcess(const std::function<int()>& body);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // A body that runs program with no arguments (exit 127 when it cannot).
    static std::function<int()> Program(const std::string& program);

    bool Started() const { return pid_ > 0; }
    // Reads what is available on both pipes, waiting at most ms.
    void Collect(int ms);
    // Waits until stdout holds a line beginning with prefix; false once the
    // child has exited without it or after timeoutMs.
    bool WaitForLine(const std::string& prefix, int timeoutMs = 30000);
    // Waits for the exit, reads the output to its end and returns the exit
    // status; -1 when a signal ended the child, -2 when it was killed after
    // timeoutMs, -3 when it never started.
    int WaitForExit(int timeoutMs = 30000);

    // The lines of text (without their newlines; an unfinished last line is left out).
    static std::vector<std::string> Lines(const std::string& text);

    std::string out, err;

private:
    bool Exited();
    pid_t pid_ = -1;
    int fds_[2] = {-1, -1};  // stdout, stderr
    bool exited_ = false;
    int status_ = 0;
};
