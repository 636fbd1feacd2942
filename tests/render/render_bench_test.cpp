// render-bench run as a user runs it: on the private X server it prints its
// figures and finds the fields identical; without a display, with stdout
// unwritable or with bad arguments it says why and fails.

// GoogleTest comes before Xlib (pulled in by the X helpers), whose None macro it would trip over.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

namespace {

static auto* const kXvfb = RegisterXvfbEnvironment();

// A body for ChildProcess: render-bench with args, its stdout sent to
// /dev/full when full is set, DISPLAY removed when noDisplay is set.
std::function<int()> Bench(std::vector<std::string> args, bool full = false, bool noDisplay = false) {
    return [args, full, noDisplay] {
        if (full) {
            const int fd = open("/dev/full", O_WRONLY);
            if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) return 126;
        }
        if (noDisplay) unsetenv("DISPLAY");
        std::vector<char*> argv{const_cast<char*>(FK_RENDER_BENCH)};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(FK_RENDER_BENCH, argv.data());
        return 127;
    };
}

TEST(RenderBench, PrintsFieldAndFrameFiguresForBothModes) {
    ChildProcess child(Bench({"--repeat", "3", "--steps", "2"}));
    ASSERT_EQ(child.WaitForExit(120000), 0) << child.err;
    const auto lines = ChildProcess::Lines(child.out);
    ASSERT_EQ(lines.size(), 6u) << child.out;
    EXPECT_NE(lines[0].find("2999 fluid and 750 boundary particles, "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" lanes, medians of 3 repeats"), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("bit-identical: yes"), std::string::npos) << lines[2];
    EXPECT_EQ(lines[3].rfind("sprite mode", 0), 0u) << lines[3];
    EXPECT_EQ(lines[4].rfind("smooth mode", 0), 0u) << lines[4];
    EXPECT_EQ(lines[5].rfind("update         Update", 0), 0u) << lines[5];
    EXPECT_EQ(child.err, "");
}

TEST(RenderBench, FailsWhenItsFiguresCannotBeWritten) {
    ChildProcess child(Bench({"--repeat", "1", "--steps", "0"}, /*full=*/true));
    EXPECT_EQ(child.WaitForExit(120000), 1);
    EXPECT_NE(child.err.find("render-bench: cannot write standard output"), std::string::npos) << child.err;
}

TEST(RenderBench, FailsWithoutADisplay) {
    ChildProcess child(Bench({}, false, /*noDisplay=*/true));
    EXPECT_EQ(child.WaitForExit(60000), 1);
    EXPECT_EQ(child.err, "render-bench: cannot open an 800x600 OpenGL window (no X display?)\n");
    EXPECT_EQ(child.out, "");
}

TEST(RenderBench, RejectsBadArgumentsWithItsUsage) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{{"--repeat", "0"},
                                                                                      {"--steps", "-1"},
                                                                                      {"--repeat"},
                                                                                      {"--steps", "12x"},
                                                                                      {"--frames", "3"},
                                                                                      {"--lanes", "avx1024"},
                                                                                      {"--lanes"}}) {
        ChildProcess child(Bench(args));
        EXPECT_EQ(child.WaitForExit(30000), 2) << args[0];
        EXPECT_NE(child.err.find("usage: render-bench"), std::string::npos) << child.err;
        EXPECT_EQ(child.out, "");
    }
    // A set this build or processor lacks: the reason, before any window opens.
    ChildProcess missing(Bench({"--lanes", "simd128"}));
    EXPECT_EQ(missing.WaitForExit(30000), 2);
    EXPECT_EQ(missing.err.rfind("render-bench: lane set simd128 is not available: ", 0), 0u) << missing.err;
    ChildProcess help(Bench({"--help"}));
    EXPECT_EQ(help.WaitForExit(30000), 0);
    EXPECT_EQ(help.out.rfind("usage: render-bench", 0), 0u);
}

}  // namespace
