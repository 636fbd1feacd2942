#include "app/play_files.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "stream/cstream.h"

namespace {

// What path names as a place to write to.
enum class TTargetKind { Missing, Plain, Directory, Special };

TTargetKind KindOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return TTargetKind::Missing;
    if (S_ISREG(info.st_mode)) return TTargetKind::Plain;
    return S_ISDIR(info.st_mode) ? TTargetKind::Directory : TTargetKind::Special;
}

// The C library's reason for the last failure, or fallback when it left none.
std::string SystemReason(const char* fallback) { return errno != 0 ? std::strerror(errno) : fallback; }

}  // namespace

TPartFile::TPartFile() = default;

TPartFile::~TPartFile() { Discard(); }

bool TPartFile::Open(const std::string& target, std::string& why) {
    Discard();
    target_ = target;
    const TTargetKind kind = KindOf(target);
    if (kind == TTargetKind::Directory) return why = "it is a directory, not a file", false;
    // A device or a pipe is written straight into: it cannot be replaced by
    // a rename, nor should it be.
    direct_ = kind == TTargetKind::Special;
    errno = 0;
    stream_ = TCStream::OpenFile(direct_ ? target : PartPath(), 0, 1);
    if (!stream_) why = SystemReason("it cannot be opened for writing");
    return stream_ != nullptr;
}

bool TPartFile::Write(const void* bytes, std::size_t count, std::string& why) {
    if (!stream_) return why = "the file is not open", false;
    errno = 0;
    const auto n = static_cast<int32_t>(count);
    if (count > INT32_MAX || stream_->Write(bytes, n) != n)
        return why = SystemReason("the file would grow beyond 2 GiB"), false;
    if (stream_->Flush() != 0) return why = SystemReason("the file could not be written"), false;
    return true;
}

bool TPartFile::Commit(std::string& why) {
    if (!stream_) return why = "the file is not open", false;
    errno = 0;
    const bool closed = stream_->Close() == 0;
    stream_.reset();
    if (!closed) {
        why = SystemReason("the file could not be written");
        if (!direct_) std::remove(PartPath().c_str());
        return false;
    }
    if (direct_) return true;
    const std::string part = PartPath();
    errno = 0;
    // POSIX renames over the target at once; Windows refuses while the
    // target exists, so it is removed first there.
    bool renamed = std::rename(part.c_str(), target_.c_str()) == 0;
    if (!renamed && (errno == EEXIST || errno == EACCES) && KindOf(target_) == TTargetKind::Plain &&
        std::remove(target_.c_str()) == 0)
        renamed = std::rename(part.c_str(), target_.c_str()) == 0;
    if (!renamed) {
        why = SystemReason("it could not be put in place");
        std::remove(part.c_str());
    }
    return renamed;
}

void TPartFile::Discard() {
    if (!stream_) return;
    stream_->Close();
    stream_.reset();
    if (!direct_) std::remove(PartPath().c_str());
}

void AppendInt32LE(std::vector<unsigned char>& out, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int b = 0; b < 4; ++b) out.push_back(static_cast<unsigned char>(u >> (8 * b)));
}

std::int32_t ReadInt32LE(const unsigned char* bytes) {
    std::uint32_t u = 0;
    for (int b = 3; b >= 0; --b) u = (u << 8) | bytes[b];
    return static_cast<std::int32_t>(u);
}

std::string OpenProblem(const std::string& path, int error) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return "it is a directory, not a file";
        if (info.st_size > INT32_MAX) return "it is larger than 2 GiB";
    }
    return std::strerror(error != 0 ? error : EIO);
}
