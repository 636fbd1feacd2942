// The Win32 system driver and WGL layer under Wine on the private X server (Mesa behind Wine's
// OpenGL): the window, its pixel format, input arriving as on X11, the close box and Alt+F4, a
// frame read back, the swap interval, fullscreen modes, main-thread calls and timers waking the
// pump, message boxes, the choosers and the shell's open answered from a helper thread, the
// start-up values and wide file names.
#include "graphics/win32/wgl_internal.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "runtime/win32/win32_text.h"
#include "stream/cstream.h"
#include "system/hook.h"
#include "system/timer.h"
#include "system/win32/win32_system.h"

#include <GL/gl.h>
#include <commctrl.h>
#include <dlgs.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Ints = std::vector<int32_t>;
using Names = std::vector<std::wstring>;

struct Seen {
    int32_t id, data, mods, x, y;
};
std::vector<Seen> seen;

HookData Record(int32_t, HookData data, const HookContext&) {
    if (auto* e = dynamic_cast<TEvent*>(data.get())) seen.push_back(Seen{e->id, e->data, e->mods, e->x, e->y});
    return data;
}

// One field of the recorded events with the given id (of all of them for -1).
Ints Of(int32_t id, int32_t Seen::*field = &Seen::data) {
    Ints out;
    for (const Seen& s : seen)
        if (id == -1 || s.id == id) out.push_back(s.*field);
    return out;
}

// True once ready() holds, asked every 20 ms up to tries times (five seconds by default).
bool WaitFor(const std::function<bool()>& ready, int tries = 250) {
    for (int i = 0; i < tries; ++i, Sleep(20))
        if (ready()) return true;
    return false;
}

// Pumps until the queue stays empty for a moment, so posted and injected input has arrived.
void Settle() {
    for (int i = 0; i < 10; ++i, Sleep(20)) PumpMessages();
}

// A key message's lParam: scan code, extended flag, repeat and Alt bits.
LPARAM KeyParam(int scan, bool extended = false, bool wasDown = false, bool alt = false) {
    return 1 | (LPARAM(scan) << 16) | (extended ? LPARAM(1) << 24 : 0) | (alt ? LPARAM(1) << 29 : 0) |
           (wasDown ? LPARAM(1) << 30 : 0);
}

// The display's current size and depth.
DEVMODEA CurrentDisplayMode() {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode);
    return mode;
}

std::wstring TextOf(HWND window) {
    wchar_t text[64] = {0};
    GetWindowTextW(window, text, 64);
    return text;
}

struct Msg {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// One 800 by 600 window with flags 10 for the whole suite (Wine is slow to make them).
class Win32Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        InsertHook(eventEmitHookId(), Record, nullptr, -1);
        record = CreateWindowContext(800, 600, 0, 0, GFX_BACKBUFFER | GFX_DEPTHBUFFER);
        ASSERT_NE(record, nullptr) << LastWindowContextError();
        window = WGLRecordWindow(record);
        SetForegroundWindow(window);
        Settle();
    }
    static void TearDownTestSuite() {
        DestroyWindowContext(record);
        RemoveHookEntry(eventEmitHookId(), Record, nullptr);
    }
    void SetUp() override {
        ASSERT_NE(record, nullptr);
        Settle();
        seen.clear();
    }
    // Posts the messages to the window and lets them arrive.
    static void Post(std::initializer_list<Msg> messages) {
        for (const Msg& m : messages) PostMessageW(window, m.message, m.wParam, m.lParam);
        Settle();
    }
    static inline GLContextRecord* record = nullptr;
    static inline HWND window = nullptr;
};

