// Dialogs and shell services of the X11 system driver. Every dialog is a
// helper program (zenity, or xmessage for message boxes when zenity cannot
// start) run with an argument vector; while it is up the driver keeps
// pumping, so the program's windows go on receiving their messages as they
// do under a modal loop, and the window that had the focus gets it back.

#include "system/x11/x11_services.h"

#include "system/x11/x11_internal.h"
#include "system/x11/x11_platform.h"
#include "system/x11/x11_system.h"

#include "runtime/startup.h"
#include "system/services.h"
#include "system/system_driver.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// zenity's exit statuses, set through its environment so that "No" and a
// closed box stay apart from each other and from a zenity that failed (GTK
// exits with 1 when it cannot open the display).
constexpr int kZenityCancel = 31;  // the second button (Cancel, No)
constexpr int kZenityEsc = 32;     // Escape, the close box, the extra button
constexpr int kZenityError = 33;   // zenity's own errors
// xmessage's buttons exit with 10, 11, 12 from the left.
constexpr int kFirstButtonStatus = 10;
// How long OpenURL waits for xdg-open to report a failure; a handler that
// keeps running past it (a browser started in the foreground) counts as started.
constexpr int kOpenUrlGraceMs = 1000;

// How one run of a helper program went.
struct HelperRun {
    bool started = false;
    int spawnError = 0;   // errno when it did not start
    bool exited = false;  // false: still running when the wait ended
    int status = -1;      // exit status; -1 when a signal ended it
    std::string out, err;
};

struct HelperOptions {
    const std::string* input = nullptr;    // standard input (else /dev/null)
    bool capture = true;                   // stdout and stderr collected (else /dev/null and ours)
    int timeoutMs = -1;                    // -1: until it exits
    std::vector<std::string> environment;  // NAME=value, replacing inherited ones
};

// The inherited environment with overrides in place of entries of the same name.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& overrides) {
    std::vector<std::string> entries;
    for (char** e = environ; e && *e; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const std::string& o : overrides)
            replaced = replaced || entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0;
        if (!replaced) entries.push_back(entry);
    }
    entries.insert(entries.end(), overrides.begin(), overrides.end());
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

// A descriptor holding text, read from its start (for a helper's stdin).
int InputFile(const std::string& text) {
    const int fd = memfd_create("fk-helper-input", MFD_CLOEXEC);
    if (fd < 0) return -1;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return close(fd), -1;
        done += static_cast<size_t>(n);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// Starts argv[0] (looked up on PATH) without a shell. Fills pid and the read
// ends of its output pipes; returns 0 or the errno of the failure.
int Spawn(std::vector<std::string> argv, const HelperOptions& options, pid_t& pid, int outputs[2]) {
    int input = options.input ? InputFile(*options.input) : -1;
    if (options.input && input < 0) return errno ? errno : EIO;
    int pipes[2][2] = {{-1, -1}, {-1, -1}};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input >= 0)
        posix_spawn_file_actions_adddup2(&actions, input, 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    int error = 0;
    if (options.capture) {
        for (int i = 0; i < 2 && error == 0; ++i)
            if (pipe2(pipes[i], O_CLOEXEC) != 0) error = errno;
        if (error == 0) {
            posix_spawn_file_actions_adddup2(&actions, pipes[0][1], 1);
            posix_spawn_file_actions_adddup2(&actions, pipes[1][1], 2);
        }
    } else {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    }
    // A clean signal state: nothing blocked, SIGPIPE back to its default.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, pipeOnly;
    sigemptyset(&none);
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &pipeOnly);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (error == 0) {
        std::vector<std::string> environment = ChildEnvironment(options.environment);
        error = posix_spawnp(&pid, argv[0].c_str(), &actions, &attributes, Pointers(argv).data(),
                             Pointers(environment).data());
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (input >= 0) close(input);
    for (int i = 0; i < 2; ++i) {
        if (pipes[i][1] >= 0) close(pipes[i][1]);
        outputs[i] = pipes[i][0];
        if (error != 0 && pipes[i][0] >= 0) close(pipes[i][0]), outputs[i] = -1;
    }
    return error;
}

// Reads what is there on output fd into text; closes it at its end.
void ReadOutput(int& fd, std::string& text) {
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        text.append(buffer, static_cast<size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
    }
}

// Sleeps until the helper's output, its exit, a message or a main-thread
// call arrives, or until waitMs (-1: no limit) has passed.
void SleepForHelper(int outputs[2], int pidfd, int waitMs, std::string* texts[2]) {
    pollfd fds[5];
    nfds_t count = 0;
    int slot[2] = {-1, -1};
    for (int i = 0; i < 2; ++i)
        if (outputs[i] >= 0) slot[i] = static_cast<int>(count), fds[count++] = pollfd{outputs[i], POLLIN, 0};
    if (pidfd >= 0) fds[count++] = pollfd{pidfd, POLLIN, 0};
    // Inside a pump (a dialog shown from a hook) messages wait for that pump.
    if (!PumpBusy()) {
        if (MainThreadWakeFd() >= 0) fds[count++] = pollfd{MainThreadWakeFd(), POLLIN, 0};
        if (Display* d = X11Display()) XFlush(d), fds[count++] = pollfd{ConnectionNumber(d), POLLIN, 0};
    }
    // Without a descriptor for the exit, look at the child now and then.
    const int timeout = pidfd >= 0 ? waitMs : (waitMs < 0 || waitMs > 50 ? 50 : waitMs);
    if (poll(fds, count, timeout) <= 0) return;
    for (int i = 0; i < 2; ++i)
        if (slot[i] >= 0 && fds[slot[i]].revents) ReadOutput(outputs[i], *texts[i]);
}

// A started helper: its id, a descriptor that becomes readable when it ends
// (-1 where the kernel has none) and the read ends of its output pipes.
struct HelperProcess {
    pid_t pid = 0;
    int pidfd = -1;
    int outputs[2] = {-1, -1};

    ~HelperProcess() {
        x11.runningHelper = 0;
        for (int fd : {pidfd, outputs[0], outputs[1]})
            if (fd >= 0) close(fd);
    }
};

// Waits until the helper ends or timeoutMs (-1: no limit) passes, pumping
// messages meanwhile; notes its status and output in run.
void WaitForHelper(HelperProcess& helper, int timeoutMs, HelperRun& run) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string* texts[2] = {&run.out, &run.err};
    for (;;) {
        if (!PumpBusy()) PumpMessages();
        int status = 0;
        const pid_t reaped = waitpid(helper.pid, &status, WNOHANG);
        if (reaped == helper.pid || (reaped < 0 && errno != EINTR)) {
            // (ECHILD: the program ignores SIGCHLD and the status is lost.)
            run.exited = true;
            run.status = reaped == helper.pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            break;
        }
        int waitMs = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            waitMs = static_cast<int>(left.count());
        }
        SleepForHelper(helper.outputs, helper.pidfd, waitMs, texts);
    }
    // What it wrote before it ended (its own children may hold the pipes
    // open: take only what is there).
    for (int i = 0; i < 2; ++i) {
        pollfd fd{helper.outputs[i], POLLIN, 0};
        while (helper.outputs[i] >= 0 && poll(&fd, 1, 0) > 0) ReadOutput(helper.outputs[i], *texts[i]);
    }
}

