#pragma once
// Opens a disk file with the C library's buffered file functions, the way the
// platform wants the path: as it is on POSIX (posix/native_file_posix.cpp), as
// UTF-16 through _wfopen on the Windows NT family (win32/native_file_win32.cpp).

#include <cstdio>
#include <string>

// fopen(path, mode) for the platform; null on failure.
std::FILE* OpenNativeFile(const std::string& path, const char* mode);