TEST_F(Win32Window, IsCentredFixedSizeTitledOfTheClassAndDoubleBufferedRgbaWithDepth) {
    RECT client{}, desktop{};
    GetClientRect(window, &client);
    const GLContextSettings settings = ReadContextSettings(record);
    EXPECT_EQ((Ints{client.right - client.left, client.bottom - client.top, settings.width, settings.height,
                    settings.flags}),
              (Ints{800, 600, 800, 600, 10}));
    EXPECT_EQ(TextOf(window), L"Ferrumkit Application");
    char className[64] = {0};
    GetClassNameA(window, className, 64);
    EXPECT_STREQ(className, "Ferrumkit GLGraphics");
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "fixed size";
    // The client area's top-left corner sits where centring puts it.
    GetWindowRect(GetDesktopWindow(), &desktop);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ((Ints{origin.x, origin.y}), (Ints{desktop.right / 2 - 400, desktop.bottom / 2 - 300}));

    // Flags 10 ask for a double buffer with some colour and depth bits and get RGBA with depth.
    const PIXELFORMATDESCRIPTOR request = WGLPixelFormatRequest(10);
    EXPECT_EQ(request.dwFlags, DWORD(PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER));
    EXPECT_EQ((Ints{request.cColorBits, request.cDepthBits,
                    request.cAlphaBits + request.cStencilBits + request.cAccumBits}),
              (Ints{1, 1, 0}));
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR chosen{};
    const int format = GetPixelFormat(dc);
    ASSERT_GT(format, 0);
    ASSERT_GT(DescribePixelFormat(dc, format, sizeof chosen, &chosen), 0);
    EXPECT_EQ(chosen.dwFlags & (PFD_DOUBLEBUFFER | PFD_SUPPORT_OPENGL), DWORD(PFD_DOUBLEBUFFER | PFD_SUPPORT_OPENGL));
    EXPECT_EQ(chosen.iPixelType, PFD_TYPE_RGBA);
    EXPECT_GE(chosen.cColorBits, 24);
    EXPECT_GT(chosen.cDepthBits, 0);
    EXPECT_EQ(chosen.cAccumBits, 0);
}

