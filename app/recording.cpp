#include "app/recording.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "stream/cstream.h"

namespace {

// The fields of a frame record, in their order in the file: the seven hit
// counts first.
using TField = std::int32_t TFrameInput::*;
constexpr TField kFields[] = {&TFrameInput::escapeHits, &TFrameInput::spaceHits, &TFrameInput::pauseHits,
                              &TFrameInput::stepHits,   &TFrameInput::resetHits, &TFrameInput::leftHits,
                              &TFrameInput::rightHits,  &TFrameInput::leftDown,  &TFrameInput::rightDown,
                              &TFrameInput::pointerX,   &TFrameInput::pointerY};
constexpr std::size_t kHitCounts = 7;
static_assert(sizeof kFields / sizeof kFields[0] * 4 == kFrameRecordBytes, "one int32 per field");

// What no frame loop reads: negative counts, down states other than 0 or 1,
// a pointer far beyond any window.
bool Plausible(const TFrameInput& f) {
    for (std::size_t i = 0; i < kHitCounts; ++i)
        if (f.*kFields[i] < 0) return false;
    const auto flag = [](std::int32_t v) { return v == 0 || v == 1; };
    const auto coordinate = [](std::int32_t v) { return v >= -kMaxPointerCoordinate && v <= kMaxPointerCoordinate; };
    return flag(f.leftDown) && flag(f.rightDown) && coordinate(f.pointerX) && coordinate(f.pointerY);
}

// The header's problem, or "" when it is one this program reads.
std::string HeaderProblem(const unsigned char* bytes, std::size_t size) {
    const std::size_t magic = sizeof kRecordingMagic;
    if (size == 0) return "it is empty (no FKRECORD header)";
    if (std::memcmp(bytes, kRecordingMagic, size < magic ? size : magic) != 0)
        return "it is not a Ferrumkit fluid recording (no FKRECORD header)";
    if (size < kRecordingHeaderBytes)
        return "its header is cut short (" + std::to_string(size) + " of " + std::to_string(kRecordingHeaderBytes) +
               " bytes)";
    const std::int32_t version = ReadInt32LE(bytes + magic);
    if (version != kRecordingVersion)
        return "it is a recording of format version " + std::to_string(version) + "; this program reads version " +
               std::to_string(kRecordingVersion);
    const std::int32_t recordBytes = ReadInt32LE(bytes + magic + 4);
    if (recordBytes != static_cast<std::int32_t>(kFrameRecordBytes))
        return "its header is damaged (frame records of " + std::to_string(recordBytes) + " bytes, not " +
               std::to_string(kFrameRecordBytes) + ")";
    return "";
}

}  // namespace

std::vector<unsigned char> RecordingHeader() {
    std::vector<unsigned char> out(kRecordingMagic, kRecordingMagic + sizeof kRecordingMagic);
    AppendInt32LE(out, kRecordingVersion);
    AppendInt32LE(out, static_cast<std::int32_t>(kFrameRecordBytes));
    return out;
}

void AppendFrameRecord(std::vector<unsigned char>& out, const TFrameInput& frame) {
    for (const TField field : kFields) AppendInt32LE(out, frame.*field);
}

bool ParseRecording(const unsigned char* bytes, std::size_t size, TRecording& recording, std::string& why) {
    why = HeaderProblem(bytes, size);
    if (!why.empty()) return false;
    const std::size_t whole = (size - kRecordingHeaderBytes) / kFrameRecordBytes;
    if (whole > kMaxRecordingFrames)
        return why = "it holds " + std::to_string(whole) + " frames, more than the " +
                     std::to_string(kMaxRecordingFrames) + " a recording may",
               false;
    recording.frames.assign(whole, TFrameInput{});
    for (std::size_t k = 0; k < whole; ++k) {
        const unsigned char* record = bytes + kRecordingHeaderBytes + k * kFrameRecordBytes;
        for (const TField field : kFields) {
            recording.frames[k].*field = ReadInt32LE(record);
            record += 4;
        }
        if (!Plausible(recording.frames[k]))
            return why = "frame " + std::to_string(k + 1) + " is damaged (values no frame loop reads)", false;
    }
    recording.partialLastFrame = (size - kRecordingHeaderBytes) % kFrameRecordBytes != 0;
    return true;
}

bool LoadRecording(const std::string& path, TRecording& recording, std::string& why) {
    const std::shared_ptr<TCStream> file = TCStream::OpenFile(path, 1, 0, &why);
    if (!file) return false;
    const auto size = static_cast<std::size_t>(file->Size());
    const std::size_t most = kRecordingHeaderBytes + (kMaxRecordingFrames + 1) * kFrameRecordBytes;
    if (size >= most)
        return why = "it is " + std::to_string(size) + " bytes, more than any recording (under " +
                     std::to_string(most) + ")",
               false;
    std::vector<unsigned char> bytes(size);
    errno = 0;
    if (size > 0 && file->Read(bytes.data(), static_cast<std::int32_t>(size)) != static_cast<std::int32_t>(size))
        return why = errno != 0 ? std::strerror(errno) : "it could not be read to its end", false;
    return ParseRecording(bytes.data(), size, recording, why);
}

bool LoadReplay(const char* name, const std::string& path, TRecording& recording) {
    std::string why;
    if (!LoadRecording(path, recording, why)) {
        std::fprintf(stderr, "%s: cannot replay %s: %s\n", name, path.c_str(), why.c_str());
        return false;
    }
    if (recording.partialLastFrame)
        std::fprintf(stderr, "%s: warning: the recording %s ends inside a frame; replaying its %zu whole frames\n",
                     name, path.c_str(), recording.frames.size());
    return true;
}

bool TRecorder::Start(const std::string& path, std::string& why) {
    const std::vector<unsigned char> header = RecordingHeader();
    if (file_.Open(path, why) && file_.Write(header.data(), header.size(), why)) return true;
    file_.Discard();
    return false;
}

bool TRecorder::Add(const TFrameInput& frame, std::string& why) {
    record_.clear();
    AppendFrameRecord(record_, frame);
    if (file_.Write(record_.data(), record_.size(), why)) return true;
    file_.Discard();
    return false;
}

bool TRecorder::Finish(std::string& why) { return file_.Commit(why); }
