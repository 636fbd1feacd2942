// services-check: shows one dialog, opens one URL, prints the date or time,
// or runs one timer, and prints the result on stdout.

#include "runtime/tool.h"
#include "system/services.h"
#include "system/system_driver.h"
#include "system/timer.h"
#include "system/x11/x11_system.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: services-check notify|confirm|proceed TEXT [serious]\n"
    "       services-check open|save EXTENSIONS PATH\n"
    "       services-check dir PATH\n"
    "       services-check url URL\n"
    "       services-check today|clock\n"
    "       services-check timer HERTZ SECONDS\n";

constexpr int kBadCommandLine = 2;

// A finite number from the whole of text; false when it is not one.
bool ParseNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0' && std::isfinite(value);
}

// Wake-ups of the run's own clock timer: often enough that a run ends close
// to its time, whatever the rate of the timer it counts.
constexpr int32_t kClockPeriodMillis = 20;

// Runs a timer of hertz for seconds and returns the ticks it fired in that
// time, or -1 when the timer could not be made. A second timer wakes the wait
// now and then, so a slow timer cannot hold the run past its end.
int32_t RunTimer(double hertz, double seconds) {
    auto timer = StartTimer(static_cast<float>(hertz), nullptr);
    if (!timer) return -1;
    const double millis = seconds * 1000.0;
    const float clockMillis = std::min(static_cast<float>(millis), static_cast<float>(kClockPeriodMillis));
    auto clock = millis >= 1.0 ? StartTimer(1000.0f / clockMillis, nullptr) : nullptr;
    const int32_t start = CurrentMillis();
    while (clock && MillisBetween(start, CurrentMillis()) < millis) WaitForMessages();
    if (clock) clock->Stop();
    timer->Stop();
    return timer->Ticks();
}

// Carries out the command; the line to print in result. Returns the exit
// status (kBadCommandLine for a command line it does not take).
int Run(const std::vector<std::string>& args, std::string& result) {
    if (args.empty()) return kBadCommandLine;
    const std::string& command = args[0];
    const size_t count = args.size();
    if (command == "notify" || command == "confirm" || command == "proceed") {
        if (count < 2 || count > 3) return kBadCommandLine;
        if (count == 3 && args[2] != "serious") return kBadCommandLine;
        const int32_t serious = count == 3;
        const int32_t answer = command == "notify"    ? NotifyUser(args[1], serious)
                               : command == "confirm" ? ConfirmWithUser(args[1], serious)
                                                      : ProceedWithUser(args[1], serious);
        result = std::to_string(answer);
    } else if (command == "open" || command == "save") {
        if (count != 3) return kBadCommandLine;
        result = AskForFile(command == "save" ? "Save file" : "Open file", args[1], command == "save", args[2]);
    } else if (command == "dir") {
        if (count != 2) return kBadCommandLine;
        result = AskForDirectory("Choose a folder", args[1]);
    } else if (command == "url") {
        if (count != 2) return kBadCommandLine;
        result = std::to_string(OpenUrlInShell(args[1]));
    } else if ((command == "today" || command == "clock") && count == 1) {
        result = command == "today" ? TodayText() : ClockText();
    } else if (command == "timer") {
        double hertz = 0, seconds = 0;
        if (count != 3 || !ParseNumber(args[1], hertz) || !ParseNumber(args[2], seconds) || seconds < 0)
            return kBadCommandLine;
        const int32_t ticks = RunTimer(hertz, seconds);
        if (ticks < 0) {
            std::fprintf(stderr, "services-check: no timer runs at %s Hz (a period of 1 ms or more is needed)\n",
                         args[1].c_str());
            return 1;
        }
        result = std::to_string(ticks);
    } else {
        return kBadCommandLine;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    return RunTool("services-check", [&] {
        StartX11System();
        std::string result;
        const int status = Run(std::vector<std::string>(argv + 1, argv + argc), result);
        if (status == kBadCommandLine) std::fputs(kUsage, stderr);
        if (status != 0) return status;
        // Whether the result reached stdout is checked as the tool ends.
        std::fputs(result.c_str(), stdout);
        std::fputc('\n', stdout);
        return 0;
    });
}
