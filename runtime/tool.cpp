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

bool WholeNumberIn(const std::string& text, long long least, long long most, long long& value) {
    const std::size_t digits = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == digits) return false;
    for (std::size_t i = digits; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9') return false;
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v < least || v > most) return false;
    value = v;
    return true;
}

const char* FerrumkitVersion() { return FK_VERSION; }

void ExitWithUsageIfAsked(const std::string& arg, const char* usage) {
    if (arg == "--version") {
        std::printf("%s %s\n", tool.name, FerrumkitVersion());
    } else if (arg == "--help" || arg == "-h") {
        std::fputs(usage, stdout);
    } else {
        return;
    }
    std::exit(0);
}

void ExitWithUsage(const std::string& why, const char* usage) {
    std::fprintf(stderr, "%s: %s\n%s", tool.name, why.c_str(), usage);
    std::exit(kToolBadUsage);
}

long long OptionNumber(const char* option, const std::string& text, long long least, long long most,
                       const char* usage) {
    long long value = 0;
    if (!WholeNumberIn(text, least, most, value)) ExitWithUsage("invalid value '" + text + "' for " + option, usage);
    return value;
}
