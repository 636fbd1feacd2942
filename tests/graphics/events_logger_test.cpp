// events-logger as a user meets it: started on a private X server, typed at
// and clicked with XTest, ended with Escape or the close box; and started with
// no display at all.

// GoogleTest comes before Xlib, whose None macro it would trip over.
#include <gtest/gtest.h>

#include "tests/graphics/x_window_find.h"
#include "tests/support/xvfb.h"

#include <X11/Xatom.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

using Clock = std::chrono::steady_clock;
constexpr auto kGenerous = std::chrono::seconds(30);

// One run of the logger with its output collected through pipes. The child is
// killed if it is still running when the object goes away.
class LoggerProcess {
public:
    // display null: started with DISPLAY unset.
    explicit LoggerProcess(const char* display) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], 1);
            dup2(err[1], 2);
            close(out[0]), close(out[1]), close(err[0]), close(err[1]);
            if (display)
                setenv("DISPLAY", display, 1);
            else
                unsetenv("DISPLAY");
            execl(EVENTS_LOGGER_PATH, EVENTS_LOGGER_PATH, static_cast<char*>(nullptr));
            _exit(127);
        }
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~LoggerProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    bool Started() const { return pid_ > 0; }

    // Reads what is available on both pipes, waiting at most ms.
    void Collect(int ms) {
        pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (poll(fds, 2, ms) <= 0) return;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP))) continue;
            ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) (i == 0 ? out : err).append(buffer, static_cast<size_t>(n));
        }
    }

    // Waits until stdout holds a line beginning with prefix; false after the timeout.
    bool WaitForLine(const std::string& prefix) {
        auto deadline = Clock::now() + kGenerous;
        while (Clock::now() < deadline) {
            for (const std::string& line : Lines(out))
                if (line.compare(0, prefix.size(), prefix) == 0) return true;
            if (Exited()) return false;
            Collect(50);
        }
        return false;
    }

    // Waits for the exit and returns the status (-1000 after the timeout: killed).
    int WaitForExit() {
        auto deadline = Clock::now() + kGenerous;
        while (Clock::now() < deadline) {
            Collect(20);
            if (Exited()) {
                for (int i = 0; i < 20; ++i) Collect(10);  // drain what is left
                return WIFEXITED(status_) ? WEXITSTATUS(status_) : -2000;
            }
        }
        return -1000;
    }

    static std::vector<std::string> Lines(const std::string& text) {
        std::vector<std::string> lines;
        size_t start = 0;
        for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
            lines.push_back(text.substr(start, nl - start));
        return lines;
    }

    std::string out, err;

private:
    bool Exited() {
        if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_) exited_ = true;
        return exited_;
    }
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool exited_ = false;
    int status_ = 0;
};

class EventsLoggerTest : public ::testing::Test {
protected:
    void SetUp() override {
        display_ = XOpenDisplay(nullptr);
        ASSERT_NE(display_, nullptr);
    }
    void TearDown() override {
        if (display_) XCloseDisplay(display_);
    }