TEST_F(Win32Window, AClearedFrameReadsBackAndTheSwapIntervalIsSetOnce) {
    MakeContextCurrent(record);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    unsigned char pixel[4] = {0, 0, 0, 0};
    glReadBuffer(GL_BACK);
    glReadPixels(400, 300, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, pixel);
    EXPECT_EQ((Ints{pixel[0], pixel[1], pixel[2]}), (Ints{255, 0, 0}));

    const int before = WGLSwapIntervalCallCount();
    for (int i = 0; i < 3; ++i) SwapContextBuffers(0);
    EXPECT_EQ(WGLSwapIntervalCallCount(), before + 1);
    EXPECT_EQ(WGLLastRequestedSwapInterval(), 0);
    for (int i = 0; i < 2; ++i) SwapContextBuffers(1);
    EXPECT_EQ(WGLSwapIntervalCallCount(), before + 2);
    SwapContextBuffers(0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    MakeContextCurrent(nullptr);
}

TEST_F(Win32Window, InjectedKeysArriveWithTheirCodesAndModifierBits) {
    // Real input through the system: shift changes the key state the pump reads.
    for (DWORD flags : {DWORD(0), DWORD(KEYEVENTF_KEYUP)}) {
        INPUT key{};
        key.type = INPUT_KEYBOARD;
        key.ki = KEYBDINPUT{VK_LSHIFT, 0x2A, flags, 0, 0};
        ASSERT_EQ(SendInput(1, &key, sizeof(INPUT)), 1u);
        Settle();
    }
    EXPECT_EQ(Of(EVENT_KEY_DOWN), Ints{160});
    EXPECT_EQ(Of(EVENT_KEY_DOWN, &Seen::mods), Ints{MODIFIER_SHIFT});
    EXPECT_EQ(Of(EVENT_KEY_UP), Ints{160});
    EXPECT_EQ(Of(EVENT_KEY_UP, &Seen::mods), Ints{0});

    // Right alt (extended 0x38), a repeat, keys outside 1..255, and a character beyond ASCII.
    seen.clear();
    Post({{WM_SYSKEYDOWN, VK_MENU, KeyParam(0x38, true)},
          {WM_SYSKEYDOWN, VK_MENU, KeyParam(0x38, true, true)},
          {WM_KEYDOWN, 0, KeyParam(0)},
          {WM_KEYDOWN, 256, KeyParam(0)},
          {WM_KEYDOWN, VK_SPACE, KeyParam(0x39)},
          {WM_CHAR, L'\u00e4', KeyParam(0x28)}});
    // The pump's TranslateMessage adds the space's own character.
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(Of(-1, &Seen::id),
              (Ints{EVENT_KEY_DOWN, EVENT_KEY_REPEAT, EVENT_KEY_DOWN, EVENT_KEY_CHAR, EVENT_KEY_CHAR}));
    EXPECT_EQ(Of(-1), (Ints{165, 165, 32, 0xE4, 32}));
}

TEST_F(Win32Window, AltKeysNeverReachDefaultProcessingButAltF4AndTheCloseBoxAskToTerminate) {
    // Counts the system commands our window receives (the keyboard menu among them).
    static int commands = 0;
    static std::string last;
    static HHOOK hook = nullptr;
    hook = SetWindowsHookExW(
        WH_CALLWNDPROC,
        [](int code, WPARAM wParam, LPARAM lParam) -> LRESULT {
            const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
            if (code >= 0 && call->message == WM_SYSCOMMAND)
                ++commands, last = std::to_string(call->wParam) + "/" + std::to_string(call->lParam);
            return CallNextHookEx(hook, code, wParam, lParam);
        },
        nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    Post({{WM_SYSKEYDOWN, VK_MENU, KeyParam(0x38, false, false, true)},
          {WM_SYSKEYDOWN, 'X', KeyParam(0x2D, false, false, true)},
          {WM_SYSKEYUP, VK_MENU, KeyParam(0x38)}});
    EXPECT_EQ(commands, 0) << "an Alt key reached default processing: " << last;
    Ints downs = Of(EVENT_KEY_DOWN);
    ASSERT_GE(downs.size(), 2u);
    EXPECT_EQ(Ints(downs.begin(), downs.begin() + 2), (Ints{164, 'X'}));

    seen.clear();
    Post({{WM_SYSKEYDOWN, VK_F4, KeyParam(0x3E, false, false, true)}});
    EXPECT_EQ(Of(EVENT_APP_TERMINATE).size(), 1u);
    UnhookWindowsHookEx(hook);
    seen.clear();
    Post({{WM_SYSCOMMAND, SC_CLOSE, 0}});  // the close box
    EXPECT_EQ(Of(EVENT_APP_TERMINATE).size(), 1u);
    EXPECT_TRUE(IsWindow(window)) << "the window stays";
    EXPECT_EQ(WGLRecordWindow(record), window);
    // The screen saver and monitor power-down are refused.
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 1);
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_MONITORPOWER, 2), 1);
}