// Runs a helper program and waits for it, pumping messages meanwhile.
HelperRun RunHelper(const std::vector<std::string>& argv, const HelperOptions& options = {}) {
    HelperRun run;
    HelperProcess helper;
    run.spawnError = Spawn(argv, options, helper.pid, helper.outputs);
    if (run.spawnError != 0) return run;
    run.started = true;
    x11.runningHelper = helper.pid;
    helper.pidfd = static_cast<int>(syscall(SYS_pidfd_open, helper.pid, 0));
    try {
        WaitForHelper(helper, options.timeoutMs, run);
    } catch (...) {
        // A message handler failed: the dialog goes with the error.
        kill(helper.pid, SIGTERM);
        waitpid(helper.pid, nullptr, 0);
        throw;
    }
    if (!run.exited) {
        // Still running (OpenURL's handler): reaped when it ends.
        try {
            std::thread([pid = helper.pid] { waitpid(pid, nullptr, 0); }).detach();
        } catch (const std::system_error&) {
        }
    }
    return run;
}

// Why a helper run did not give an answer, for the one line on stderr.
std::string Why(const std::string& program, const HelperRun& run) {
    if (!run.started) return program + " could not be started: " + std::strerror(run.spawnError);
    std::string why = program + (run.status < 0 ? " was ended by a signal"
                                                : " failed with exit status " + std::to_string(run.status));
    const size_t start = run.err.find_first_not_of(" \t\r\n");
    const std::string firstLine =
        start == std::string::npos ? "" : run.err.substr(start, run.err.find('\n', start) - start);
    return firstLine.empty() ? why : why + " (" + firstLine + ")";
}

