#include "tests/support/x11_helpers.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int IgnoreXError(Display*, XErrorEvent*) { return 0; }

// Swallows X errors while alive (a window that vanished, an area off the
// window), then puts back whatever handler the program had.
class ErrorsIgnored {
public:
    explicit ErrorsIgnored(Display* d) : display_(d) {
        XSync(display_, False);  // earlier errors still go to the program's handler
        previous_ = XSetErrorHandler(IgnoreXError);
    }
    ~ErrorsIgnored() {
        XSync(display_, False);
        XSetErrorHandler(previous_);
    }

private:
    Display* display_;
    XErrorHandler previous_ = nullptr;
};

}  // namespace

bool WaitUntil(const std::function<bool()>& done, const std::function<void()>& step, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline) return false;
        if (step) step();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool operator==(const WindowBox& a, const WindowBox& b) {
    return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height && a.viewable == b.viewable &&
           a.exists == b.exists;
}

std::ostream& operator<<(std::ostream& out, const WindowBox& box) {
    if (!box.exists) return out << "(gone)";
    return out << box.width << "x" << box.height << "+" << box.x << "+" << box.y
               << (box.viewable ? " viewable" : " unmapped");
}

WindowBox BoxOf(Display* d, Window w) {
    WindowBox box;
    ErrorsIgnored ignored(d);
    XWindowAttributes a{};
    Window child = 0;
    if (XGetWindowAttributes(d, w, &a) && XTranslateCoordinates(d, w, a.root, 0, 0, &box.x, &box.y, &child)) {
        box.width = a.width;
        box.height = a.height;
        box.viewable = a.map_state == IsViewable;
        box.exists = true;
    } else {
        box = WindowBox{};
    }
    return box;
}

std::vector<Window> TopLevelWindows(Display* d) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    std::vector<Window> windows;
    if (XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count))
        windows.assign(children, children + count);
    if (children) XFree(children);
    return windows;
}

std::string WindowClassOf(Display* d, Window w) {
    // Other clients' windows come and go between the listing and this read
    // (Wine makes and drops helper windows while it starts): a BadWindow here
    // means "gone", not a reason for Xlib's default handler to end the suite.
    ErrorsIgnored ignored(d);
    XClassHint hint{};
    if (!XGetClassHint(d, w, &hint)) return {};
    std::string cls = hint.res_class ? hint.res_class : "";
    if (hint.res_name) XFree(hint.res_name);
    if (hint.res_class) XFree(hint.res_class);
    return cls;
}

std::vector<Window> FindWindowsByClass(Display* d, const std::string& className) {
    std::vector<Window> found;
    for (Window w : TopLevelWindows(d))
        if (!className.empty() && WindowClassOf(d, w) == className) found.push_back(w);
    return found;
}

unsigned long ShownColour(Display* d, Window w, int x, int y) {
    XImage* image = nullptr;
    {
        ErrorsIgnored ignored(d);
        image = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
    }
    if (!image) return 0xFFFFFFFFul;
    const unsigned long pixel = XGetPixel(image, 0, 0);
    // Each channel moved down from wherever the visual keeps it.
    auto channel = [pixel](unsigned long mask) {
        unsigned long value = pixel & mask;
        while (mask && !(mask & 1)) mask >>= 1, value >>= 1;
        return value;
    };
    const unsigned long rgb =
        (channel(image->red_mask) << 16) | (channel(image->green_mask) << 8) | channel(image->blue_mask);
    XDestroyImage(image);
    return rgb;
}

unsigned long WaitForColour(Display* d, Window w, int x, int y, unsigned long want) {
    unsigned long seen = ShownColour(d, w, x, y);
    WaitUntil([&] { return (seen = ShownColour(d, w, x, y)) == want; }, {}, 2000);
    return seen;
}

XEvent CloseRequest(Display* d, Window w) {
    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.display = d;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    return e;
}

void SendCloseRequest(Display* d, Window w) {
    XEvent e = CloseRequest(d, w);
    XSendEvent(d, w, False, NoEventMask, &e);
    XSync(d, False);
}

void FocusWindow(Display* d, Window w) {
    XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
}

