// The program file on Linux: the link /proc/self/exe.
#include "runtime/startup_host.h"

#include <climits>
#include <unistd.h>

std::string HostProgramFile() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n <= 0) return "";
    buffer.resize(static_cast<size_t>(n));
    return buffer;
}