void Complain(const std::string& line) {
    std::fputs(("X11: " + line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

// Keeps the focused program window and gives it the focus back when the
// dialog is over (another client's window is left to the window manager).
class FocusKeeper {
public:
    FocusKeeper() {
        if (Display* d = X11Display()) XGetInputFocus(d, &saved_, &revert_);
        if (!X11IsRegisteredWindow(saved_)) saved_ = None;
    }
    ~FocusKeeper() {
        Display* d = X11Display();
        if (!d || saved_ == None) return;
        X11BeginErrorTrap();  // the window may have gone meanwhile
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(d, saved_, &attributes) && attributes.map_state == IsViewable)
            XSetInputFocus(d, saved_, revert_, CurrentTime);
        X11EndErrorTrap();
    }
    FocusKeeper(const FocusKeeper&) = delete;
    FocusKeeper& operator=(const FocusKeeper&) = delete;

    // The program window that had the focus (None when another client's had it).
    Window Owner() const { return saved_; }

private:
    Window saved_ = None;
    int revert_ = RevertToParent;
};

// The first words of every zenity dialog: the kind, modal, owned by the
// program window that had the focus.
std::vector<std::string> ZenityCommand(const std::string& kind, const std::string& title, const FocusKeeper& focus) {
    std::vector<std::string> argv = {"zenity", kind, "--title=" + title, "--modal"};
    if (focus.Owner() != None) argv.push_back("--attach=" + std::to_string(focus.Owner()));
    return argv;
}

HelperOptions ZenityOptions() {
    HelperOptions options;
    const auto status = [](int code) { return std::to_string(code); };
    options.environment = {"ZENITY_OK=0",
                           "ZENITY_CANCEL=" + status(kZenityCancel),
                           "ZENITY_ESC=" + status(kZenityEsc),
                           "ZENITY_EXTRA=" + status(kZenityEsc),
                           "ZENITY_TIMEOUT=" + status(kZenityEsc),
                           "ZENITY_ERROR=" + status(kZenityError)};
    return options;
}

// A zenity run that ended with one of the answers it was asked for.
bool ZenityAnswered(const HelperRun& run) {
    return run.exited && (run.status == 0 || run.status == kZenityCancel || run.status == kZenityEsc);
}

// The button of a message box: the first, the second, or neither (a third
// button, Escape, the close box, a failure).
enum class Answer { First, Second, Other };

enum class BoxKind { Notify, Confirm, Proceed };

Answer ZenityAnswer(const HelperRun& run) {
    if (run.status == 0) return Answer::First;
    return run.status == kZenityCancel ? Answer::Second : Answer::Other;
}

std::vector<std::string> ZenityMessageBox(BoxKind kind, const std::string& text, bool serious,
                                          const FocusKeeper& focus) {
    const std::string title = ApplicationTitle();
    if (kind == BoxKind::Notify) {
        auto argv = ZenityCommand(serious ? "--warning" : "--info", title, focus);
        argv.insert(argv.end(), {"--text=" + text, "--no-markup"});
        return argv;
    }
    auto argv = ZenityCommand("--question", title, focus);
    argv.insert(argv.end(), {"--text=" + text, "--no-markup",
                             serious ? "--icon-name=dialog-warning" : "--icon-name=dialog-information"});
    // The underlined letters are the buttons' keys (with Alt).
    if (kind == BoxKind::Confirm) {
        argv.insert(argv.end(), {"--ok-label=_OK", "--cancel-label=_Cancel"});
    } else {
        argv.insert(argv.end(), {"--ok-label=_Yes", "--cancel-label=_No", "--extra-button=_Cancel"});
    }
    return argv;
}

// xmessage reads the text from its standard input, so no text can pass for
// one of its options.
HelperRun XmessageBox(BoxKind kind, const std::string& text) {
    static const char* const kButtons[] = {"OK:10", "OK:10,Cancel:11", "Yes:10,No:11,Cancel:12"};
    HelperOptions options;
    options.input = &text;
    const std::string& first = kind == BoxKind::Confirm || kind == BoxKind::Notify ? "OK" : "Yes";
    return RunHelper({"xmessage", "-title", ApplicationTitle(), "-buttons", kButtons[static_cast<int>(kind)],
                      "-default", first, "-center", "-file", "-"},
                     options);
}

Answer ShowMessageBox(BoxKind kind, const std::string& text, bool serious) {
    FocusKeeper focus;
    const HelperRun zenity = RunHelper(ZenityMessageBox(kind, text, serious, focus), ZenityOptions());
    if (ZenityAnswered(zenity)) return ZenityAnswer(zenity);
    if (zenity.started && zenity.status < 0) return Answer::Other;  // killed while up: closed
    const HelperRun xmessage = XmessageBox(kind, text);
    if (xmessage.exited && xmessage.status >= kFirstButtonStatus && xmessage.status <= kFirstButtonStatus + 2) {
        const int button = xmessage.status - kFirstButtonStatus;
        return button == 0 ? Answer::First : button == 1 ? Answer::Second : Answer::Other;
    }
    if (!xmessage.started || xmessage.status >= 0)
        Complain("Failed to show a message box: " + Why("zenity", zenity) + "; " + Why("xmessage", xmessage));
    return Answer::Other;
}

// The absolute form of a directory, without a trailing "/" (but "/" itself).
std::string AbsoluteDirectory(const std::string& directory) {
    std::error_code error;
    std::string absolute =
        std::filesystem::absolute(directory.empty() ? "." : directory, error).lexically_normal().string();
    if (error) absolute = directory;
    while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
    return absolute;
}

// A glob pattern matching ext in any case ("Png" -> "*.[pP][nN][gG]").
std::string AnyCasePattern(const std::string& ext) {
    std::string pattern = "*.";
    for (char c : ext) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (std::isalpha(u)) {
            pattern += '[';
            pattern += static_cast<char>(std::tolower(u));
            pattern += static_cast<char>(std::toupper(u));
            pattern += ']';
        } else {
            pattern += c;
        }
    }
    return pattern;
}

// A zenity chooser's path result, without the newline it ends with.
std::string ChosenPath(const HelperRun& run) {
    std::string path = run.out;
    if (!path.empty() && path.back() == '\n') path.pop_back();
    return path;
}

}  // namespace

