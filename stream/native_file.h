#pragma once
// Disk files the way the platform wants them (posix/native_file_posix.cpp,
// win32/native_file_win32.cpp): paths as UTF-8 text, opened only when they
// name regular files, and files that replace their targets in one step.

#include <cstdio>
#include <string>

// Opens an existing regular file with fopen mode "rb" or "r+b". Anything
// else (a directory, a named pipe, a device) is refused before an open could
// wait on it. Null on failure, with why saying what went wrong.
std::FILE* OpenNativeFile(const std::string& path, const char* mode, std::string& why);

// A file being written beside the one it is to replace.
struct TNativeTemp {
    std::FILE* file = nullptr;  // open for writing ("wb"); null when none could be made
    std::string temp;           // its own (temporary) name
    std::string target;         // the file it replaces (a symbolic link's target, not the link)
};

// Makes a new, empty temporary file in the folder of target, which must be a
// regular file or not exist; a replacement keeps an existing file's
// permissions. With a suffix the temporary file is not hidden but named
// target + suffix, so that what was written so far can be found if the
// program dies; a regular file of that name (left by such a run) is emptied.
// file is null on failure, with why saying what went wrong.
TNativeTemp CreateNativeTemp(const std::string& target, std::string& why, const char* suffix = nullptr);

// Pushes everything written to temp.file onto the disk, closes it and puts it
// in place of the target in one step. "" on success; else why, with the
// temporary file removed and the target untouched.
std::string ReplaceWithNativeTemp(const TNativeTemp& temp);

// Closes temp.file and removes the temporary file.
void DiscardNativeTemp(const TNativeTemp& temp);