bool FakeKey(Display* d, KeySym keysym, bool down) {
    const KeyCode code = XKeysymToKeycode(d, keysym);
    if (code == 0) return false;
    XTestFakeKeyEvent(d, code, down, CurrentTime);
    XSync(d, False);
    return true;
}

bool TapKey(Display* d, KeySym keysym) { return FakeKey(d, keysym, true) && FakeKey(d, keysym, false); }

bool TapKeyBurst(Display* d, KeySym keysym, int count) {
    const KeyCode code = XKeysymToKeycode(d, keysym);
    if (code == 0) return false;
    for (int i = 0; i < count; ++i) {
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        XTestFakeKeyEvent(d, code, False, CurrentTime);
    }
    XSync(d, False);
    return true;
}

void FakeButton(Display* d, unsigned int button, bool down) {
    XTestFakeButtonEvent(d, button, down, CurrentTime);
    XSync(d, False);
}

void MovePointer(Display* d, int rootX, int rootY) {
    XTestFakeMotionEvent(d, -1, rootX, rootY, CurrentTime);
    XSync(d, False);
}

void MovePointerIn(Display* d, Window w, int x, int y) {
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), x, y, &rootX, &rootY, &child);
    MovePointer(d, rootX, rootY);
}

bool TypeText(Display* d, const std::string& text) {
    for (char c : text) {
        const KeySym keysym = c == '\n' ? XK_Return : static_cast<KeySym>(static_cast<unsigned char>(c));
        const KeyCode code = XKeysymToKeycode(d, keysym);
        if (code == 0) return false;
        // The shifted level of its key gives this character.
        const bool shift = XkbKeycodeToKeysym(d, code, 0, 0) != keysym && XkbKeycodeToKeysym(d, code, 0, 1) == keysym;
        if (shift) FakeKey(d, XK_Shift_L, true);
        XTestFakeKeyEvent(d, code, True, CurrentTime);
        XTestFakeKeyEvent(d, code, False, CurrentTime);
        if (shift) FakeKey(d, XK_Shift_L, false);
        XSync(d, False);
    }
    return true;
}

ChildProcess::ChildProcess(const std::function<int()>& body) {
    int out[2], err[2];
    if (pipe(out) != 0) return;
    if (pipe(err) != 0) {
        close(out[0]), close(out[1]);
        return;
    }
    // Whatever this process still buffers must not come out of the child too.
    std::fflush(nullptr);
    std::cout.flush();
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]), close(out[1]), close(err[0]), close(err[1]);
        _exit(body());
    }
    close(out[1]);
    close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
    if (pid_ < 0) exited_ = true;
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_)
        if (fd >= 0) close(fd);
}

std::function<int()> ChildProcess::Program(const std::string& program) {
    return [program] {
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        return 127;
    };
}

void ChildProcess::Collect(int ms) {
    pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (poll(fds, 2, ms) <= 0) return;
    char buffer[4096];
    for (int i = 0; i < 2; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = read(fds_[i], buffer, sizeof buffer);
        if (n > 0) {
            (i == 0 ? out : err).append(buffer, static_cast<size_t>(n));
        } else {  // end of output: stop watching this pipe
            close(fds_[i]);
            fds_[i] = -1;
        }
    }
}

bool ChildProcess::WaitForLine(const std::string& prefix, int timeoutMs) {
    auto found = [&] {
        for (const std::string& line : Lines(out))
            if (line.compare(0, prefix.size(), prefix) == 0) return true;
        return false;
    };
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!found()) {
        if (Clock::now() > deadline || (Exited() && fds_[0] < 0)) return false;
        Collect(50);
    }
    return true;
}

int ChildProcess::WaitForExit(int timeoutMs) {
    if (!Started()) return -3;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!Exited() || fds_[0] >= 0 || fds_[1] >= 0) {
        if (Clock::now() > deadline) {
            if (Exited()) break;  // output held open by someone else: what came is enough
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            exited_ = true;
            return -2;
        }
        Collect(20);
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : -1;
}

std::vector<std::string> ChildProcess::Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
        lines.push_back(text.substr(start, nl - start));
    return lines;
}

bool ChildProcess::Exited() {
    if (!exited_ && pid_ > 0 && waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
    return exited_;
}