std::vector<std::string> ZenityFileFilters(const std::string& extensions, const std::string& path) {
    auto groups = FileFilterGroups(extensions);
    const int32_t preselected = InitialFilterIndex(extensions, path);
    if (preselected > 1) {
        auto chosen = groups.begin() + (preselected - 1);
        std::rotate(groups.begin(), chosen, chosen + 1);
    }
    std::vector<std::string> filters;
    for (const TFileFilterGroup& g : groups) {
        if (g.extensions.empty()) continue;
        std::string filter = "--file-filter=" + g.description + " |";
        for (const std::string& e : g.extensions) filter += " " + AnyCasePattern(e);
        filters.push_back(filter);
    }
    return filters;
}

pid_t X11RunningHelper() { return x11.runningHelper; }

int32_t TX11SystemDriver::Notify(const std::string& text, int32_t serious) {
    ShowMessageBox(BoxKind::Notify, text, serious != 0);
    return 0;
}

int32_t TX11SystemDriver::Confirm(const std::string& text, int32_t serious) {
    return ShowMessageBox(BoxKind::Confirm, text, serious != 0) == Answer::First ? 1 : 0;
}

int32_t TX11SystemDriver::Proceed(const std::string& text, int32_t serious) {
    switch (ShowMessageBox(BoxKind::Proceed, text, serious != 0)) {
    case Answer::First: return 1;
    case Answer::Second: return 0;
    default: return -1;
    }
}

std::string TX11SystemDriver::RequestFile(const std::string& text, const std::string& extensions, int32_t save,
                                          const std::string& path) {
    FocusKeeper focus;
    auto argv = ZenityCommand("--file-selection", text, focus);
    for (std::string& filter : ZenityFileFilters(extensions, path)) argv.push_back(std::move(filter));
    // The directory is made absolute; a bare file name starts in the working directory.
    const TChooserStart start = SplitChooserPath(path);
    if (!start.directory.empty())
        argv.push_back("--filename=" + AbsoluteDirectory(start.directory) + "/" + start.file);
    else if (!start.file.empty())
        argv.push_back("--filename=" + start.file);
    if (save) argv.insert(argv.end(), {"--save", "--confirm-overwrite"});
    const HelperRun run = RunHelper(argv, ZenityOptions());
    if (!ZenityAnswered(run)) {
        Complain("Failed to show the file chooser: " + Why("zenity", run));
        return "";
    }
    if (run.status != 0) return "";
    const std::string chosen = ChosenPath(run);
    struct stat info {};
    if (!save && stat(chosen.c_str(), &info) != 0) {
        Complain("The file chooser returned a file that does not exist: " + chosen);
        return "";
    }
    return chosen;
}

std::string TX11SystemDriver::RequestDir(const std::string& text, const std::string& path) {
    FocusKeeper focus;
    auto argv = ZenityCommand("--file-selection", text, focus);
    argv.insert(argv.end(), {"--directory", "--filename=" + AbsoluteDirectory(path)});
    const HelperRun run = RunHelper(argv, ZenityOptions());
    if (!ZenityAnswered(run)) {
        Complain("Failed to show the folder chooser: " + Why("zenity", run));
        return "";
    }
    return run.status == 0 ? ChosenPath(run) : "";
}

int32_t TX11SystemDriver::OpenURL(const std::string& url) {
    // xdg-open takes a leading "-" for an option and knows no "--".
    if (url.empty() || url[0] == '-') {
        Complain("Failed to open \"" + url + "\": not a URL or path xdg-open can take");
        return 0;
    }
    HelperOptions options;
    options.capture = false;  // its messages go to our stderr
    options.timeoutMs = kOpenUrlGraceMs;
    const HelperRun run = RunHelper({"xdg-open", url}, options);
    if (!run.started || (run.exited && run.status != 0)) {
        Complain("Failed to open \"" + url + "\": " + Why("xdg-open", run));
        return 0;
    }
    return 1;
}
