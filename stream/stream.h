#pragma once
// Byte streams: the abstract TIO/TStream pair, typed reads and writes over
// them, the wrapper classes and the stream exceptions.

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/errors.h"

// Base of every stream error; what LoadPixmapFrom treats as a loader's refusal.
class TStreamException : public TRuntimeError {
public:
    using TRuntimeError::TRuntimeError;
};

// Raised when a read that must deliver every byte makes no progress.
class TStreamReadException : public TStreamException {
public:
    TStreamReadException() : TStreamException("Error reading from stream") {}
};

// Raised when a write that must take every byte makes no progress.
class TStreamWriteException : public TStreamException {
public:
    TStreamWriteException() : TStreamException("Error writing to stream") {}
};

// Raw byte input/output; every operation has a harmless default.
class TIO {
public:
    TIO() = default;
    TIO(const TIO&) = delete;
    TIO& operator=(const TIO&) = delete;
    // Derived classes close themselves in their own destructors: a base
    // destructor cannot reach their Close().
    virtual ~TIO() = default;

    // Non-zero when Pos() equals Size().
    virtual int32_t Eof();
    // Current position, -1 when the stream has none.
    virtual int32_t Pos();
    // Size in bytes, 0 when unknown.
    virtual int32_t Size();
    // Moves to pos; returns the new position, -1 when the stream cannot seek.
    virtual int32_t Seek(int32_t pos);
    // Pushes buffered output out; returns 0.
    virtual int32_t Flush();
    // Releases what the stream holds; returns 0.
    virtual int32_t Close();
    // Ends the stream, dropping what was written where it can (a file that
    // replaces its target then leaves the target as it was); elsewhere Close().
    virtual int32_t Discard();
    // Reads up to count bytes; returns how many arrived (0 at the end).
    virtual int32_t Read(void* buffer, int32_t count);
    // Writes up to count bytes; returns how many were taken.
    virtual int32_t Write(const void* buffer, int32_t count);
};

// A TIO with exact and typed reads and writes (little-endian, machine order).
class TStream : public TIO {
public:
    // Reads exactly count bytes or raises TStreamReadException.
    virtual int32_t ReadBytes(void* buffer, int32_t count);
    // Writes exactly count bytes or raises TStreamWriteException.
    virtual int32_t WriteBytes(const void* buffer, int32_t count);
    // Reads and discards count bytes or raises TStreamReadException.
    virtual int32_t SkipBytes(int32_t count);
    // One byte, zero-extended.
    virtual int32_t ReadByte();
    // Writes the low byte of n.
    virtual void WriteByte(int32_t n);
    // Two bytes, zero-extended.
    virtual int32_t ReadShort();
    // Writes the low two bytes of n.
    virtual void WriteShort(int32_t n);
    // Four bytes.
    virtual int32_t ReadInt();
    // Writes four bytes.
    virtual void WriteInt(int32_t n);
    // Eight bytes.
    virtual int64_t ReadLong();
    // Writes eight bytes.
    virtual void WriteLong(int64_t n);
    // A single-precision value.
    virtual float ReadFloat();
    // Writes a single-precision value.
    virtual void WriteFloat(float n);
    // A double-precision value.
    virtual double ReadDouble();
    // Writes a double-precision value.
    virtual void WriteDouble(double n);
    // Bytes up to a line feed, a 0 byte or the end; carriage returns dropped.
    virtual std::string ReadLine();
    // Writes the text and CR LF; returns non-zero when every byte went out.
    virtual int32_t WriteLine(const std::string& text);
    // Exactly count bytes as text, or TStreamReadException.
    virtual std::string ReadString(int32_t count);
    // Writes the text's bytes or raises TStreamWriteException.
    virtual void WriteString(const std::string& text);
    // Object serialisation is not supported: raises "Unable to read object".
    virtual std::shared_ptr<void> ReadObject();
    // Raises "Unable to write object".
    virtual void WriteObject(const std::shared_ptr<void>& object);
};

// Forwards every operation to another stream, except the exact and 64-bit
// transfers, which keep TStream's behaviour over the forwarded Read/Write.
class TStreamWrapper : public TStream {
public:
    ~TStreamWrapper() override;

    // Replaces the wrapped stream (null detaches).
    void SetStream(std::shared_ptr<TStream> stream);
    // The wrapped stream, null when detached.
    const std::shared_ptr<TStream>& WrappedStream() const { return _stream; }

    int32_t Eof() override;
    int32_t Pos() override;
    int32_t Size() override;
    int32_t Seek(int32_t pos) override;
    int32_t Flush() override;
    int32_t Close() override;
    int32_t Discard() override;
    int32_t Read(void* buffer, int32_t count) override;
    int32_t Write(const void* buffer, int32_t count) override;
    int32_t ReadByte() override;
    void WriteByte(int32_t n) override;
    int32_t ReadShort() override;
    void WriteShort(int32_t n) override;
    int32_t ReadInt() override;
    void WriteInt(int32_t n) override;
    float ReadFloat() override;
    void WriteFloat(float n) override;
    double ReadDouble() override;
    void WriteDouble(double n) override;
    std::string ReadLine() override;
    int32_t WriteLine(const std::string& text) override;
    std::string ReadString(int32_t count) override;
    void WriteString(const std::string& text) override;
    std::shared_ptr<void> ReadObject() override;
    void WriteObject(const std::shared_ptr<void>& object) override;

protected:
    // The wrapped stream; raises the null-object error when detached.
    TStream& Target();

    std::shared_ptr<TStream> _stream;
};

// A wrapper that detaches instead of closing: closing or dropping it never
// closes the stream it wraps.
class TStreamStream : public TStreamWrapper {
public:
    ~TStreamStream() override;

    // A wrapper around stream.
    static std::shared_ptr<TStreamStream> Create(std::shared_ptr<TStream> stream);
    // Detaches from the wrapped stream; returns 0.
    int32_t Close() override;
    // Detaches too: what the wrapped stream keeps is its owner's decision.
    int32_t Discard() override;
};
