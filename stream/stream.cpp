#include "stream/stream.h"

#include <cstring>

int32_t TIO::Eof() { return Pos() == Size(); }
int32_t TIO::Pos() { return -1; }
int32_t TIO::Size() { return 0; }
int32_t TIO::Seek(int32_t) { return -1; }
int32_t TIO::Flush() { return 0; }
int32_t TIO::Close() { return 0; }
int32_t TIO::Discard() { return Close(); }
int32_t TIO::Read(void*, int32_t) { throw TRuntimeError("Stream is not readable"); }
int32_t TIO::Write(const void*, int32_t) { throw TRuntimeError("Stream is not writeable"); }

int32_t TStream::ReadBytes(void* buffer, int32_t count) {
    auto* p = static_cast<unsigned char*>(buffer);
    int32_t left = count;
    while (left > 0) {
        int32_t n = Read(p, left);
        if (n <= 0) throw TStreamReadException();
        p += n;
        left -= n;
    }
    return count;
}

int32_t TStream::WriteBytes(const void* buffer, int32_t count) {
    auto* p = static_cast<const unsigned char*>(buffer);
    int32_t left = count;
    while (left > 0) {
        int32_t n = Write(p, left);
        if (n <= 0) throw TStreamWriteException();
        p += n;
        left -= n;
    }
    return count;
}

int32_t TStream::SkipBytes(int32_t count) {
    unsigned char scratch[1024];
    int32_t left = count;
    while (left > 0) {
        int32_t n = Read(scratch, left < 1024 ? left : 1024);
        if (n <= 0) throw TStreamReadException();
        left -= n;
    }
    return count;
}

namespace {
// Typed values travel in the machine's order, which on every supported
// target is little-endian.
template <typename T>
T ReadValue(TStream& s) {
    T v;
    s.ReadBytes(&v, sizeof v);
    return v;
}
template <typename T>
void WriteValue(TStream& s, T v) {
    s.WriteBytes(&v, sizeof v);
}
}  // namespace

int32_t TStream::ReadByte() { return ReadValue<uint8_t>(*this); }
void TStream::WriteByte(int32_t n) { WriteValue(*this, static_cast<uint8_t>(n)); }
int32_t TStream::ReadShort() { return ReadValue<uint16_t>(*this); }
void TStream::WriteShort(int32_t n) { WriteValue(*this, static_cast<uint16_t>(n)); }
int32_t TStream::ReadInt() { return ReadValue<int32_t>(*this); }
void TStream::WriteInt(int32_t n) { WriteValue(*this, n); }
int64_t TStream::ReadLong() { return ReadValue<int64_t>(*this); }
void TStream::WriteLong(int64_t n) { WriteValue(*this, n); }
float TStream::ReadFloat() { return ReadValue<float>(*this); }
void TStream::WriteFloat(float n) { WriteValue(*this, n); }
double TStream::ReadDouble() { return ReadValue<double>(*this); }
void TStream::WriteDouble(double n) { WriteValue(*this, n); }

std::string TStream::ReadLine() {
    std::string line;
    unsigned char c;
    while (Read(&c, 1) == 1) {
        if (c == 0 || c == 10) break;
        if (c != 13) line.push_back(static_cast<char>(c));
    }
    return line;
}

int32_t TStream::WriteLine(const std::string& text) {
    std::string bytes = text + "\r\n";
    int32_t size = static_cast<int32_t>(bytes.size());
    return Write(bytes.data(), size) == size;
}

std::string TStream::ReadString(int32_t count) {
    std::string text(count > 0 ? static_cast<size_t>(count) : 0, '\0');
    if (count > 0) ReadBytes(text.data(), count);
    return text;
}

void TStream::WriteString(const std::string& text) { WriteBytes(text.data(), static_cast<int32_t>(text.size())); }

std::shared_ptr<void> TStream::ReadObject() { throw TRuntimeError("Unable to read object"); }
void TStream::WriteObject(const std::shared_ptr<void>&) { throw TRuntimeError("Unable to write object"); }

TStreamWrapper::~TStreamWrapper() {
    if (_stream) _stream->Close();
}

void TStreamWrapper::SetStream(std::shared_ptr<TStream> stream) { _stream = std::move(stream); }

TStream& TStreamWrapper::Target() {
    if (!_stream) throw TNullObjectError();
    return *_stream;
}

int32_t TStreamWrapper::Eof() { return Target().Eof(); }
int32_t TStreamWrapper::Pos() { return Target().Pos(); }
int32_t TStreamWrapper::Size() { return Target().Size(); }
int32_t TStreamWrapper::Seek(int32_t pos) { return Target().Seek(pos); }
int32_t TStreamWrapper::Flush() { return Target().Flush(); }
int32_t TStreamWrapper::Close() { return Target().Close(); }
int32_t TStreamWrapper::Discard() { return Target().Discard(); }
int32_t TStreamWrapper::Read(void* buffer, int32_t count) { return Target().Read(buffer, count); }
int32_t TStreamWrapper::Write(const void* buffer, int32_t count) { return Target().Write(buffer, count); }
int32_t TStreamWrapper::ReadByte() { return Target().ReadByte(); }
void TStreamWrapper::WriteByte(int32_t n) { Target().WriteByte(n); }
int32_t TStreamWrapper::ReadShort() { return Target().ReadShort(); }
void TStreamWrapper::WriteShort(int32_t n) { Target().WriteShort(n); }
int32_t TStreamWrapper::ReadInt() { return Target().ReadInt(); }
void TStreamWrapper::WriteInt(int32_t n) { Target().WriteInt(n); }
float TStreamWrapper::ReadFloat() { return Target().ReadFloat(); }
void TStreamWrapper::WriteFloat(float n) { Target().WriteFloat(n); }
double TStreamWrapper::ReadDouble() { return Target().ReadDouble(); }
void TStreamWrapper::WriteDouble(double n) { Target().WriteDouble(n); }
std::string TStreamWrapper::ReadLine() { return Target().ReadLine(); }
int32_t TStreamWrapper::WriteLine(const std::string& text) { return Target().WriteLine(text); }
std::string TStreamWrapper::ReadString(int32_t count) { return Target().ReadString(count); }
void TStreamWrapper::WriteString(const std::string& text) { Target().WriteString(text); }
std::shared_ptr<void> TStreamWrapper::ReadObject() { return Target().ReadObject(); }
void TStreamWrapper::WriteObject(const std::shared_ptr<void>& object) { Target().WriteObject(object); }

TStreamStream::~TStreamStream() { SetStream(nullptr); }

std::shared_ptr<TStreamStream> TStreamStream::Create(std::shared_ptr<TStream> stream) {
    auto wrapper = std::make_shared<TStreamStream>();
    wrapper->SetStream(std::move(stream));
    return wrapper;
}

int32_t TStreamStream::Close() {
    SetStream(nullptr);
    return 0;
}

int32_t TStreamStream::Discard() { return Close(); }
