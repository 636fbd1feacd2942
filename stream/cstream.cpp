#include "stream/cstream.h"

#include "stream/native_file.h"
#include "stream/replacing_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>

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

std::shared_ptr<TCStream> TCStream::OpenFile(const std::string& path, int32_t readable, int32_t writeable,
                                             std::string* why) {
    std::string problem;
    std::string& reason = why ? *why : problem;
    // The C library would stop at a NUL and open another file than the one named.
    if (path.find('\0') != std::string::npos) return reason = "the name holds a NUL character", nullptr;
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    if (writeable && !readable) return TReplacingFile::Create(native, &reason);
    const bool update = readable && writeable;
    std::FILE* f = OpenNativeFile(native, update ? "r+b" : "rb", reason);
    if (!f) return nullptr;
    auto stream = std::make_shared<TCStream>();
    if (stream->Adopt(f, update ? MODE_READ | MODE_WRITE : MODE_READ)) return stream;
    std::fclose(f);
    reason = "it is larger than 2 GiB";
    return nullptr;
}

std::shared_ptr<TCStream> TCStream::CreateWithCStream(std::FILE* handle, int32_t mode) {
    auto s = std::make_shared<TCStream>();
    return s->Adopt(handle, mode) ? s : nullptr;
}

bool TCStream::Adopt(std::FILE* handle, int32_t mode) {
    const off_t pos = ftello(handle);
    fseeko(handle, 0, SEEK_END);
    const off_t size = ftello(handle);
    fseeko(handle, pos, SEEK_SET);
    // A file too large to count in int32 is refused, not given a wrapped size.
    if (pos > kLastPosition || size > kLastPosition) return false;
    _cstream = handle;
    _pos = static_cast<int32_t>(pos);
    _size = static_cast<int32_t>(size);
    _mode = mode;
    return true;
}

std::FILE* TCStream::Release() {
    std::FILE* handle = _cstream;
    _cstream = nullptr;
    _pos = 0;
    _size = 0;
    return handle;
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
    errno = 0;
    const size_t fitting = Fitting(_pos, count);
    auto n = static_cast<int32_t>(std::fwrite(buffer, 1, fitting, _cstream));
    if (static_cast<size_t>(n) < fitting && _error == 0) _error = errno ? errno : EIO;
    _pos += n;
    if (_pos > _size) _size = _pos;
    return n;
}

int32_t TCStream::Flush() {
    if (!_cstream) return 0;
    // A write the C library only buffered fails here (a full disk, say): say so.
    errno = 0;
    const bool flushed = std::fflush(_cstream) == 0;
    if (!flushed && _error == 0) _error = errno ? errno : EIO;
    return flushed && !std::ferror(_cstream) ? 0 : -1;
}

int32_t TCStream::Close() {
    if (!_cstream) return 0;
    const bool flushed = Flush() == 0;
    const bool closed = std::fclose(Release()) == 0;
    return flushed && closed ? 0 : -1;
}
