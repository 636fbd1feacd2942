// The desktop services of the X11 driver for real: zenity (and xmessage) on
// a private X server, answered with XTest input from a thread of the test's
// own; xdg-open replaced by a stand-in that records its arguments.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include "tests/support/temp_dir.h"
#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include "runtime/startup.h"
#include "system/services.h"
#include "system/x11/x11_platform.h"
#include "system/x11/x11_services.h"
#include "system/x11/x11_system.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <thread>

static auto* const kXvfb = RegisterXvfbEnvironment();

namespace {

// Longest wait for a dialog to come up or go away; a failing case ends its
// dialog and moves on.
constexpr int kDialogTimeoutMs = 15000;
// Time a just-focused GTK dialog gets before keys go to it, and how often
// and how far apart the answer is given to a dialog that ignored it.
constexpr int kSettleMs = 300;
constexpr int kAttempts = 8;
constexpr int kAttemptMs = 800;

// The arguments a running process was started with.
std::vector<std::string> CommandLine(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    for (std::string arg; std::getline(file, arg, '\0');) args.push_back(arg);
    return args;
}

bool Contains(const std::vector<std::string>& args, const std::string& arg) {
    return std::find(args.begin(), args.end(), arg) != args.end();
}

// Whether wanted are all among args, in this order.
bool InOrder(const std::vector<std::string>& args, const std::vector<std::string>& wanted) {
    auto at = args.begin();
    for (const std::string& arg : wanted)
        if ((at = std::find(at, args.end(), arg)) == args.end()) return false;
    return true;
}

// A viewable top-level window of windowClass other than before (None when there is none yet).
Window ShownWindow(Display* d, const std::string& windowClass, Window before = None) {
    for (Window w : FindWindowsByClass(d, windowClass))
        if (w != before && BoxOf(d, w).viewable) return w;
    return None;
}

std::string WindowName(Display* d, Window w) {
    char* name = nullptr;
    std::string text;
    if (XFetchName(d, w, &name) && name) text = name;
    if (name) XFree(name);
    return text;
}

// What the answering thread does to a dialog window.
using Answer = std::function<void(Display*, Window)>;

Answer Press(std::initializer_list<KeySym> chord) {
    std::vector<KeySym> keys(chord);
    return [keys](Display* d, Window) {
        for (KeySym k : keys) FakeKey(d, k, true);
        for (auto k = keys.rbegin(); k != keys.rend(); ++k) FakeKey(d, *k, false);
    };
}

const Answer kReturn = Press({XK_Return});
const Answer kEscape = Press({XK_Escape});
const Answer kCloseBox = [](Display* d, Window w) { SendCloseRequest(d, w); };

// Answers the one dialog the main thread is about to show, from a thread with
// its own connection: waits for the window, notes what the helper program
// was given, focuses the window and answers. A dialog that does not come up
// or does not go away is ended by killing the helper, so no case hangs.
class Answerer {
public:
    // prompts: further windows the helper shows after the first (answered alike).
    Answerer(std::string windowClass, Answer answer, std::function<void(Display*)> whileShown = {}, int prompts = 0)
        : thread_([=] { Run(windowClass, answer, whileShown, prompts); }) {}
    ~Answerer() { Join(); }
    void Join() {
        if (thread_.joinable()) thread_.join();
    }