TEST_F(Win32Window, ButtonsAndTheWheelArriveAsOnX11) {
    Post({{WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 20)},
          {WM_LBUTTONUP, 0, MAKELPARAM(11, 21)},
          {WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 40)},
          {WM_RBUTTONUP, 0, MAKELPARAM(30, 40)},
          {WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(5, 6)},
          {WM_MBUTTONUP, 0, MAKELPARAM(5, 6)}});
    EXPECT_EQ(Of(EVENT_MOUSE_DOWN), (Ints{1, 2, 3}));
    EXPECT_EQ(Of(EVENT_MOUSE_UP), (Ints{1, 2, 3}));
    EXPECT_EQ(Of(EVENT_MOUSE_DOWN, &Seen::x), (Ints{10, 30, 5}));
    EXPECT_EQ(Of(EVENT_MOUSE_DOWN, &Seen::y), (Ints{20, 40, 6}));
    EXPECT_EQ(Of(EVENT_MOUSE_UP, &Seen::x), (Ints{11, 30, 5}));

    // The wheel's place comes in screen coordinates; part of a notch is no step.
    seen.clear();
    POINT at{100, 50};
    ClientToScreen(window, &at);
    const LPARAM screen = MAKELPARAM(at.x, at.y);
    Post({{WM_MOUSEWHEEL, MAKEWPARAM(0, 120), screen},
          {WM_MOUSEWHEEL, MAKEWPARAM(0, WORD(-120)), screen},
          {WM_MOUSEWHEEL, MAKEWPARAM(0, 60), screen}});
    EXPECT_EQ(Of(EVENT_MOUSE_WHEEL), (Ints{1, -1, 0}));
    EXPECT_EQ(Of(EVENT_MOUSE_WHEEL, &Seen::x), (Ints{100, 100, 100}));
    EXPECT_EQ(Of(EVENT_MOUSE_WHEEL, &Seen::y), (Ints{50, 50, 50}));

    // Entering the client area comes before the first move inside; a move outside while captured leaves it.
    SetCursorPos(0, 0);  // the real pointer away from the centred window
    const Msg outside{WM_MOUSEMOVE, 0, MAKELPARAM(WORD(-5), 100)};
    Post({outside});
    seen.clear();
    Post({{WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 100)}, outside});
    ASSERT_GE(seen.size(), 4u);
    seen.resize(4);
    EXPECT_EQ(Of(-1, &Seen::id), (Ints{EVENT_MOUSE_ENTER, EVENT_MOUSE_MOVE, EVENT_MOUSE_LEAVE, EVENT_MOUSE_MOVE}));
    EXPECT_EQ(seen[1].data, 1);
    EXPECT_EQ(seen[3].x, -5);
}

// Wine on Xvfb offers the screen's own size only (RandR gives it one mode without a rate) in 32,
// 16 and 8 bits; those of at least 16 are listed. An unoffered size is refused at its rate and at
// any rate, with the driver's error and no record, window or changed mode left behind. The offered
// size is kept while the window lives, with vertical sync when a rate is asked (Wine's modes carry
// none, so any is taken), and the display is given back on destroy.
TEST_F(Win32Window, FullscreenTakesOnlyTheOfferedSizeAndGivesTheDisplayBack) {
    EXPECT_EQ(CurrentDisplayMode().dmPelsWidth, 1280u);
    EXPECT_EQ(CurrentDisplayMode().dmPelsHeight, 1024u);
    Ints listed;
    for (const GLDisplayMode& m : EnumerateDisplayModes(64))
        listed.insert(listed.end(), {m.width, m.height, m.depth, m.hertz});
    EXPECT_EQ(listed, (Ints{1280, 1024, 32, 0, 1280, 1024, 16, 0}));

    const int records = WGLRecordCount();
    try {
        CreateWindowContext(640, 480, 32, 60, GFX_BACKBUFFER);
        ADD_FAILURE() << "an unoffered size was taken";
    } catch (const TRuntimeError& e) {
        EXPECT_STREQ(e.what(), "GLGraphicsDriver failed to set display mode");
    }
    EXPECT_EQ(WGLRecordCount(), records);
    EXPECT_EQ(WGLFullscreenWindow(), nullptr);
    int windows = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, kWGLWindowClassName, nullptr));) ++windows;
    EXPECT_EQ(windows, 1) << "only the suite's own window";
    EXPECT_EQ(CurrentDisplayMode().dmPelsWidth, 1280u);
    EXPECT_TRUE(IsWindow(window));

    for (int32_t hertz : {60, 0}) {
        SCOPED_TRACE(hertz);
        GLContextRecord* full = CreateWindowContext(1280, 1024, 32, hertz, GFX_BACKBUFFER);
        ASSERT_NE(full, nullptr) << LastWindowContextError();
        HWND popup = WGLRecordWindow(full);
        EXPECT_EQ(WGLFullscreenWindow(), popup);
        EXPECT_EQ(WGLLastRequestedSwapInterval(), hertz != 0 ? 1 : 0);
        RECT area{};
        GetWindowRect(popup, &area);
        EXPECT_EQ((Ints{area.left, area.top, area.right, area.bottom}), (Ints{0, 0, 1280, 1024}));
        EXPECT_EQ(CurrentDisplayMode().dmBitsPerPel, 32u);
        DestroyWindowContext(full);
        EXPECT_FALSE(IsWindow(popup));
        EXPECT_EQ(WGLFullscreenWindow(), nullptr);
        EXPECT_EQ(WGLLastRequestedSwapInterval(), 0);
        EXPECT_EQ(WGLRecordCount(), records);
        EXPECT_EQ(CurrentDisplayMode().dmPelsWidth, 1280u);
    }
    SetForegroundWindow(window);
}

