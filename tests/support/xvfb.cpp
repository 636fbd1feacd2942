#include "tests/support/xvfb.h"

#include <X11/Xlib.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

XvfbServer* gServer = nullptr;

// Reads the display number Xvfb writes to -displayfd, within a deadline.
std::string ReadDisplayNumber(int fd, int timeoutMs) {
    std::string digits;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count());
        if (poll(&p, 1, left > 0 ? left : 0) <= 0) break;
        char c;
        ssize_t n = read(fd, &c, 1);
        if (n <= 0) break;
        if (c == '\n') return digits;
        digits.push_back(c);
    }
    return {};
}

}  // namespace

XvfbServer::XvfbServer(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) throw std::runtime_error("pipe failed");
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::string fdArg = std::to_string(fds[1]);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) {
            dup2(devnull, 1);
            dup2(devnull, 2);
        }
        execlp("Xvfb", "Xvfb", "-displayfd", fdArg.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", "+extension", "GLX", "+extension", "RANDR", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number = ReadDisplayNumber(fds[0], 20000);
    close(fds[0]);
    if (number.empty()) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        throw std::runtime_error("Xvfb did not start (is the xvfb package installed?)");
    }
    name_ = ":" + number;
    // Wait until a client can connect: -displayfd is written once the socket listens,
    // but be generous on a loaded machine.
    for (int i = 0; i < 200; ++i) {
        if (Display* d = XOpenDisplay(name_.c_str())) {
            XCloseDisplay(d);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    throw std::runtime_error("Xvfb " + name_ + " accepts no connections");
}

XvfbServer::~XvfbServer() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pid_, nullptr, WNOHANG) == pid_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

void XvfbEnvironment::SetUp() {
    gServer = new XvfbServer();
    setenv("DISPLAY", gServer->Name().c_str(), 1);
    setenv("LIBGL_ALWAYS_SOFTWARE", "1", 1);
}

void XvfbEnvironment::TearDown() {
    delete gServer;
    gServer = nullptr;
    unsetenv("DISPLAY");
}

XvfbServer* XvfbEnvironment::Server() { return gServer; }

::testing::Environment* RegisterXvfbEnvironment() {
    // Never fall back on the developer's own display while the server starts.
    unsetenv("DISPLAY");
    return ::testing::AddGlobalTestEnvironment(new XvfbEnvironment());
}
