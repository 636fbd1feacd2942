#pragma once
// A stream over an open C-library file: the disk-file stream.

#include <cstdio>
#include <memory>
#include <string>

#include "stream/stream.h"

// Disk file opened with the C library's buffered file functions.
class TCStream : public TStream {
public:
    // Stream modes: opened for reading, for writing, or both (3).
    static constexpr int32_t MODE_READ = 1;
    static constexpr int32_t MODE_WRITE = 2;

    ~TCStream() override;

    // Opens path ("\" read as "/"): both flags "r+b", else readable or no
    // flag "rb"; writeable alone gives a TReplacingFile, which takes the place
    // of the file at path only when closed complete. Null, with why when asked
    // for, when the name holds a NUL, the file cannot be opened, is not a
    // regular file (a directory, a named pipe, a device) or is larger than
    // 32-bit positions can count (2 GiB - 1 bytes).
    static std::shared_ptr<TCStream> OpenFile(const std::string& path, int32_t readable, int32_t writeable,
                                              std::string* why = nullptr);
    // Takes over an open file handle, keeping its current position. Null, the
    // handle left with the caller, when the file is too large for 32-bit positions.
    static std::shared_ptr<TCStream> CreateWithCStream(std::FILE* handle, int32_t mode);

    int32_t Pos() override;
    int32_t Size() override;
    int32_t Seek(int32_t pos) override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    // 0, or -1 when buffered bytes could not be written.
    int32_t Flush() override;
    // 0, or -1 when buffered bytes could not be written or the file not closed.
    int32_t Close() override;

    // The mode the stream was opened with.
    int32_t Mode() const { return _mode; }
    // The file handle, null once closed.
    std::FILE* Handle() const { return _cstream; }
    // The C library's error number of the first transfer or flush that
    // failed (a full disk: ENOSPC); 0 while none has.
    int Error() const { return _error; }

protected:
    // Takes over handle as CreateWithCStream does; false (the handle left
    // with the caller) when the file is too large for 32-bit positions.
    bool Adopt(std::FILE* handle, int32_t mode);
    // Gives up the handle without closing it; the stream is closed from then on.
    std::FILE* Release();

private:
    // Which transfer ran last: the C library needs a seek between a read
    // and a write on an update stream.
    enum class LastOp { None, Read, Write };
    void SwitchTo(LastOp op);

    int32_t _pos = 0;
    int32_t _size = 0;
    std::FILE* _cstream = nullptr;
    int32_t _mode = 0;
    LastOp _last = LastOp::None;
    int _error = 0;
};
