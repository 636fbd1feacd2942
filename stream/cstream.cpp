#include "stream/cstream.h"

#include "stream/native_file.h"

#include <algorithm>

TCStream::~TCStream() { Close(); }

std::shared_ptr<TCStream> TCStream::OpenFile(const std::string& path, int32_t readable,
                                             int32_t writeable) {
    const char* how = "rb";
    int32_t mode = MODE_READ;
    if (readable && writeable) {
        how = "r+b";
        mode = MODE_READ | MODE_WRITE;
    } else if (writeable) {
        how = "wb";
        mode = MODE_WRITE;
    }
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    std::FILE* f = OpenNativeFile(native, how);
    if (!f) return nullptr;
    return CreateWithCStream(f, mode);
}

std::shared_ptr<TCStream> TCStream::CreateWithCStream(std::FILE* handle, int32_t mode) {
    auto s = std::make_shared<TCStream>();
    s->_cstream = handle;
    s->_pos = static_cast<int32_t>(std::ftell(handle));
    std::fseek(handle, 0, SEEK_END);
    s->_size = static_cast<int32_t>(std::ftell(handle));
    std::fseek(handle, s->_pos, SEEK_SET);
    s->_mode = mode;
    return s;
}

int32_t TCStream::Pos() { return _pos; }
int32_t TCStream::Size() { return _size; }

int32_t TCStream::Seek(int32_t pos) {
    if (!_cstream) return -1;
    std::fseek(_cstream, pos, SEEK_SET);
    _last = LastOp::None;
    _pos = static_cast<int32_t>(std::ftell(_cstream));
    return _pos;
}

void TCStream::SwitchTo(LastOp op) {
    if (_last != LastOp::None && _last != op) std::fseek(_cstream, 0, SEEK_CUR);
    _last = op;
}

int32_t TCStream::Read(void* buffer, int32_t count) {
    // A closed stream reads nothing rather than touching a dead handle.
    if (!_cstream || count <= 0) return 0;
    SwitchTo(LastOp::Read);
    auto n = static_cast<int32_t>(std::fread(buffer, 1, static_cast<size_t>(count), _cstream));
    _pos += n;
    return n;
}

int32_t TCStream::Write(const void* buffer, int32_t count) {
    if (!_cstream || count <= 0) return 0;
    SwitchTo(LastOp::Write);
    auto n = static_cast<int32_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), _cstream));
    _pos += n;
    if (_pos > _size) _size = _pos;
    return n;
}

int32_t TCStream::Flush() {
    if (_cstream) std::fflush(_cstream);
    return 0;
}

int32_t TCStream::Close() {
    if (!_cstream) return 0;
    std::fflush(_cstream);
    std::fclose(_cstream);
    _pos = 0;
    _size = 0;
    _cstream = nullptr;
    return 0;
}
