// Start-up values on Windows: the working directory (_wgetcwd), the program
// file from the module file name (GetModuleFileNameW), with every "\" turned
// into "/", _wchdir, and the arguments from the wide command line. The 8-bit
// calls serve where UseWideApi() is 0.
#include "runtime/startup_host.h"
#include "runtime/win32/win32_text.h"

#include <windows.h>

#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <direct.h>

namespace {

// The C library's and Win32's path limit for these calls.
const int kPathCapacity = MAX_PATH;

std::string WithForwardSlashes(std::string path) {
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

}  // namespace

std::string HostCurrentDirectory() {
    if (UseWideApi()) {
        wchar_t buffer[kPathCapacity];
        if (!_wgetcwd(buffer, kPathCapacity)) return "";
        return WithForwardSlashes(Win32Utf8(buffer));
    }
    char buffer[kPathCapacity];
    if (!_getcwd(buffer, kPathCapacity)) return "";
    return WithForwardSlashes(buffer);
}

std::string HostProgramFile() {
    if (UseWideApi()) {
        wchar_t buffer[kPathCapacity];
        const DWORD n = GetModuleFileNameW(nullptr, buffer, kPathCapacity);
        if (n == 0 || n >= static_cast<DWORD>(kPathCapacity)) return "";  // none, or cut short
        return WithForwardSlashes(Win32Utf8(buffer, n));
    }
    char buffer[kPathCapacity];
    const DWORD n = GetModuleFileNameA(nullptr, buffer, kPathCapacity);
    if (n == 0 || n >= static_cast<DWORD>(kPathCapacity)) return "";
    return WithForwardSlashes(std::string(buffer, n));
}

// "/x", "\\x", "C:/x" and "C:\\x" (a drive letter without a separator is
// relative to that drive's working directory).
bool HostIsAbsolutePath(const std::string& path) {
    auto separator = [](char c) { return c == '/' || c == '\\'; };
    if (!path.empty() && separator(path[0])) return true;
    return path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
           separator(path[2]);
}

bool HostChangeDirectory(const std::string& directory) {
    if (UseWideApi()) return _wchdir(Win32Wide(directory).c_str()) == 0;
    return _chdir(Win32Narrow(directory).c_str()) == 0;
}

namespace {

// Whether argv holds the process's own arguments (the C runtime hands main a
// copy of its __argv).
bool IsProcessArgv(int argc, char** argv) {
    if (!argv || !__argv || argc != __argc) return false;
    for (int i = 0; i < argc; ++i)
        if (!argv[i] || !__argv[i] || std::strcmp(argv[i], __argv[i]) != 0) return false;
    return true;
}

}  // namespace

std::vector<std::string> HostArguments(int argc, char** argv) {
    std::vector<std::string> args;
    // The C runtime's own argv is in the ANSI code page, which loses every
    // character outside it: its arguments come from the wide command line.
    int count = 0;
    wchar_t** wide =
        UseWideApi() && IsProcessArgv(argc, argv) ? CommandLineToArgvW(GetCommandLineW(), &count) : nullptr;
    if (wide && count != argc) {  // split differently: keep to what main was given
        LocalFree(wide);
        wide = nullptr;
    }
    if (wide) {
        for (int i = 0; i < count; ++i) args.push_back(Win32Utf8(wide[i]));
        LocalFree(wide);
        return args;
    }
    for (int i = 0; i < argc && argv && argv[i]; ++i) args.emplace_back(argv[i]);
    return args;
}
