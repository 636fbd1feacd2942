// The system module's sleep and wake-up on POSIX threads: nanosleep and a
// self-pipe (the clock is clock_posix.cpp).
#include "system/system_host.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <time.h>
#include <unistd.h>

namespace {

struct WakePipe {
    int read = -1;
    int write = -1;
};

WakePipe wake;

}  // namespace

void HostSleep(int32_t ms) {
    timespec left{ms / 1000, (ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) < 0 && errno == EINTR) {
    }
}

void HostWakeInit() {
    int fds[2];
    if (wake.read < 0 && pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wake.read = fds[0];
        wake.write = fds[1];
    }
}

void HostWakeSignal() {
    if (wake.write < 0) return;
    const char byte = 1;
    // A full pipe already wakes the reader; the byte is not needed then.
    ssize_t written;
    do {
        written = write(wake.write, &byte, 1);
    } while (written < 0 && errno == EINTR);
}

void HostWakeDrain() {
    if (wake.read < 0) return;
    char buffer[256];
    while (read(wake.read, buffer, sizeof buffer) > 0) {
    }
}

void HostWakeWait() {
    if (wake.read < 0) return HostSleep(1);  // no pipe: nap instead
    pollfd fd{wake.read, POLLIN, 0};
    while (poll(&fd, 1, -1) < 0 && errno == EINTR) {
    }
}

int HostWakeFd() { return wake.read; }