TEST(Win32System, CallsFromOtherThreadsWakeTheWaitingPump) {
    StartWin32System();
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        Sleep(50);
        RunOnMainThread([&] { ran = true; });
    });
    const DWORD start = GetTickCount();
    while (!ran && GetTickCount() - start < 5000) WaitForMessages();
    poster.join();
    EXPECT_TRUE(ran);
}

// Multimedia timer ticks come to the main thread through the Win32 pump.
TEST(Win32System, TimersTickOnTheMainThread) {
    StartWin32System();
    static std::vector<DWORD> tickThreads;
    auto onTick = [](int32_t, HookData data, const HookContext&) -> HookData {
        if (auto* e = dynamic_cast<TEvent*>(data.get()); e && e->id == EVENT_TIMER_TICK)
            tickThreads.push_back(GetCurrentThreadId());
        return data;
    };
    InsertHook(eventEmitHookId(), onTick, nullptr, -1);
    auto timer = StartTimer(100.0f, nullptr);
    ASSERT_TRUE(timer);
    Sleep(60);  // ticks pile up while nobody pumps
    EXPECT_GE(timer->Wait(), 3);
    EXPECT_EQ(timer->Wait(), 1);
    timer->Stop();
    EXPECT_EQ(timer->Wait(), 0);
    RemoveHookEntry(eventEmitHookId(), onTick, nullptr);
    ASSERT_FALSE(tickThreads.empty());
    for (DWORD thread : tickThreads) EXPECT_EQ(thread, GetCurrentThreadId());
}

// The visible dialog box (class "#32770") of the given thread other than except, looked for tries
// times 20 ms apart (ten seconds by default); null when none came.
HWND AwaitDialog(DWORD thread, HWND except = nullptr, int tries = 500) {
    std::pair<HWND, HWND> search{except, nullptr};  // the one passed over, the one found
    auto match = [](HWND w, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<std::pair<HWND, HWND>*>(param);
        char name[16] = {0};
        GetClassNameA(w, name, sizeof name);
        if (w == s->first || !IsWindowVisible(w) || std::string(name) != "#32770") return TRUE;
        s->second = w;
        return FALSE;
    };
    WaitFor([&] { return EnumThreadWindows(thread, match, LPARAM(&search)), search.second != nullptr; }, tries);
    return search.second;
}

// Waits up to five seconds for a window to go.
void AwaitGone(HWND window) {
    WaitFor([&] { return !IsWindow(window); });
}

// The window holding the keyboard focus in the given thread.
HWND FocusOf(DWORD thread) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

// Posts a key press (down and up) to a window.
void PressKey(HWND target, WPARAM key) {
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, 1 | (LPARAM(3) << 30));
}

// Replaces the focused field's text by typing name into it, then presses Return.
void TypeAndReturn(DWORD thread, const std::wstring& name) {
    HWND field = FocusOf(thread);
    PostMessageW(field, EM_SETSEL, 0, -1);
    for (wchar_t c : name) PostMessageW(field, WM_CHAR, c, 1);
    PressKey(field, VK_RETURN);
}

// Answers a second dialog over the given one (a warning or a question), when one comes; true when it did.
bool AnswerNested(DWORD thread, HWND dialog, const std::function<void(HWND)>& answer) {
    HWND nested = AwaitDialog(thread, dialog);
    if (!nested) return false;
    Sleep(100);
    answer(nested);
    AwaitGone(nested);
    return true;
}

