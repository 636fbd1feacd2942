#include "app/play_files.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "stream/replacing_file.h"

TPartFile::TPartFile() = default;

TPartFile::~TPartFile() { Discard(); }

bool TPartFile::Open(const std::string& target, std::string& why) {
    Discard();
    file_ = TReplacingFile::CreateBeside(target, ".part", &why);
    return file_ != nullptr;
}

bool TPartFile::Write(const void* bytes, std::size_t count, std::string& why) {
    if (!file_) return why = "the file is not open", false;
    const auto n = static_cast<int32_t>(count);
    if (count > INT32_MAX || file_->Write(bytes, n) != n || file_->Flush() != 0) {
        why = file_->Error() != 0 ? std::strerror(file_->Error()) : "the file would grow beyond 2 GiB";
        return false;
    }
    return true;
}

bool TPartFile::Commit(std::string& why) {
    if (!file_) return why = "the file is not open", false;
    const bool put = file_->Close() == 0;
    if (!put) why = file_->Problem();
    file_.reset();
    return put;
}

void TPartFile::Discard() {
    if (file_) file_->Discard();
    file_.reset();
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
