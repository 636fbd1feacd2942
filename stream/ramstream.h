#pragma once
// A stream over a block of memory that it does not own.

#include <memory>

#include "stream/stream.h"

// Reads and writes inside a fixed block; never grows it.
class TRamStream : public TStream {
public:
    // A stream over size bytes at buffer, positioned at 0. A read-only
    // stream never writes through buffer.
    static std::shared_ptr<TRamStream> Create(void* buffer, int32_t size, int32_t readable, int32_t writeable);
    // The same over constant bytes; writing is never allowed.
    static std::shared_ptr<TRamStream> Create(const void* buffer, int32_t size, int32_t readable);

    int32_t Pos() override;
    int32_t Size() override;
    // Clamps to 0..Size().
    int32_t Seek(int32_t pos) override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;

private:
    int32_t _pos = 0;
    int32_t _size = 0;
    unsigned char* _buf = nullptr;
    int32_t _read = 0;
    int32_t _write = 0;
};
