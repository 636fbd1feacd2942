#pragma once
// A private Xvfb server for the suites that need a display. It never touches
// the developer's own display: DISPLAY is pointed at the private server for
// the whole test process, and Mesa is told to render in software.

#include <gtest/gtest.h>

#include <string>
#include <sys/types.h>

// One Xvfb process with a single 24-bit screen on a free display number.
class XvfbServer {
public:
    // Starts the server and waits until it accepts connections; throws on failure.
    explicit XvfbServer(int width = 1280, int height = 1024);
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // The display name, ":N".
    const std::string& Name() const { return name_; }

private:
    pid_t pid_ = -1;
    std::string name_;
};

// GoogleTest environment: one server for the whole binary, DISPLAY set to it.
class XvfbEnvironment : public ::testing::Environment {
public:
    void SetUp() override;
    void TearDown() override;
    // The running server, or null outside SetUp..TearDown.
    static XvfbServer* Server();
};

// Registers XvfbEnvironment; call from a test file at namespace scope:
//   static auto* const kXvfb = RegisterXvfbEnvironment();
::testing::Environment* RegisterXvfbEnvironment();