    std::vector<std::string> args;  // the helper's command line
    std::string title;              // the dialog window's name
    Window owner = None;            // the window it is transient for
    std::string failure;            // why the dialog was not answered
    int windows = 0;                // dialog windows seen (an overwrite prompt adds one)

private:
    void Run(const std::string& windowClass, const Answer& answer, const std::function<void(Display*)>& whileShown,
             int prompts) {
        XConnection connection;
        Display* d = connection.get();
        Window w = None;
        if (!d || !WaitUntil([&] { return (w = ShownWindow(d, windowClass)) != None; }, {}, kDialogTimeoutMs))
            return Fail("no " + windowClass + " window came up");
        args = CommandLine(X11RunningHelper());
        title = WindowName(d, w);
        XGetTransientForHint(d, w, &owner);
        if (whileShown) whileShown(d);
        for (int window = 0; window <= prompts; ++window) {
            windows = window + 1;
            // A window may take a moment before it reacts to keys: answer again
            // while it stays and nothing else comes up.
            Window next = None;
            for (int attempt = 0; attempt < kAttempts; ++attempt) {
                FocusWindow(d, w);
                std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
                answer(d, w);
                const bool moved =
                    WaitUntil([&] { return !BoxOf(d, w).viewable || (next = ShownWindow(d, windowClass, w)) != None; },
                              {}, kAttemptMs);
                if (moved) break;
            }
            if (window < prompts &&
                (next != None || WaitUntil([&] { return (next = ShownWindow(d, windowClass, w)) != None; }, {}, 3000)))
                w = next;
            else
                break;
        }
        if (!WaitUntil([] { return X11RunningHelper() == 0; }, {}, kDialogTimeoutMs))
            Fail("the dialog did not go away");
    }

    void Fail(const std::string& why) {
        failure = why;
        const pid_t helper = X11RunningHelper();
        if (helper > 0) kill(helper, SIGKILL);
    }

    std::thread thread_;
};

// A program window registered with the pump; counts what reaches it.
struct ProgramWindow {
    Window window = None;
    int closeRequests = 0;
    int duringDialog = 0;  // of those, received while a helper ran
};
ProgramWindow program;

void ProgramProc(XEvent& event, void*) {
    if (event.type == ClientMessage) {
        ++program.closeRequests;
        if (X11RunningHelper() != 0) ++program.duringDialog;
    }
}

class Dialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // GTK without an accessibility bus or a session bus to look for.
        setenv("NO_AT_BRIDGE", "1", 1);
        setenv("GTK_A11Y", "none", 1);
        setenv("DBUS_SESSION_BUS_ADDRESS", "disabled:", 1);
        setenv("GDK_BACKEND", "x11", 1);
        Display* d = X11Display();
        ASSERT_NE(d, nullptr);
        StartX11System();
        XSetWindowAttributes attributes{};
        attributes.event_mask = StructureNotifyMask | FocusChangeMask;
        program.window = XCreateWindow(d, DefaultRootWindow(d), 50, 50, 200, 100, 0, CopyFromParent, InputOutput,
                                       CopyFromParent, CWEventMask, &attributes);
        X11RegisterWindow(program.window, ProgramProc, nullptr);
        XMapWindow(d, program.window);
        ASSERT_TRUE(WaitUntil([d] { return BoxOf(d, program.window).viewable; }, [] { PumpMessages(); }));
    }
    static void TearDownTestSuite() {
        Display* d = X11Display();
        X11UnregisterWindow(program.window);
        XDestroyWindow(d, program.window);
        XSync(d, False);
    }
    void SetUp() override {
        FocusWindow(X11Display(), program.window);
        PumpMessages();
    }
};

TEST_F(Dialogs, AConfirmationKeepsTheProgramsMessagesFlowingAndGivesTheFocusBack) {
    Display* d = X11Display();
    std::atomic<int> callsDuringDialog{0};
    program.closeRequests = program.duringDialog = 0;
    Answerer answerer("Zenity", kReturn, [&](Display* own) {
        SendCloseRequest(own, program.window);
        RunOnMainThread([&] {
            if (X11RunningHelper() != 0) ++callsDuringDialog;
        });
    });
    EXPECT_EQ(ConfirmWithUser("Carry on?", 0), 1);
    answerer.Join();
    ASSERT_EQ(answerer.failure, "");
    EXPECT_EQ(program.duringDialog, 1) << "the program's window got its message while the box was up";
    EXPECT_EQ(callsDuringDialog, 1) << "main-thread calls ran while the box was up";
    EXPECT_EQ(answerer.title, ApplicationTitle());
    EXPECT_TRUE(InOrder(answerer.args,
                        {"--modal", "--attach=" + std::to_string(program.window), "--icon-name=dialog-information"}));
    EXPECT_EQ(answerer.owner, program.window) << "the box belongs to the program's window";
    Window focus = None;
    int revert = 0;
    XGetInputFocus(d, &focus, &revert);
    EXPECT_EQ(focus, program.window) << "the focus went back to the program's window";
}

