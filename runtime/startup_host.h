#pragma once
// What the start-up values need of the operating system; one implementation
// per platform (posix/startup_posix.cpp; win32/startup_win32.cpp). Paths come back
// with "/" separators, as UTF-8.

#include <string>
#include <vector>

// The working directory (empty when it cannot be read).
std::string HostCurrentDirectory();
// The full path of the program file (empty when unknown).
std::string HostProgramFile();
// True when path names a file without the working directory's help.
bool HostIsAbsolutePath(const std::string& path);
// Makes directory the working directory; false when it cannot.
bool HostChangeDirectory(const std::string& directory);
// The program's arguments as UTF-8, from argc/argv or the platform's own copy.
std::vector<std::string> HostArguments(int argc, char** argv);
