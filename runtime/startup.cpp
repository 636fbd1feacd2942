#include "runtime/startup.h"

#include "runtime/startup_host.h"

namespace {

struct StartupValues {
    std::string launchDirectory = HostCurrentDirectory();
    std::string programFile = HostProgramFile();
    std::string programDirectory = DirectoryOfProgram(programFile);
    std::string applicationTitle = "Ferrumkit Application";
    std::vector<std::string> programArguments;
};

StartupValues& Values() {
    static StartupValues values;
    return values;
}

}  // namespace

std::string DirectoryOfProgram(const std::string& programFile) {
    const auto slash = programFile.rfind('/');
    if (slash == std::string::npos) return "";
    // The root directory keeps its slash ("/" rather than an empty name), as
    // does a drive root ("C:/").
    if (slash == 0 || programFile[slash - 1] == ':') return programFile.substr(0, slash + 1);
    return programFile.substr(0, slash);
}

void RuntimeStartup(int argc, char** argv) {
    StartupValues& values = Values();
    values.programArguments = CommandLineArguments(argc, argv);
    // Relative names resolve beside the program from here on; when the
    // directory cannot be entered the launch directory stays in force.
    if (!values.programDirectory.empty()) HostChangeDirectory(values.programDirectory);
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return HostArguments(argc, argv); }

bool IsAbsolutePath(const std::string& path) { return HostIsAbsolutePath(path); }

const std::string& LaunchDirectory() { return Values().launchDirectory; }
const std::string& ProgramFile() { return Values().programFile; }
const std::string& ProgramDirectory() { return Values().programDirectory; }
const std::string& ApplicationTitle() { return Values().applicationTitle; }
void SetApplicationTitle(const std::string& title) { Values().applicationTitle = title; }
const std::vector<std::string>& ProgramArguments() { return Values().programArguments; }
