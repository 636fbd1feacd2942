#include "stream/cstream.h"

#include "stream/native_file.h"

#include <algorithm>
#include <cstdint>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

// Positions and sizes travel as int32: a stream's file ends at this position
// at the latest (2 GiB - 1 bytes).
constexpr int64_t kLastPosition = INT32_MAX;

// How much of a transfer of count bytes at pos fits before the last position.
size_t Fitting(int32_t pos, int32_t count) {
    return static_cast<size_t>(std::max<int64_t>(0, std::min<int64_t>(count, kLastPosition - pos)));
}

}  // namespace

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
    // The C library opens a directory for reading, but it yields no bytes:
    // refuse it like a file that is not there. Devices and pipes stay welcome.
    struct stat info;
    if (fstat(fileno(f), &info) != 0 || S_ISDIR(info.st_mode)) {
        std::fclose(f);
        return nullptr;
    }
    auto stream = CreateWithCStream(f, mode);
    if (!stream) std::fclose(f);
    return stream;
}

std::shared_ptr<TCStream> TCStream::CreateWithCStream(std::FILE* handle, int32_t mode) {
    const off_t pos = ftello(handle);
    fseeko(handle, 0, SEEK_END);
    const off_t size = ftello(handle);
    fseeko(handle, pos, SEEK_SET);
    // A file too large to count in int32 is refused, not given a wrapped size.
    if (pos > kLastPosition || size > kLastPosition) return nullptr;
    auto s = std::make_shared<TCStream>();
    s->_cstream = handle;
    s->_pos = static_cast<int32_t>(pos);
    s->_size = static_cast<int32_t>(size);
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
    // A file that grew past the last position ends there for this stream.
    auto n = static_cast<int32_t>(std::fread(buffer, 1, Fitting(_pos, count), _cstream));
    _pos += n;
    return n;
}

int32_t TCStream::Write(const void* buffer, int32_t count) {
    if (!_cstream || count <= 0) return 0;
    SwitchTo(LastOp::Write);
    // Bytes past the last position are not taken: WriteBytes then reports the failure.
    auto n = static_cast<int32_t>(std::fwrite(buffer, 1, Fitting(_pos, count), _cstream));
    _pos += n;
    if (_pos > _size) _size = _pos;
    return n;
}

int32_t TCStream::Flush() {
    if (!_cstream) return 0;
    // A write the C library only buffered fails here (a full disk, say): say so.
    return std::fflush(_cstream) == 0 && !std::ferror(_cstream) ? 0 : -1;
}

int32_t TCStream::Close() {
    if (!_cstream) return 0;
    const bool flushed = Flush() == 0;
    const bool closed = std::fclose(_cstream) == 0;
    _pos = 0;
    _size = 0;
    _cstream = nullptr;
    return flushed && closed ? 0 : -1;
}
