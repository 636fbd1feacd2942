#pragma once
// Files that replace what they are named after only once complete: written
// under a temporary name in the same folder, pushed onto the disk and then
// moved over the target in one step. A write that fails (a full disk) or a
// writer that gives up leaves the old file exactly as it was, and nothing
// else behind.

#include <functional>
#include <memory>
#include <string>

#include "stream/cstream.h"

// A disk-file stream, write-only, for one replacement of its target.
class TReplacingFile : public TCStream {
public:
    // Dropped without Close(): the replacement is discarded.
    ~TReplacingFile() override;

    // Starts replacing the file at path, which must be a regular file or not
    // exist yet. Null, with why when asked for, when the target is something
    // else (a directory, a device) or no file can be made in its folder.
    static std::shared_ptr<TReplacingFile> Create(const std::string& path, std::string* why = nullptr);
    // The same, written under the visible name path + suffix ("x.rec.part"),
    // which a program that dies leaves with what was written so far.
    static std::shared_ptr<TReplacingFile> CreateBeside(const std::string& path, const char* suffix,
                                                        std::string* why = nullptr);

    // Puts what was written in place of the target: 0; -1 when any write
    // failed or the file could not be put in place, Problem() saying why, the
    // temporary file removed and the target untouched.
    int32_t Close() override;
    // Drops what was written; the target stays as it was. Returns 0.
    int32_t Discard() override;

    // Why the replacement failed ("No space left on device"); "" while none has.
    const std::string& Problem() const { return _problem; }
    // The file being replaced.
    const std::string& Target() const { return _target; }

private:
    std::string _temp;    // the file written
    std::string _target;  // the file it replaces
    std::string _problem;
};

// Writes a whole file at path through write, which fills the stream it is
// given; the file takes the place of the one at path only once write has
// returned and every byte is on the disk. "" on success, else why: the file
// system's reason when it gave one, else the text of what write raised.
std::string WriteWholeFile(const std::string& path, const std::function<void(const std::shared_ptr<TStream>&)>& write);
