#pragma once
// A private directory under the system's temporary folder for suites that
// work on real files; removed with everything in it at the end of its scope.

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

struct TempDir {
    TempDir() { std::filesystem::create_directories(path); }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // The full name of file name inside the directory.
    std::string File(const std::string& name) const { return (path / name).string(); }

    static inline int count = 0;
    const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                       ("fk_test_" + std::to_string(::getpid()) + "_" + std::to_string(count++));
};

// A whole file's bytes; "" when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Writes bytes as the whole file at path.
inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
