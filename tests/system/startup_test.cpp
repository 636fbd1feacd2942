#include "runtime/startup.h"

#include <gtest/gtest.h>

#include <climits>
#include <unistd.h>

namespace {

// The working directory with "/" separators, as the start-up values keep paths.
std::string WorkingDirectory() {
    char buffer[PATH_MAX];
    std::string path = getcwd(buffer, sizeof buffer) ? buffer : "";
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

#ifdef _WIN32
const char* const kProgramName = "system_startup_test.exe";
#else
const char* const kProgramName = "system_startup_test";
#endif

TEST(Startup, TheDirectoryOfAProgramHasNoTrailingSlashExceptAtARoot) {
    const std::pair<const char*, const char*> cases[] = {
        {"/opt/demo/bin/sph", "/opt/demo/bin"}, {"/sph", "/"}, {"C:/sph.exe", "C:/"},
        {"C:/games/sph.exe", "C:/games"},       {"sph", ""},   {"", ""}};
    for (const auto& [program, directory] : cases) EXPECT_EQ(DirectoryOfProgram(program), directory) << program;
}

TEST(Startup, ValuesAreReadyWithoutStartUpAndStartUpMovesIntoTheProgramDirectory) {
    // Before RuntimeStartup: values computed on use, working directory untouched.
    const std::string before = WorkingDirectory();
    EXPECT_EQ(LaunchDirectory(), before);
    EXPECT_EQ(ApplicationTitle(), "Ferrumkit Application");
    EXPECT_TRUE(ProgramArguments().empty());
    ASSERT_FALSE(ProgramFile().empty());
    EXPECT_EQ(ProgramFile().substr(ProgramFile().rfind('/') + 1), kProgramName);
    EXPECT_EQ(ProgramDirectory(), DirectoryOfProgram(ProgramFile()));
    EXPECT_EQ(access(ProgramFile().c_str(), X_OK), 0);

    ASSERT_EQ(chdir("/"), 0);
    char arg0[] = "first";
    char arg1[] = "second arg";
    char* argv[] = {arg0, arg1, nullptr};
    RuntimeStartup(2, argv);
    EXPECT_EQ(WorkingDirectory(), ProgramDirectory());
    EXPECT_EQ(ProgramArguments(), (std::vector<std::string>{"first", "second arg"}));
    EXPECT_EQ(LaunchDirectory(), before);  // the launch directory is kept as it was

    SetApplicationTitle("Liquid");
    EXPECT_EQ(ApplicationTitle(), "Liquid");
    ASSERT_EQ(chdir(before.c_str()), 0);
}

}  // namespace