    // The logger's window once it is viewable, focused for typing; 0 after the timeout.
    Window WaitForLoggerWindow(LoggerProcess& logger) {
        auto deadline = Clock::now() + kGenerous;
        while (Clock::now() < deadline) {
            logger.Collect(0);
            XSync(display_, False);
            for (Window w : FindWindowsByClass(display_, "Ferrumkit GLGraphics")) {
                XWindowAttributes a{};
                if (XGetWindowAttributes(display_, w, &a) && a.map_state == IsViewable) {
                    // No window manager runs here: focus the window ourselves.
                    XSetInputFocus(display_, w, RevertToPointerRoot, CurrentTime);
                    XSync(display_, False);
                    return w;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return 0;
    }

    void TapKey(KeySym sym) {
        KeyCode code = XKeysymToKeycode(display_, sym);
        XTestFakeKeyEvent(display_, code, True, CurrentTime);
        XTestFakeKeyEvent(display_, code, False, CurrentTime);
        XSync(display_, False);
    }

    // Moves the pointer to window-relative (x, y).
    void MovePointer(Window w, int x, int y) {
        int rootX = 0, rootY = 0;
        Window child = 0;
        XTranslateCoordinates(display_, w, DefaultRootWindow(display_), x, y, &rootX, &rootY,
                              &child);
        XTestFakeMotionEvent(display_, -1, rootX, rootY, CurrentTime);
        XSync(display_, False);
    }

    // The logger prints once its window is open and polled input listens: move
    // the pointer over the window until a move is printed.
    bool WaitUntilReady(LoggerProcess& logger, Window w) {
        auto deadline = Clock::now() + kGenerous;
        for (int i = 0; Clock::now() < deadline; ++i) {
            MovePointer(w, 20 + i % 2, 20);
            for (int j = 0; j < 5; ++j) logger.Collect(20);
            if (logger.out.find("MouseMove: ") != std::string::npos) return true;
        }
        return false;
    }

    // Moves the pointer to window-relative (x, y) and clicks button.
    void Click(Window w, int x, int y, unsigned button) {
        MovePointer(w, x, y);
        XTestFakeButtonEvent(display_, button, True, CurrentTime);
        XTestFakeButtonEvent(display_, button, False, CurrentTime);
        XSync(display_, False);
    }

    Display* display_ = nullptr;
};

TEST_F(EventsLoggerTest, PrintsKeysAndClicksAndEndsOnEscape) {
    LoggerProcess logger(XvfbEnvironment::Server()->Name().c_str());
    ASSERT_TRUE(logger.Started());
    Window w = WaitForLoggerWindow(logger);
    ASSERT_NE(w, 0u) << logger.err;
    ASSERT_TRUE(WaitUntilReady(logger, w)) << logger.out << logger.err;

    TapKey(XK_a);
    EXPECT_TRUE(logger.WaitForLine("KeyDown: data=65, ")) << logger.out;
    EXPECT_TRUE(logger.WaitForLine("KeyUp: data=65, ")) << logger.out;

    Click(w, 100, 50, 1);
    EXPECT_TRUE(logger.WaitForLine("MouseDown: data=1, mods=0, x=100, y=50")) << logger.out;
    EXPECT_TRUE(logger.WaitForLine("MouseUp: data=1, mods=0, x=100, y=50")) << logger.out;

    TapKey(XK_Escape);
    EXPECT_EQ(logger.WaitForExit(), 0) << logger.out << logger.err;
    std::vector<std::string> lines = LoggerProcess::Lines(logger.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "bye");
    EXPECT_TRUE(logger.WaitForLine("KeyDown: data=27, "));
    EXPECT_EQ(logger.err, "");
}

TEST_F(EventsLoggerTest, EndsOnTheCloseRequest) {
    LoggerProcess logger(XvfbEnvironment::Server()->Name().c_str());
    ASSERT_TRUE(logger.Started());
    Window w = WaitForLoggerWindow(logger);
    ASSERT_NE(w, 0u) << logger.err;
    ASSERT_TRUE(WaitUntilReady(logger, w)) << logger.out << logger.err;

    XEvent e{};
    e.xclient.type = ClientMessage;
    e.xclient.window = w;
    e.xclient.message_type = XInternAtom(display_, "WM_PROTOCOLS", False);
    e.xclient.format = 32;
    e.xclient.data.l[0] = static_cast<long>(XInternAtom(display_, "WM_DELETE_WINDOW", False));
    e.xclient.data.l[1] = CurrentTime;
    XSendEvent(display_, w, False, NoEventMask, &e);
    XSync(display_, False);

    EXPECT_EQ(logger.WaitForExit(), 0) << logger.out << logger.err;
    std::vector<std::string> lines = LoggerProcess::Lines(logger.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "bye");
    EXPECT_TRUE(logger.WaitForLine("AppTerminate: data=0, ")) << logger.out;
}

TEST_F(EventsLoggerTest, WithoutADisplayFailsWithOneLine) {
    LoggerProcess logger(nullptr);
    ASSERT_TRUE(logger.Started());
    EXPECT_EQ(logger.WaitForExit(), 1);
    EXPECT_EQ(LoggerProcess::Lines(logger.err).size(), 1u) << logger.err;
    EXPECT_EQ(logger.err.back(), '\n');
    EXPECT_EQ(logger.out, "");
}

}  // namespace
