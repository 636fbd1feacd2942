#pragma once
// A private directory under the system's temporary folder for suites that
// work on real files; removed with everything in it at the end of its scope.

#include <unistd.h>

#include <filesystem>
#include <string>

struct TempDir {
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The full name of file name inside the directory.
    std::string File(const std::string& name) const { return (path / name).string(); }

    static inline int count = 0;
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("fk_test_" + std::to_string(::getpid()) + "_" + std::to_string(count++));
};
