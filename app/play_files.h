#pragma once
// The files the program writes and reads besides its particle image: each is
// written beside its target as "<target>.part" and put in the target's place
// only once complete, so that an old file is only ever replaced by a whole
// new one; little-endian integers; why a file could not be read.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TCStream;

// A file being written as "<target>.part", renamed over target by Commit.
// One left open (an error on the way, a run cut short) is removed on
// destruction; a killed program leaves the part file with what was written
// so far. A target that is a device or a pipe (not a plain file) is written
// into directly.
class TPartFile {
public:
    TPartFile();
    ~TPartFile();
    TPartFile(const TPartFile&) = delete;
    TPartFile& operator=(const TPartFile&) = delete;

    // Creates (or empties) "<target>.part"; false with the reason (a
    // directory is refused).
    bool Open(const std::string& target, std::string& why);
    // Appends count bytes and hands them to the system at once, so that they
    // outlive the program; false with the reason.
    bool Write(const void* bytes, std::size_t count, std::string& why);
    // Closes the part file and renames it over the target; false with the
    // reason, the part file then removed.
    bool Commit(std::string& why);
    // Closes and removes the part file.
    void Discard();
    // Between Open and Commit or Discard.
    bool IsOpen() const { return stream_ != nullptr; }
    // The name of the part file, "<target>.part".
    std::string PartPath() const { return target_ + ".part"; }

private:
    std::shared_ptr<TCStream> stream_;
    std::string target_;
    bool direct_ = false;  // writing into the target itself
};

// Appends v as four bytes, lowest first.
void AppendInt32LE(std::vector<unsigned char>& out, std::int32_t v);
// The four bytes at bytes, lowest first, as an int32.
std::int32_t ReadInt32LE(const unsigned char* bytes);

// Why path could not be opened for reading, given the C library's error
// (the stream layer refuses directories and files beyond 2 GiB without one).
std::string OpenProblem(const std::string& path, int error);
