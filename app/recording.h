#pragma once
// Recordings of what the frame loop read, frame by frame, in the program's
// own format (all integers little-endian):
//
//   header, 16 bytes: "FKRECORD", the format version (int32, 1), the size of
//                     one frame record (int32, 44)
//   per frame, 44 bytes, eleven int32: the hit counts of Escape, Space, P, N,
//                     R, the left and the right button, the two buttons'
//                     down states (0 or 1), the pointer x and y
//
// Parsing works on bytes in memory and needs nothing of the platform; the
// file reading and writing around it is kept apart.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/play.h"
#include "app/play_files.h"

// The format's name, version and sizes.
inline constexpr char kRecordingMagic[8] = {'F', 'K', 'R', 'E', 'C', 'O', 'R', 'D'};
inline constexpr std::int32_t kRecordingVersion = 1;
inline constexpr std::size_t kRecordingHeaderBytes = 16;
inline constexpr std::size_t kFrameRecordBytes = 44;
// The longest recording read: hours of frames at the usual frame rates.
inline constexpr std::size_t kMaxRecordingFrames = std::size_t{1} << 22;
// Pointer coordinates beyond this (either sign) are no window's.
inline constexpr std::int32_t kMaxPointerCoordinate = 1 << 20;

// The header of a recording.
std::vector<unsigned char> RecordingHeader();
// Appends the record of one frame.
void AppendFrameRecord(std::vector<unsigned char>& out, const TFrameInput& frame);

// A recording read back.
struct TRecording {
    std::vector<TFrameInput> frames;  // the whole frames, in order
    bool partialLastFrame = false;    // it ended inside a frame, whose bytes were dropped
};

// Reads a recording from its bytes; false with what is wrong with them.
bool ParseRecording(const unsigned char* bytes, std::size_t size, TRecording& recording, std::string& why);

// Reads the recording file at path; false with what is wrong.
bool LoadRecording(const std::string& path, TRecording& recording, std::string& why);

// LoadRecording for a replay by the program called name: what is wrong goes
// to stderr as "name: cannot replay path: why" (false), and a recording that
// ends inside a frame is played to its last whole frame after a warning there.
bool LoadReplay(const char* name, const std::string& path, TRecording& recording);

// Writes a recording as the frames come: into "<path>.part", every frame
// handed to the system as it is added, renamed over path by Finish. A run
// killed on the way leaves the part file, a recording readable up to its
// last whole frame.
class TRecorder {
public:
    // Creates the part file and writes the header; false with the reason.
    bool Start(const std::string& path, std::string& why);
    // Appends one frame; false with the reason (the part file is then removed).
    bool Add(const TFrameInput& frame, std::string& why);
    // Puts the recording in place of path; false with the reason.
    bool Finish(std::string& why);
    // Between Start and Finish, and no write failed.
    bool Recording() const { return file_.IsOpen(); }

private:
    TPartFile file_;
    std::vector<unsigned char> record_;  // one frame's bytes, reused
};