// What ask() (a modal call on the test's thread) gives while steps answer its dialog from a helper
// thread. Whatever the steps leave open is cancelled after a bounded wait, so a wrong answer fails
// the test instead of hanging it.
template <class Ask>
auto Answered(const std::function<void(DWORD thread, HWND dialog)>& steps, Ask ask) {
    const DWORD thread = GetCurrentThreadId();
    std::string problems;
    std::thread helper([&] {
        HWND dialog = AwaitDialog(thread);
        if (!dialog) return void(problems += "no dialog appeared; ");
        Sleep(150);  // the dialog takes the focus and fills its lists
        steps(thread, dialog);
        AwaitGone(dialog);
        for (HWND left; (left = AwaitDialog(thread, nullptr, 3));) {
            problems += "a dialog stayed open; ";
            PostMessageW(left, WM_COMMAND, IDCANCEL, 0);
            AwaitGone(left);
        }
    });
    const auto answer = ask();
    helper.join();
    EXPECT_EQ(problems, "");
    return answer;
}

// A message box carries the application's title and is answered by a key to its focused button.
TEST(Win32System, MessageBoxesAreAnsweredByKeys) {
    StartWin32System();
    for (bool confirm : {true, false}) {
        SCOPED_TRACE(confirm ? "Confirm" : "Proceed");
        std::wstring title;
        const int32_t answer = Answered(
            [&](DWORD, HWND box) {
                title = TextOf(box);
                PressKey(box, confirm ? VK_RETURN : VK_ESCAPE);
            },
            [&] {
                return confirm ? SystemDriver()->Confirm("Proceed with the test?", 0)
                               : SystemDriver()->Proceed("Cancel this one?", 1);
            });
        EXPECT_EQ(answer, confirm ? 1 : -1);
        EXPECT_EQ(title, L"Ferrumkit Application");
    }
}

// The file names the chooser's list shows, sorted.
Names ListedFiles(HWND dialog) {
    HWND list =
        FindWindowExW(FindWindowExW(dialog, nullptr, L"SHELLDLL_DefView", nullptr), nullptr, L"SysListView32", nullptr);
    Names names;
    for (LRESULT i = 0, count = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0); i < count; ++i) {
        wchar_t text[MAX_PATH] = {0};
        LVITEMW item{};
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        SendMessageW(list, LVM_GETITEMTEXTW, i, LPARAM(&item));
        names.push_back(text);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// What a file chooser shows: its filter box's groups, the one selected, and the listed files.
struct View {
    Names groups;
    int selected = -1;
    Names files;
};
View ViewOf(HWND dialog) {
    HWND combo = GetDlgItem(dialog, cmb1);
    View view;
    for (LRESULT i = 0, count = SendMessageW(combo, CB_GETCOUNT, 0, 0); i < count; ++i) {
        wchar_t text[64] = {0};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 64) SendMessageW(combo, CB_GETLBTEXT, i, LPARAM(text));
        view.groups.push_back(text);
    }
    view.selected = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    view.files = ListedFiles(dialog);
    return view;
}

// Selects a filter group as the user would: a pick reports the change, then the ended selection
// (which Wine's dialog acts on).
void ChooseFilter(HWND dialog, int group) {
    HWND combo = GetDlgItem(dialog, cmb1);
    SendMessageW(combo, CB_SETCURSEL, group, 0);
    for (WORD note : {CBN_SELCHANGE, CBN_SELENDOK})
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(cmb1, note), LPARAM(combo));
}

// The name of the folder the folder chooser's tree has selected.
std::wstring SelectedFolder(HWND dialog) {
    HWND tree = FindWindowExW(dialog, nullptr, L"SysTreeView32", nullptr);
    wchar_t text[MAX_PATH] = {0};
    TVITEMW item{};
    item.mask = TVIF_TEXT;
    item.hItem = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    item.pszText = text;
    item.cchTextMax = MAX_PATH;
    if (item.hItem) SendMessageW(tree, TVM_GETITEMW, 0, LPARAM(&item));
    return text;
}

std::string Utf8Of(const std::wstring& wide) { return Win32Utf8(wide.c_str()); }
bool Exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }
std::wstring TempPath() {
    wchar_t temp[MAX_PATH];
    return std::wstring(temp, GetTempPathW(MAX_PATH, temp));
}

