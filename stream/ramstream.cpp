#include "stream/ramstream.h"

#include <cstring>

std::shared_ptr<TRamStream> TRamStream::Create(void* buffer, int32_t size, int32_t readable, int32_t writeable) {
    auto s = std::make_shared<TRamStream>();
    s->_buf = static_cast<unsigned char*>(buffer);
    s->_size = size > 0 ? size : 0;
    s->_read = readable;
    s->_write = writeable;
    return s;
}

std::shared_ptr<TRamStream> TRamStream::Create(const void* buffer, int32_t size, int32_t readable) {
    // Writing is off, so the block is only ever read.
    return Create(const_cast<void*>(buffer), size, readable, 0);
}

int32_t TRamStream::Pos() { return _pos; }
int32_t TRamStream::Size() { return _size; }

int32_t TRamStream::Seek(int32_t pos) {
    if (pos < 0) pos = 0;
    if (pos > _size) pos = _size;
    _pos = pos;
    return _pos;
}

int32_t TRamStream::Read(void* buffer, int32_t count) {
    if (count <= 0 || !_read) return 0;
    int32_t n = _size - _pos < count ? _size - _pos : count;
    if (n > 0) std::memcpy(buffer, _buf + _pos, static_cast<size_t>(n));
    _pos += n;
    return n;
}

int32_t TRamStream::Write(const void* buffer, int32_t count) {
    if (count <= 0 || !_write) return 0;
    int32_t n = _size - _pos < count ? _size - _pos : count;
    if (n > 0) std::memcpy(_buf + _pos, buffer, static_cast<size_t>(n));
    _pos += n;
    return n;
}
