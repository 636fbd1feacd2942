// Start-up values on Linux: getcwd, /proc/self/exe, chdir.
#include "runtime/startup_host.h"

#include <climits>
#include <unistd.h>

std::string HostCurrentDirectory() {
    std::string buffer(PATH_MAX, '\0');
    if (!getcwd(buffer.data(), buffer.size())) return "";
    buffer.resize(buffer.find('\0'));
    return buffer;
}

std::string HostProgramFile() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return "";
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}

bool HostIsAbsolutePath(const std::string& path) { return !path.empty() && path[0] == '/'; }

bool HostChangeDirectory(const std::string& directory) { return chdir(directory.c_str()) == 0; }

std::vector<std::string> HostArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc && argv && argv[i]; ++i) args.emplace_back(argv[i]);
    return args;
}
