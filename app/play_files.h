#pragma once
// The recording's file, written beside its target as "<target>.part" and put
// in the target's place only once complete, so that an old file is only ever
// replaced by a whole new one; little-endian integers.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TReplacingFile;

// A file being written as "<target>.part" as it goes, renamed over target by
// Commit. One left open (an error on the way, a run cut short) is removed on
// destruction; a killed program leaves the part file with what was written
// so far. Only a regular file (or none) is replaced.
class TPartFile {
public:
    TPartFile();
    ~TPartFile();
    TPartFile(const TPartFile&) = delete;
    TPartFile& operator=(const TPartFile&) = delete;

    // Creates (or empties) "<target>.part"; false with the reason.
    bool Open(const std::string& target, std::string& why);
    // Appends count bytes and hands them to the system at once, so that they
    // outlive the program; false with the reason.
    bool Write(const void* bytes, std::size_t count, std::string& why);
    // Renames the part file over the target once it is on the disk; false
    // with the reason, the part file then removed.
    bool Commit(std::string& why);
    // Closes and removes the part file.
    void Discard();
    // Between Open and Commit or Discard.
    bool IsOpen() const { return file_ != nullptr; }

private:
    std::shared_ptr<TReplacingFile> file_;
};

// Appends v as four bytes, lowest first.
void AppendInt32LE(std::vector<unsigned char>& out, std::int32_t v);
// The four bytes at bytes, lowest first, as an int32.
std::int32_t ReadInt32LE(const unsigned char* bytes);
