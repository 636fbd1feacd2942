// fluid-bench run as a user runs it: its dump format, its repeatability and
// its answers to bad arguments.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

// Runs fluid-bench with args, its standard output into 'out' if given
// (discarded otherwise); returns its exit status.
int RunBench(const std::string& args, const std::string& out = "/dev/null") {
    const std::string command = std::string(FK_FLUID_BENCH) + " " + args + " >" + out + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int32_t Int32At(const std::vector<char>& bytes, size_t offset) {
    int32_t v = 0;
    std::memcpy(&v, bytes.data() + offset, sizeof v);  // the dump is little-endian, as is x86
    return v;
}

}  // namespace

TEST(FluidBench, DumpsTheStateOfEachSceneIdenticallyOnEveryRepeat) {
    TempDir dir;
    struct Case {
        const char* scene;
        int32_t fluid, boundary;
    };
    for (const Case c : {Case{"initial", 2999, 750}, Case{"full", 17595, 0}}) {
        SCOPED_TRACE(c.scene);
        const std::string once = dir.File(std::string(c.scene) + "1.bin");
        const std::string twice = dir.File(std::string(c.scene) + "2.bin");
        ASSERT_EQ(RunBench(std::string("--scene ") + c.scene + " --steps 3 --dump " + once), 0);
        ASSERT_EQ(RunBench(std::string("--scene ") + c.scene + " --steps 3 --repeat 2 --dump " + twice), 0);
        const std::vector<char> a = ReadAll(once), b = ReadAll(twice);
        ASSERT_GE(a.size(), 8u);
        EXPECT_EQ(Int32At(a, 0), c.fluid);
        EXPECT_EQ(Int32At(a, 4), c.boundary);
        // Eight float fields per fluid particle, two per boundary particle.
        EXPECT_EQ(a.size(), 8u + 32u * c.fluid + 8u * c.boundary);
        EXPECT_EQ(a, b) << "a fresh scene must give the same state on every repeat";
    }
}

TEST(FluidBench, RefusesBadArgumentsAndUnwritableDumps) {
    for (const char* args : {"--steps -1", "--steps x", "--repeat -1", "--repeat 0", "--scene moon", "--steps",
                             "--bogus", "--threads 0", "--threads 3", "--threads", "--compare 2"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(RunBench(args), 2);
    }
    EXPECT_EQ(RunBench("--steps 1 --dump /nonexistent-dir/state.bin"), 1);
}

TEST(FluidBench, OneAndTwoThreadsDumpTheSameStateAndCompareWithTheLiteralWorld) {
    TempDir dir;
    const std::string one = dir.File("one.bin"), two = dir.File("two.bin"), report = dir.File("report.txt");
    ASSERT_EQ(RunBench("--steps 20 --threads 1 --dump " + one), 0);
    ASSERT_EQ(RunBench("--steps 20 --threads 2 --compare --dump " + two, report), 0);
    EXPECT_EQ(ReadAll(one), ReadAll(two));
    const std::vector<char> text = ReadAll(report);
    const std::string printed(text.begin(), text.end());
    EXPECT_NE(printed.find("literal Update median"), std::string::npos) << printed;
    EXPECT_NE(printed.find("speed-up over the literal world: median"), std::string::npos) << printed;
}

TEST(FluidBench, ZeroStepsDumpTheSceneAsBuilt) {
    TempDir dir;
    const std::string built = dir.File("built.bin");
    ASSERT_EQ(RunBench("--steps 0 --compare --dump " + built), 0);
    const std::vector<char> a = ReadAll(built);
    ASSERT_EQ(a.size(), 8u + 32u * 2999u + 8u * 750u);
    // The first fluid particle has not moved: its old position is its position.
    EXPECT_EQ(std::memcmp(a.data() + 8, a.data() + 16, 8), 0);
}
