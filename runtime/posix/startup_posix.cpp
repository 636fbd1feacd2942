// Start-up values on POSIX systems, Linux and the web alike: getcwd and
// chdir (the program file is program_file_linux.cpp, web/program_file_web.cpp).
#include "runtime/startup_host.h"

#include <climits>
#include <unistd.h>

std::string HostCurrentDirectory() {
    std::string buffer(PATH_MAX, '\0');
    if (!getcwd(buffer.data(), buffer.size())) return "";
    buffer.resize(buffer.find('\0'));
    return buffer;
}

bool HostIsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool HostChangeDirectory(const std::string& directory) { return chdir(directory.c_str()) == 0; }

std::vector<std::string> HostArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv && argv[i]; ++i) args.emplace_back(argv[i]);
    return args;
}
