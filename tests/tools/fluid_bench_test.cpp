// fluid-bench run as a user runs it: its dump format, its repeatability (on
// every lane set), its answers to bad arguments, output that cannot be
// written and a memory limit.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "tests/support/full_disk.h"
#include "tests/support/temp_dir.h"
#include "tests/support/x11_helpers.h"

namespace {

// Runs fluid-bench with args, its standard output into 'out' if given
// (discarded otherwise); returns its exit status.
int RunBench(const std::string& args, const std::string& out = "/dev/null") {
    const std::string command = std::string(FK_FLUID_BENCH) + " " + args + " >" + out + " 2>/dev/null";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A child body that runs fluid-bench with args after before() (a redirection,
// a limit) has run in the child.
std::function<int()> Bench(std::vector<std::string> args, std::function<void()> before = {}) {
    return [args = std::move(args), before = std::move(before)] {
        if (before) before();
        std::vector<char*> argv{const_cast<char*>(FK_FLUID_BENCH)};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(FK_FLUID_BENCH, argv.data());
        return 127;
    };
}

// Limits the memory of this process and what it runs next to mebibytes: the
// whole address space (heap, libraries, stack). AddressSanitizer reserves
// terabytes of shadow, which no such limit fits; its cap on any one allocation
// stands in there.
void LimitMemory(rlim_t mebibytes) {
#if defined(__SANITIZE_ADDRESS__)
    const char* options = std::getenv("ASAN_OPTIONS");
    const std::string capped =
        std::string(options ? options : "") + ":max_allocation_size_mb=" + std::to_string(mebibytes);
    setenv("ASAN_OPTIONS", capped.c_str(), 1);
#else
    const rlimit limit{mebibytes << 20, mebibytes << 20};
    setrlimit(RLIMIT_AS, &limit);
#endif
}

int32_t Int32At(const std::string& bytes, size_t offset) {
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
        const std::string a = ReadFileBytes(once), b = ReadFileBytes(twice);
        ASSERT_GE(a.size(), 8u);
        EXPECT_EQ(Int32At(a, 0), c.fluid);
        EXPECT_EQ(Int32At(a, 4), c.boundary);
        // Eight float fields per fluid particle, two per boundary particle.
        EXPECT_EQ(a.size(), 8u + 32u * c.fluid + 8u * c.boundary);
        EXPECT_EQ(a, b) << "a fresh scene must give the same state on every repeat";
    }
}

TEST(FluidBench, RefusesBadArgumentsAndUnwritableDumps) {
    for (const char* args :
         {"--steps -1", "--steps x", "--repeat -1", "--repeat 0", "--scene moon", "--steps", "--bogus", "--threads 0",
          "--threads 3", "--threads", "--compare 2", "--replay", "--replay x.rec --steps 3", "--replay x.rec --compare",
          "--scene full --replay x.rec", "--lanes"}) {
        SCOPED_TRACE(args);
        EXPECT_EQ(RunBench(args), 2);
    }
    EXPECT_EQ(RunBench("--steps 1 --dump /nonexistent-dir/state.bin"), 1);
}

// Figures that never arrive are a failure: standard output on a full device
// fails the run with a message. A dump is no device's to take, and on a full
// disk it fails saying why, leaving the file it was to replace as it was.
TEST(FluidBench, OutputThatCannotBeWrittenFailsTheRun) {
    ChildProcess toFull(Bench({"--steps", "2"}, [] { dup2(open("/dev/full", O_WRONLY), 1); }));
    EXPECT_EQ(toFull.WaitForExit(), 1);
    EXPECT_EQ(toFull.err, "fluid-bench: cannot write standard output: No space left on device\n");

    ChildProcess dumpToDevice(Bench({"--steps", "2", "--dump", "/dev/full"}));
    EXPECT_EQ(dumpToDevice.WaitForExit(), 1);
    EXPECT_EQ(dumpToDevice.err,
              "fluid-bench: cannot write dump file '/dev/full': it is a device, not a regular file\n");

    FullDisk disk;
    if (!disk.Why().empty()) GTEST_SKIP() << disk.Why();
    const std::string old(8192, 'o'), dump = disk.File("state.bin");
    WriteFileBytes(dump, old);
    disk.Fill();
    ChildProcess dumpToFullDisk(Bench({"--steps", "2", "--dump", dump}));
    EXPECT_EQ(dumpToFullDisk.WaitForExit(), 1);
    EXPECT_EQ(dumpToFullDisk.err, "fluid-bench: cannot write dump file '" + dump + "': No space left on device\n");
    EXPECT_EQ(ReadFileBytes(dump), old);
    EXPECT_EQ(disk.Names(), (std::vector<std::string>{"filler", "state.bin"}));
}

// Memory does not grow with the step count: a run of 10^8 steps is still
// stepping a second later under a limit far below 8 bytes a step. And a failed
// allocation, wherever it strikes, ends the run with a message and status 1.
TEST(FluidBench, MemoryStaysBoundedAndRunningOutOfItIsAnError) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer maps its shadow at fixed addresses: no memory limit fits it";
#endif
    ChildProcess huge(Bench({"--steps", "100000000"}, [] { LimitMemory(64); }));
    EXPECT_EQ(huge.WaitForExit(1000), -2) << "still running when killed\n" << huge.err;
    EXPECT_EQ(huge.err, "");

#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's allocator dies rather than throw: allocation failures need the plain build";
#else
    // From too little to load the program to enough to finish, 1 MiB apart.
    int outOfMemory = 0;
    for (rlim_t mib = 2; mib <= 24; ++mib) {
        SCOPED_TRACE(std::to_string(mib) + " MiB");
        ChildProcess run(Bench({"--steps", "1", "--scene", "full"}, [mib] { LimitMemory(mib); }));
        const int status = run.WaitForExit();
        if (status == 127) continue;  // too little to load the program at all
        if (status == 1) {
            EXPECT_EQ(run.err, "fluid-bench: out of memory\n");
            ++outOfMemory;
        } else {
            EXPECT_EQ(status, 0) << run.err;
        }
    }
    EXPECT_GT(outOfMemory, 0) << "no limit made an allocation fail";
#endif
}

TEST(FluidBench, OneAndTwoThreadsDumpTheSameStateAndCompareWithTheLiteralWorld) {
    TempDir dir;
    const std::string one = dir.File("one.bin"), two = dir.File("two.bin"), report = dir.File("report.txt");
    ASSERT_EQ(RunBench("--steps 20 --threads 1 --dump " + one), 0);
    ASSERT_EQ(RunBench("--steps 20 --threads 2 --compare --dump " + two, report), 0);
    EXPECT_EQ(ReadFileBytes(one), ReadFileBytes(two));
    const std::string printed = ReadFileBytes(report);
    EXPECT_NE(printed.find("literal Update median"), std::string::npos) << printed;
    EXPECT_NE(printed.find("speed-up over the literal world: median"), std::string::npos) << printed;
}

// Every lane set this machine has runs, says so and dumps the same state;
// a set it lacks, or no set at all, is refused with the reason and status 2.
TEST(FluidBench, EveryLaneSetDumpsTheSameStateAndOneThatIsMissingIsRefused) {
    TempDir dir;
    const std::string plain = dir.File("plain.bin"), report = dir.File("report.txt");
    ASSERT_EQ(RunBench("--steps 20 --threads 1 --lanes plain --dump " + plain, report), 0);
    EXPECT_NE(ReadFileBytes(report).find("1 step thread(s), plain lanes\n"), std::string::npos)
        << ReadFileBytes(report);
    int ran = 0;
    for (const std::string set : {"avx2", "avx512", "simd128"}) {
        const std::string dump = dir.File(set + ".bin");
        ChildProcess child(Bench({"--steps", "20", "--threads", "2", "--lanes", set, "--dump", dump}));
        const int status = child.WaitForExit();
        if (status == 2) {
            EXPECT_EQ(child.err.rfind("fluid-bench: lane set " + set + " is not available: ", 0), 0u) << child.err;
            std::printf("[ SKIPPED  ] %s", child.err.c_str());
            continue;
        }
        ASSERT_EQ(status, 0) << child.err;
        ++ran;
        EXPECT_NE(child.out.find(", " + set + " lanes\n"), std::string::npos) << child.out;
        EXPECT_EQ(ReadFileBytes(dump), ReadFileBytes(plain)) << set;
    }
#if defined(__x86_64__)
    EXPECT_GE(ran, 1) << "an x86-64 machine of today has AVX2";
#endif
    ChildProcess unknown(Bench({"--lanes", "avx1024"}));
    EXPECT_EQ(unknown.WaitForExit(), 2);
    EXPECT_EQ(unknown.err.rfind("fluid-bench: unknown lane set 'avx1024' (plain, avx2, avx512 or simd128)\n", 0), 0u)
        << unknown.err;
}

TEST(FluidBench, ZeroStepsDumpTheSceneAsBuilt) {
    TempDir dir;
    const std::string built = dir.File("built.bin");
    ASSERT_EQ(RunBench("--steps 0 --compare --dump " + built), 0);
    const std::string a = ReadFileBytes(built);
    ASSERT_EQ(a.size(), 8u + 32u * 2999u + 8u * 750u);
    // The first fluid particle has not moved: its old position is its position.
    EXPECT_EQ(std::memcmp(a.data() + 8, a.data() + 16, 8), 0);
}