// Types path into the chooser's location field and confirms it.
Answer TypePath(const std::string& path) {
    return [path](Display* d, Window) {
        FakeKey(d, XK_Control_L, true);
        TapKey(d, XK_l);
        FakeKey(d, XK_Control_L, false);
        FakeKey(d, XK_Control_L, true);
        TapKey(d, XK_a);  // replaces whatever the field held
        FakeKey(d, XK_Control_L, false);
        TypeText(d, path + "\n");
    };
}

void MakeFile(const std::string& path) { std::ofstream(path) << "x"; }

// PATH set to a directory of the test's own for one scope.
class PathOverride {
public:
    explicit PathOverride(const std::string& path) : saved_(getenv("PATH") ? getenv("PATH") : "") {
        setenv("PATH", path.c_str(), 1);
    }
    ~PathOverride() { setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

std::string Text(int32_t value) { return std::to_string(value); }

// Every dialog with every way of answering it: the result, the helper's command
// line (wanted: these in this order; absent: none of these), the window's title
// when one is named, and the windows it showed (an overwrite prompt adds one).
// Xmessage rows run with xmessage the only helper on PATH.
TEST_F(Dialogs, EachDialogGivesItsAnswerAndTakesItsTextsIntact) {
    TempDir dir, bin;
    ASSERT_EQ(symlink("/usr/bin/xmessage", bin.File("xmessage").c_str()), 0) << "is x11-utils installed?";
    const std::string notes = dir.File("notes.txt"), picture = dir.File("picture.png"), sub = dir.File("sub");
    MakeFile(notes);
    MakeFile(picture);
    std::filesystem::create_directories(sub);
    const std::string kExtensions = "Image Files:png,jpg;Text:txt";
    const std::string text = "--help-all \"double\" 'single' $(touch x) `id` ; | & <b>not bold</b>\nline two: \xC3\xBC";
    const std::string hostilePath = dir.File("-x \"q\" $(y) 'z' `w` \xC3\xBC;.txt");
    const struct {
        const char* name;
        std::function<std::string()> show;
        Answer answer;
        std::string result;
        std::vector<std::string> wanted;
        std::string title;
        std::vector<std::string> absent;
        std::string windowClass;
        int prompts;
    } kCases[] = {
        {"notify, Return", [] { return Text(NotifyUser("Done.", 0)); }, kReturn, "0", {"--info"}, "", {}, "Zenity", 0},
        {"serious notify, close box",
         [] { return Text(NotifyUser("Careful.", 1)); },
         kCloseBox,
         "0",
         {"--warning"},
         "",
         {},
         "Zenity",
         0},
        {"confirm, Escape",
         [] { return Text(ConfirmWithUser("Sure?", 1)); },
         kEscape,
         "0",
         {"--icon-name=dialog-warning"},
         "",
         {},
         "Zenity",
         0},
        {"proceed, Return", [] { return Text(ProceedWithUser("Save?", 0)); }, kReturn, "1", {}, "", {}, "Zenity", 0},
        {"proceed, No",
         [] { return Text(ProceedWithUser("Save?", 0)); },
         Press({XK_Alt_L, XK_n}),
         "0",
         {},
         "",
         {},
         "Zenity",
         0},
        {"proceed, Cancel",
         [] { return Text(ProceedWithUser("Save?", 1)); },
         Press({XK_Alt_L, XK_c}),
         "-1",
         {},
         "",
         {},
         "Zenity",
         0},
        {"proceed, close box",
         [] { return Text(ProceedWithUser("Save?", 0)); },
         kCloseBox,
         "-1",
         {},
         "",
         {},
         "Zenity",
         0},
        // A question is shown and answered, not the help or the version.
        {"hostile text and title",
         [&] {
             SetApplicationTitle("--version 'Title'");
             const int32_t answer = ProceedWithUser(text, 1);
             SetApplicationTitle("Ferrumkit Application");
             return Text(answer);
         },
         kReturn,
         "1",
         {"--title=--version 'Title'", "--text=" + text},
         "--version 'Title'",
         {},
         "Zenity",
         0},
        // The group of the starting file's extension is offered first.
        {"open, the starting file taken",
         [&] { return AskForFile("Pick a file", kExtensions, 0, notes); },
         kReturn,
         notes,
         {"--file-filter=Text | *.[tT][xX][tT]", "--file-filter=Image Files | *.[pP][nN][gG] *.[jJ][pP][gG]",
          "--filename=" + notes},
         "Pick a file",
         {"--save"},
         "Zenity",
         0},
        {"open, a typed path",
         [&] { return AskForFile("Pick a file", "png", 0, dir.path.string() + "/"); },
         TypePath(picture),
         picture,
         {},
         "",
         {},
         "Zenity",
         0},
        {"open, cancelled",
         [&] { return AskForFile("Pick a file", kExtensions, 0, notes); },
         kEscape,
         "",
         {},
         "",
         {},
         "Zenity",
         0},
        {"save over an existing file, confirmed when asked",
         [&] { return AskForFile("Save as", kExtensions, 1, notes); },
         kReturn,
         notes,
         {"--filename=" + notes, "--save", "--confirm-overwrite"},
         "",
         {},
         "Zenity",
         1},
        {"a hostile path both ways",
         [&] { return AskForFile("--help", "Text:txt", 1, hostilePath); },
         kReturn,
         hostilePath,
         {"--title=--help", "--filename=" + hostilePath},
         "",
         {},
         "Zenity",
         0},
        // A relative starting folder is made absolute.
        {"folder, taken",
         [&] {
             char here[4096];
             if (!getcwd(here, sizeof here) || chdir(dir.path.c_str()) != 0) return std::string("no chdir");
             const std::string chosen = AskForDirectory("Pick a folder", "sub/../sub/");
             return chdir(here) == 0 ? chosen : "no chdir back";
         },
         kReturn,
         sub,
         {"--directory", "--filename=" + sub},
         "",
         {},
         "Zenity",
         0},
        {"folder, close box",
         [&] { return AskForDirectory("Pick a folder", sub); },
         kCloseBox,
         "",
         {},
         "",
         {},
         "Zenity",
         0},
        // The text goes through standard input: no argument carries it.
        {"xmessage confirm",
         [] { return Text(ConfirmWithUser("-help", 0)); },
         kReturn,
         "1",
         {"-file"},
         ApplicationTitle(),
         {"-help"},
         "Xmessage",
         0},
        {"xmessage proceed", [] { return Text(ProceedWithUser("Save?", 1)); }, kReturn, "1", {}, "", {}, "Xmessage", 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        std::optional<PathOverride> path;
        if (c.windowClass == "Xmessage") path.emplace(bin.path.string());
        Answerer answerer(c.windowClass, c.answer, {}, c.prompts);
        EXPECT_EQ(c.show(), c.result);
        answerer.Join();
        EXPECT_EQ(answerer.failure, "");
        EXPECT_EQ(answerer.windows, c.prompts + 1);
        EXPECT_TRUE(InOrder(answerer.args, c.wanted)) << ::testing::PrintToString(answerer.args);
        for (const std::string& arg : c.absent) EXPECT_FALSE(Contains(answerer.args, arg)) << arg;
        EXPECT_TRUE(c.title.empty() || answerer.title == c.title) << answerer.title;
    }
}

TEST_F(Dialogs, WithNoHelperABoxCountsAsCancelledAndAChooserAsEmptyAndEachSaysWhy) {
    TempDir bin;
    PathOverride path(bin.path.string());
    testing::internal::CaptureStderr();
    EXPECT_EQ(NotifyUser("a", 0), 0);
    EXPECT_EQ(ConfirmWithUser("b", 0), 0);
    EXPECT_EQ(ProceedWithUser("c", 0), -1);
    EXPECT_EQ(AskForFile("Pick", "txt", 0, "/tmp/x.txt"), "");
    EXPECT_EQ(AskForDirectory("Pick", "/tmp"), "");
    const auto lines = ChildProcess::Lines(testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_NE(lines[0].find("xmessage could not be started"), std::string::npos) << lines[0];
    for (size_t i : {3u, 4u})
        EXPECT_NE(lines[i].find("zenity could not be started: No such file or directory"), std::string::npos)
            << lines[i];
}

TEST(ZenityFilters, TheExtensionListBecomesFiltersWithThePreselectedGroupFirst) {
    const struct {
        const char* extensions;
        const char* path;
        std::vector<std::string> filters;
    } kCases[] = {
        {"Image Files:png,jpg;Text:txt",
         "/a/b.JPG",
         {"--file-filter=Image Files | *.[pP][nN][gG] *.[jJ][pP][gG]", "--file-filter=Text | *.[tT][xX][tT]"}},
        {"png,jpg", "", {"--file-filter=Files | *.[pP][nN][gG] *.[jJ][pP][gG]"}},
        {"A:a;B:b;C:c", "x.c", {"--file-filter=C | *.[cC]", "--file-filter=A | *.[aA]", "--file-filter=B | *.[bB]"}},
        {"Archives:tar.gz,7z", "", {"--file-filter=Archives | *.[tT][aA][rR].[gG][zZ] *.7[zZ]"}},
        {"", "x.png", {}},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(ZenityFileFilters(c.extensions, c.path), c.filters) << c.extensions << " at " << c.path;
}

// xdg-open stand-ins: record their arguments, one per line, then "--"; exit with FK_XDG_STATUS.
const char* const kStandIn =
    "#!/bin/sh\n"
    "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> \"$FK_XDG_LOG\"\n"
    "echo -- >> \"$FK_XDG_LOG\"\n"
    "exit \"${FK_XDG_STATUS:-0}\"\n";

TEST(OpenUrl, TheNormalisedUrlReachesXdgOpenAsOneArgument) {
    StartX11System();
    TempDir dir;
    std::filesystem::create_directories(dir.path / "bin");
    std::filesystem::create_directories(dir.path / "docs");
    { std::ofstream(dir.File("bin/xdg-open")) << kStandIn; }
    chmod(dir.File("bin/xdg-open").c_str(), 0755);
    MakeFile(dir.File("docs/page one.html"));
    const std::string log = dir.File("log");
    setenv("FK_XDG_LOG", log.c_str(), 1);
    PathOverride path(dir.File("bin") + ":/usr/bin:/bin");
    const std::string real = std::filesystem::canonical(dir.path).string();

    const struct {
        std::string url;
        std::string handed;
    } kCases[] = {
        {dir.File("docs/../docs/page one.html") + "#part 2", "file:" + real + "/docs/page one.html#part 2"},
        {"http://example.com/a b#c", "http://example.com/a b#c"},
        {"https://example.com/a?b=1", "https://example.com/a?b=1"},
        {"mailto:someone@example.com", "mailto:someone@example.com"},
        {"-x", "http:-x"},
    };
    for (const auto& c : kCases) {
        std::filesystem::remove(log);
        EXPECT_EQ(OpenUrlInShell(c.url), 1) << c.url;
        EXPECT_EQ(ReadFileBytes(log), c.handed + "\n--\n") << c.url;
    }

    testing::internal::CaptureStderr();
    setenv("FK_XDG_STATUS", "4", 1);
    EXPECT_EQ(OpenUrlInShell("http://example.com/"), 0) << "xdg-open reported a failure";
    unsetenv("FK_XDG_STATUS");
    std::filesystem::remove(log);
    EXPECT_EQ(SystemDriver()->OpenURL("--help"), 0) << "an option is not a URL";
    EXPECT_FALSE(std::filesystem::exists(log));
    {
        PathOverride empty(dir.File("docs"));
        EXPECT_EQ(OpenUrlInShell("http://example.com/"), 0) << "xdg-open is not there";
    }
    const auto lines = ChildProcess::Lines(testing::internal::GetCapturedStderr());
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("exit status 4"), std::string::npos) << lines[0];
    EXPECT_NE(lines[2].find("xdg-open could not be started"), std::string::npos) << lines[2];
    unsetenv("FK_XDG_LOG");
}

}  // namespace
