#pragma once
// Module functions over streams: each takes the stream first and forwards to
// the method of the same name; a null stream raises the null-object error.

#include <memory>
#include <string>

#include "stream/stream.h"

namespace fk_stream_detail {
inline TStream& Deref(const std::shared_ptr<TStream>& s) {
    if (!s) throw TNullObjectError();
    return *s;
}
}  // namespace fk_stream_detail

// Stream operations as functions.
#define FK_STREAM_FORWARD(ret, name, params, args) \
    inline ret name(const std::shared_ptr<TStream>& s params) { return fk_stream_detail::Deref(s).name args; }
#define FK_COMMA ,

FK_STREAM_FORWARD(int32_t, Eof, , ())
FK_STREAM_FORWARD(int32_t, Pos, , ())
FK_STREAM_FORWARD(int32_t, Size, , ())
FK_STREAM_FORWARD(int32_t, Seek, FK_COMMA int32_t pos, (pos))
FK_STREAM_FORWARD(int32_t, Flush, , ())
FK_STREAM_FORWARD(int32_t, Close, , ())
FK_STREAM_FORWARD(int32_t, Read, FK_COMMA void* buf FK_COMMA int32_t n, (buf, n))
FK_STREAM_FORWARD(int32_t, Write, FK_COMMA const void* buf FK_COMMA int32_t n, (buf, n))
FK_STREAM_FORWARD(int32_t, ReadBytes, FK_COMMA void* buf FK_COMMA int32_t n, (buf, n))
FK_STREAM_FORWARD(int32_t, WriteBytes, FK_COMMA const void* buf FK_COMMA int32_t n, (buf, n))
FK_STREAM_FORWARD(int32_t, SkipBytes, FK_COMMA int32_t n, (n))
FK_STREAM_FORWARD(int32_t, ReadByte, , ())
FK_STREAM_FORWARD(void, WriteByte, FK_COMMA int32_t v, (v))
FK_STREAM_FORWARD(int32_t, ReadShort, , ())
FK_STREAM_FORWARD(void, WriteShort, FK_COMMA int32_t v, (v))
FK_STREAM_FORWARD(int32_t, ReadInt, , ())
FK_STREAM_FORWARD(void, WriteInt, FK_COMMA int32_t v, (v))
FK_STREAM_FORWARD(int64_t, ReadLong, , ())
FK_STREAM_FORWARD(void, WriteLong, FK_COMMA int64_t v, (v))
FK_STREAM_FORWARD(float, ReadFloat, , ())
FK_STREAM_FORWARD(void, WriteFloat, FK_COMMA float v, (v))
FK_STREAM_FORWARD(double, ReadDouble, , ())
FK_STREAM_FORWARD(void, WriteDouble, FK_COMMA double v, (v))
FK_STREAM_FORWARD(std::string, ReadLine, , ())
FK_STREAM_FORWARD(int32_t, WriteLine, FK_COMMA const std::string& t, (t))
FK_STREAM_FORWARD(std::string, ReadString, FK_COMMA int32_t n, (n))
FK_STREAM_FORWARD(void, WriteString, FK_COMMA const std::string& t, (t))
FK_STREAM_FORWARD(std::shared_ptr<void>, ReadObject, , ())
FK_STREAM_FORWARD(void, WriteObject, FK_COMMA const std::shared_ptr<void>& o, (o))

#undef FK_COMMA
#undef FK_STREAM_FORWARD