// The file and folder choosers and the shell's open, answered from a helper
// thread, in a temporary folder holding a.png, b.jpg, c.txt and the folder sub.
class Win32Choosers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartWin32System();
        folder = TempPath() + L"fk_choosers";
        for (const wchar_t* name : {L"a.png", L"b.jpg", L"c.txt", L"d\u00fc.txt", L"ran.txt"})
            DeleteFileW(Path(name).c_str());
        RemoveDirectoryW(Path(L"sub").c_str());
        // The subfolder exists before any chooser looks: Wine's folder chooser
        // cannot select a folder made after a file chooser showed its parent.
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW(Path(L"sub").c_str(), nullptr);
        for (const wchar_t* name : {L"a.png", L"b.jpg", L"c.txt"}) WriteText(Path(name), "");
    }
    static void WriteText(const std::wstring& path, const char* text) {
        FILE* f = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        std::fputs(text, f);
        std::fclose(f);
    }
    // A file in the folder, in Windows' own form.
    static std::wstring Path(const std::wstring& name) { return folder + L"\\" + name; }
    // The same with "/" separators, as the program's own paths are written.
    static std::string Forward(const std::wstring& name) {
        std::string path = Utf8Of(Path(name));
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    static inline std::wstring folder;
    const std::string kExtensions = "Image Files:png,jpg;Text:txt";
};

TEST_F(Win32Choosers, OpenShowsTheFilterGroupsPreselectsTheInitialFilesAndReturnsIt) {
    View view;
    Names images;
    const std::string chosen = Answered(
        [&](DWORD thread, HWND dialog) {
            view = ViewOf(dialog);
            ChooseFilter(dialog, 0);
            images = ListedFiles(dialog);
            PressKey(FocusOf(thread), VK_RETURN);  // the initial file, c.txt
        },
        [&] { return SystemDriver()->RequestFile("Open a file", kExtensions, 0, Forward(L"c.txt")); });
    EXPECT_EQ(chosen, Utf8Of(Path(L"c.txt")));
    EXPECT_EQ(view.groups, (Names{L"Image Files", L"Text"}));
    EXPECT_EQ(view.selected, 1) << "the group of the initial file's extension";
    // Folders are listed under every filter.
    EXPECT_EQ(view.files, (Names{L"c.txt", L"sub"}));
    EXPECT_EQ(images, (Names{L"a.png", L"b.jpg", L"sub"}));
}

TEST_F(Win32Choosers, OpenRefusesAMissingFileAndCancellingGivesTheEmptyString) {
    View view;
    bool warned = false, stayed = false;
    // Without a ":" the list is one group of "Files"; no initial file, no group preselected.
    const std::string chosen = Answered(
        [&](DWORD thread, HWND dialog) {
            view = ViewOf(dialog);
            TypeAndReturn(thread, L"missing.png");
            warned = AnswerNested(thread, dialog, [&](HWND) { PressKey(FocusOf(thread), VK_RETURN); });
            stayed = IsWindowVisible(dialog);
            PressKey(FocusOf(thread), VK_ESCAPE);
        },
        [&] { return SystemDriver()->RequestFile("Open a picture", "png,jpg", 0, Forward(L"")); });
    EXPECT_EQ(chosen, "");
    EXPECT_EQ(view.groups, (Names{L"Files"}));
    EXPECT_EQ(view.files, (Names{L"a.png", L"b.jpg", L"sub"}));
    EXPECT_TRUE(warned) << "a missing file is refused with a warning";
    EXPECT_TRUE(stayed);
}

