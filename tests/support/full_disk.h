#pragma once
// A real file system of 1 MiB (a tmpfs mounted on a private folder) that a
// test fills to the last byte. Mounting needs root; where it fails, Why()
// says so and the test skips.

#include "tests/support/temp_dir.h"

#include <sys/mount.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class FullDisk {
public:
    FullDisk() {
#ifdef __EMSCRIPTEN__
        why_ = "no file system can be mounted from WebAssembly: the full-disk case needs a native build";
#else
        if (mount("tmpfs", dir_.path.c_str(), "tmpfs", 0, "size=1m") == 0)
            mounted_ = true;
        else
            why_ = std::string("cannot mount a tmpfs (") + std::strerror(errno) + "): the full-disk case needs root";
#endif
    }
    ~FullDisk() {
#ifndef __EMSCRIPTEN__
        if (mounted_) umount2(dir_.path.c_str(), MNT_DETACH);
#endif
    }
    FullDisk(const FullDisk&) = delete;
    FullDisk& operator=(const FullDisk&) = delete;

    // "" when the file system is there, else why not.
    const std::string& Why() const { return why_; }
    // The full name of a file on it.
    std::string File(const std::string& name) const { return dir_.File(name); }
    // Takes every free byte with the file "filler"; Empty() gives them back.
    void Fill() const {
        std::ofstream filler(File("filler"), std::ios::binary);
        const std::vector<char> block(4096, 'f');
        while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) {
        }
    }
    void Empty() const { std::remove(File("filler").c_str()); }
    // The names in the folder, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(dir_.path))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    TempDir dir_;
    bool mounted_ = false;
    std::string why_;
};
