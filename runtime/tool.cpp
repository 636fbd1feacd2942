#include "runtime/tool.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>

namespace {

struct ToolState {
    const char* name = "tool";  // for the messages
    int outputError = 0;        // why standard output first failed (0: it has not, or unknown)
};
ToolState tool;

// Runs at exit: whatever is still buffered goes out now, and an error on the
// way (a full disk, a closed pipe) is reported instead of lost.
void CheckStandardOutput() {
    if (FlushStandardOutput()) return;
    const int error = tool.outputError;
    std::fprintf(stderr, "%s: cannot write standard output%s%s\n", tool.name, error ? ": " : "",
                 error ? std::strerror(error) : "");
    std::_Exit(kToolFailed);  // other exit handlers would only write more
}

}  // namespace

int RunTool(const char* name, const std::function<int()>& body, int errorStatus) {
    tool.name = name;
    static const bool checked = std::atexit(CheckStandardOutput) == 0;
    (void)checked;
    // Nothing ends the tool as an uncaught exception (an abort with a core):
    // it says what went wrong and fails.
    try {
        return body();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", tool.name);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", tool.name, e.what());
    } catch (...) {
        std::fprintf(stderr, "%s: unexpected error\n", tool.name);
    }
    return errorStatus;
}

bool FlushStandardOutput() {
    errno = 0;
    if (std::fflush(stdout) != 0 && tool.outputError == 0) tool.outputError = errno;
    return std::ferror(stdout) == 0;
}

bool CloseOutputFile(std::FILE* file) {
    const int earlier = errno;  // why a write before this failed, if one did
    const bool failedBefore = std::ferror(file) != 0;
    errno = 0;
    const bool flushed = std::fflush(file) == 0;
    int error = flushed ? 0 : errno;
    const bool clean = std::ferror(file) == 0;
    const bool closed = std::fclose(file) == 0;
    if (error == 0 && !closed) error = errno;
    if (flushed && clean && closed) return true;
    if (error == 0 && failedBefore) error = earlier;
    errno = error != 0 ? error : EIO;
    return false;
}