// (Cancelling a file chooser is checked on the open chooser: both return through the same line.)
TEST_F(Win32Choosers, SaveAsksBeforeReplacingAndReturnsTheTypedName) {
    auto save = [&] { return SystemDriver()->RequestFile("Save the text", kExtensions, 1, Forward(L"c.txt")); };
    bool asked = false, stayed = false;
    const std::string chosen = Answered(
        [&](DWORD thread, HWND dialog) {
            PressKey(FocusOf(thread), VK_RETURN);  // the initial file, c.txt, exists
            asked = AnswerNested(thread, dialog, [](HWND prompt) { PostMessageW(prompt, WM_COMMAND, IDNO, 0); });
            stayed = IsWindowVisible(dialog);
            Sleep(100);
            TypeAndReturn(thread, L"d\u00fc.txt");  // a name outside ASCII comes back as UTF-8
        },
        save);
    EXPECT_TRUE(asked) << "an existing file is only replaced after asking";
    EXPECT_TRUE(stayed);
    EXPECT_EQ(chosen, Utf8Of(Path(L"d\u00fc.txt")));
    EXPECT_NE(chosen.find("d\xc3\xbc.txt"), std::string::npos) << chosen;
    EXPECT_FALSE(Exists(Path(L"d\u00fc.txt"))) << "the chooser creates nothing";
}

TEST_F(Win32Choosers, TheFolderChooserStartsAtTheAbsolutePathAndCancellingGivesTheEmptyString) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    auto choose = [] { return SystemDriver()->RequestDir("Choose a folder", "sub"); };  // relative to the folder
    std::wstring selected;
    const std::string chosen = Answered(
        [&](DWORD, HWND dialog) {
            // The starting folder is selected once the tree has been expanded down to it.
            WaitFor([&] { return (selected = SelectedFolder(dialog)) == L"sub"; });
            PostMessageW(dialog, WM_COMMAND, IDOK, 0);
        },
        choose);
    EXPECT_EQ(selected, L"sub");
    EXPECT_EQ(chosen, Utf8Of(Path(L"sub")));
    EXPECT_EQ(Answered([](DWORD, HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); }, choose), "");
    SetCurrentDirectoryW(previous);
}

// The shell starts a command script that leaves a mark; a target that does not exist gives 0.
TEST_F(Win32Choosers, OpenUrlStartsTheTargetAndAFailedStartGivesZero) {
    const std::wstring script = Path(L"mark.cmd");
    WriteText(script, "@echo ran> \"%~dp0ran.txt\"\r\n");
    EXPECT_EQ(SystemDriver()->OpenURL(Utf8Of(script)), 1);
    EXPECT_TRUE(WaitFor([&] { return Exists(Path(L"ran.txt")); }, 500)) << "the script did not run";
    EXPECT_EQ(SystemDriver()->OpenURL(Utf8Of(Path(L"no-such-script.cmd"))), 0);
}

TEST(Win32Startup, ProgramFileComesFromTheModuleAndWideNamesOpen) {
    EXPECT_NE(ProgramFile().find("system_win32_test.exe"), std::string::npos) << ProgramFile();
    EXPECT_EQ(ProgramFile().find('\\'), std::string::npos);
    EXPECT_EQ(ProgramDirectory(), DirectoryOfProgram(ProgramFile()));
    EXPECT_EQ(ProgramDirectory().back() == '/', ProgramDirectory().size() == 3) << ProgramDirectory();

    // A UTF-8 name with "\" separators reaches _wfopen as UTF-16.
    const std::wstring temp = TempPath(), wideName = temp + L"fk_\u00fcber_\u65e5.bin";
    ASSERT_FALSE(temp.empty());
    std::string name(temp.begin(), temp.end());  // ASCII temp path
    name +=
        "fk_\xc3\xbc"
        "ber_\xe6\x97\xa5.bin";
    {
        auto out = TCStream::OpenFile(name, 0, 1);
        ASSERT_TRUE(out) << name;
        EXPECT_EQ(out->Write("abc", 3), 3);
        out->Close();
    }
    FILE* in = _wfopen(wideName.c_str(), L"rb");
    ASSERT_NE(in, nullptr);
    char text[4] = {0};
    EXPECT_EQ(std::fread(text, 1, 3, in), 3u);
    std::fclose(in);
    EXPECT_STREQ(text, "abc");
    _wremove(wideName.c_str());
}

}  // namespace
