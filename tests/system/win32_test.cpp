// The Win32 system driver and the WGL windows-and-contexts layer, run under
// Wine on the private X server with Mesa behind Wine's OpenGL: the window's
// client area, title, class and place, its pixel format, input arriving as
// the same events as on X11, the close box and Alt+F4, a frame read back,
// the swap interval, fullscreen modes as Wine on Xvfb offers them, main-thread
// calls waking the pump, message boxes, the file and folder choosers and the
// shell's open answered from a helper thread, and the start-up values and wide
// file names.
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

struct Seen {
    int32_t id, data, mods, x, y;
};

std::vector<Seen> seen;

HookData Record(int32_t, HookData data, const HookContext&) {
    if (auto* e = dynamic_cast<TEvent*>(data.get())) seen.push_back(Seen{e->id, e->data, e->mods, e->x, e->y});
    return data;
}

// Pumps until the queue stays empty for a moment, so posted and injected
// input has arrived.
void Settle() {
    for (int i = 0; i < 10; ++i) {
        PumpMessages();
        Sleep(20);
    }
}

std::vector<Seen> Only(int32_t id) {
    std::vector<Seen> out;
    for (const Seen& s : seen)
        if (s.id == id) out.push_back(s);
    return out;
}

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
    static inline GLContextRecord* record = nullptr;
    static inline HWND window = nullptr;
};

TEST_F(Win32Window, IsCentredFixedSizeTitledAndOfTheClass) {
    RECT client{};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right - client.left, 800);
    EXPECT_EQ(client.bottom - client.top, 600);
    const GLContextSettings settings = ReadContextSettings(record);
    EXPECT_EQ(settings.width, 800);
    EXPECT_EQ(settings.height, 600);
    EXPECT_EQ(settings.flags, 10);

    wchar_t title[64] = {0};
    GetWindowTextW(window, title, 64);
    EXPECT_EQ(std::wstring(title), L"Ferrumkit Application");
    char className[64] = {0};
    GetClassNameA(window, className, 64);
    EXPECT_STREQ(className, "Ferrumkit GLGraphics");

    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0) << "fixed size";

    // The client area's top-left corner sits where centring puts it.
    RECT desktop{};
    GetWindowRect(GetDesktopWindow(), &desktop);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    EXPECT_EQ(origin.x, desktop.right / 2 - 400);
    EXPECT_EQ(origin.y, desktop.bottom / 2 - 300);
}

TEST_F(Win32Window, FlagsTenGiveADoubleBufferedRgbaFormatWithDepth) {
    const PIXELFORMATDESCRIPTOR request = WGLPixelFormatRequest(10);
    EXPECT_EQ(request.dwFlags, DWORD(PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER));
    EXPECT_EQ(request.cColorBits, 1);
    EXPECT_EQ(request.cDepthBits, 1);
    EXPECT_EQ(request.cAlphaBits + request.cStencilBits + request.cAccumBits, 0);

    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR chosen{};
    const int format = GetPixelFormat(dc);
    ASSERT_GT(format, 0);
    ASSERT_GT(DescribePixelFormat(dc, format, sizeof chosen, &chosen), 0);
    EXPECT_TRUE(chosen.dwFlags & PFD_DOUBLEBUFFER);
    EXPECT_TRUE(chosen.dwFlags & PFD_SUPPORT_OPENGL);
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
    EXPECT_EQ(pixel[0], 255);
    EXPECT_EQ(pixel[1], 0);
    EXPECT_EQ(pixel[2], 0);

    const int before = WGLSwapIntervalCallCount();
    SwapContextBuffers(0);
    SwapContextBuffers(0);
    SwapContextBuffers(0);
    EXPECT_EQ(WGLSwapIntervalCallCount(), before + 1);
    EXPECT_EQ(WGLLastRequestedSwapInterval(), 0);
    SwapContextBuffers(1);
    SwapContextBuffers(1);
    EXPECT_EQ(WGLSwapIntervalCallCount(), before + 2);
    SwapContextBuffers(0);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    MakeContextCurrent(nullptr);
}

// A key message's lParam: scan code, extended flag, repeat and Alt bits.
LPARAM KeyParam(int scan, bool extended = false, bool wasDown = false, bool alt = false) {
    return 1 | (LPARAM(scan) << 16) | (extended ? LPARAM(1) << 24 : 0) | (alt ? LPARAM(1) << 29 : 0) |
           (wasDown ? LPARAM(1) << 30 : 0);
}

TEST_F(Win32Window, InjectedKeysArriveWithTheirCodesAndModifierBits) {
    // Real input through the system: shift changes the key state the pump reads.
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_LSHIFT;
    keys[0].ki.wScan = keys[1].ki.wScan = 0x2A;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ASSERT_EQ(SendInput(1, &keys[0], sizeof(INPUT)), 1u);
    Settle();
    ASSERT_EQ(SendInput(1, &keys[1], sizeof(INPUT)), 1u);
    Settle();
    const auto downs = Only(EVENT_KEY_DOWN), ups = Only(EVENT_KEY_UP);
    ASSERT_EQ(downs.size(), 1u);
    EXPECT_EQ(downs[0].data, 160);
    EXPECT_EQ(downs[0].mods, MODIFIER_SHIFT);
    ASSERT_EQ(ups.size(), 1u);
    EXPECT_EQ(ups[0].data, 160);
    EXPECT_EQ(ups[0].mods, 0);

    // Right alt (extended 0x38), a repeat, and keys outside 1..255.
    seen.clear();
    PostMessageW(window, WM_SYSKEYDOWN, VK_MENU, KeyParam(0x38, true));
    PostMessageW(window, WM_SYSKEYDOWN, VK_MENU, KeyParam(0x38, true, true));
    PostMessageW(window, WM_KEYDOWN, 0, KeyParam(0));
    PostMessageW(window, WM_KEYDOWN, 256, KeyParam(0));
    PostMessageW(window, WM_KEYDOWN, VK_SPACE, KeyParam(0x39));
    PostMessageW(window, WM_CHAR, L'\u00e4', KeyParam(0x28));
    Settle();
    // The pump's TranslateMessage adds the space's own character.
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0].id, EVENT_KEY_DOWN);
    EXPECT_EQ(seen[0].data, 165);
    EXPECT_EQ(seen[1].id, EVENT_KEY_REPEAT);
    EXPECT_EQ(seen[1].data, 165);
    EXPECT_EQ(seen[2].id, EVENT_KEY_DOWN);
    EXPECT_EQ(seen[2].data, 32);
    std::vector<int32_t> chars;
    for (const Seen& s : Only(EVENT_KEY_CHAR)) chars.push_back(s.data);
    EXPECT_EQ(chars, (std::vector<int32_t>{0xE4, 32}));
}

// Counts the system commands our window receives (the keyboard menu among them).
int systemCommands = 0;
std::string lastSystemCommand;
HHOOK callHook = nullptr;
LRESULT CALLBACK CountSystemCommands(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code >= 0 && call->message == WM_SYSCOMMAND) {
        ++systemCommands;
        lastSystemCommand = std::to_string(call->wParam) + "/" + std::to_string(call->lParam);
    }
    return CallNextHookEx(callHook, code, wParam, lParam);
}

TEST_F(Win32Window, AltKeysNeverReachDefaultProcessingButAltF4AndTheCloseBoxAskToTerminate) {
    callHook = SetWindowsHookExW(WH_CALLWNDPROC, CountSystemCommands, nullptr, GetCurrentThreadId());
    ASSERT_NE(callHook, nullptr);
    systemCommands = 0;
    PostMessageW(window, WM_SYSKEYDOWN, VK_MENU, KeyParam(0x38, false, false, true));
    PostMessageW(window, WM_SYSKEYDOWN, 'X', KeyParam(0x2D, false, false, true));
    PostMessageW(window, WM_SYSKEYUP, VK_MENU, KeyParam(0x38, false, false, false));
    Settle();
    EXPECT_EQ(systemCommands, 0) << "an Alt key reached default processing: " << lastSystemCommand;
    ASSERT_GE(Only(EVENT_KEY_DOWN).size(), 2u);
    EXPECT_EQ(Only(EVENT_KEY_DOWN)[0].data, 164);
    EXPECT_EQ(Only(EVENT_KEY_DOWN)[1].data, 'X');

    seen.clear();
    PostMessageW(window, WM_SYSKEYDOWN, VK_F4, KeyParam(0x3E, false, false, true));
    Settle();
    EXPECT_EQ(Only(EVENT_APP_TERMINATE).size(), 1u);
    UnhookWindowsHookEx(callHook);

    seen.clear();
    PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
    Settle();
    EXPECT_EQ(Only(EVENT_APP_TERMINATE).size(), 1u);
    EXPECT_TRUE(IsWindow(window)) << "the window stays";
    EXPECT_EQ(WGLRecordWindow(record), window);

    // The screen saver and monitor power-down are refused.
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_SCREENSAVE, 0), 1);
    EXPECT_EQ(SendMessageW(window, WM_SYSCOMMAND, SC_MONITORPOWER, 2), 1);
}

TEST_F(Win32Window, ButtonsAndTheWheelArriveAsOnX11) {
    PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 20));
    PostMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(11, 21));
    PostMessageW(window, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(30, 40));
    PostMessageW(window, WM_RBUTTONUP, 0, MAKELPARAM(30, 40));
    PostMessageW(window, WM_MBUTTONDOWN, MK_MBUTTON, MAKELPARAM(5, 6));
    PostMessageW(window, WM_MBUTTONUP, 0, MAKELPARAM(5, 6));
    Settle();
    const auto downs = Only(EVENT_MOUSE_DOWN), ups = Only(EVENT_MOUSE_UP);
    ASSERT_EQ(downs.size(), 3u);
    ASSERT_EQ(ups.size(), 3u);
    EXPECT_EQ(downs[0].data, 1);
    EXPECT_EQ(downs[0].x, 10);
    EXPECT_EQ(downs[0].y, 20);
    EXPECT_EQ(ups[0].x, 11);
    EXPECT_EQ(downs[1].data, 2);
    EXPECT_EQ(downs[2].data, 3);
    EXPECT_EQ(ups[2].data, 3);

    seen.clear();
    POINT at{100, 50};
    ClientToScreen(window, &at);
    const LPARAM screen = MAKELPARAM(at.x, at.y);
    PostMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), screen);
    PostMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-120)), screen);
    PostMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, 60), screen);
    Settle();
    const auto wheel = Only(EVENT_MOUSE_WHEEL);
    ASSERT_EQ(wheel.size(), 3u);
    EXPECT_EQ(wheel[0].data, 1);
    EXPECT_EQ(wheel[1].data, -1);
    EXPECT_EQ(wheel[2].data, 0);
    EXPECT_EQ(wheel[0].x, 100);
    EXPECT_EQ(wheel[0].y, 50);

    // Entering the client area comes before the first move inside; a move
    // outside while captured leaves it.
    SetCursorPos(0, 0);  // the real pointer away from the centred window
    PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-5), 100));
    Settle();
    seen.clear();
    PostMessageW(window, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(200, 100));
    PostMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(-5), 100));
    Settle();
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen[0].id, EVENT_MOUSE_ENTER);
    EXPECT_EQ(seen[1].id, EVENT_MOUSE_MOVE);
    EXPECT_EQ(seen[1].data, 1);
    EXPECT_EQ(seen[2].id, EVENT_MOUSE_LEAVE);
    EXPECT_EQ(seen[3].id, EVENT_MOUSE_MOVE);
    EXPECT_EQ(seen[3].x, -5);
}

// The display's current size and depth.
DEVMODEA CurrentDisplayMode() {
    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &mode);
    return mode;
}

// Wine on Xvfb offers the screen's own size only (RandR gives it one mode,
// without a refresh rate), in 32, 16 and 8 bits; the listed modes are those
// of at least 16 bits.
TEST_F(Win32Window, UnderWineOnXvfbTheDisplayListsOnlyTheScreensSize) {
    const DEVMODEA current = CurrentDisplayMode();
    EXPECT_EQ(current.dmPelsWidth, 1280u);
    EXPECT_EQ(current.dmPelsHeight, 1024u);
    const std::vector<GLDisplayMode> modes = EnumerateDisplayModes(64);
    ASSERT_EQ(modes.size(), 2u);
    for (const GLDisplayMode& mode : modes) {
        EXPECT_EQ(mode.width, 1280);
        EXPECT_EQ(mode.height, 1024);
        EXPECT_EQ(mode.hertz, 0);
    }
    EXPECT_EQ(modes[0].depth, 32);
    EXPECT_EQ(modes[1].depth, 16);
}

// A size the display does not offer is refused at its rate and at any rate:
// the create fails with the driver's error and leaves no record, no window
// and no changed mode behind.
TEST_F(Win32Window, AFullscreenCreateOfAnUnofferedSizeFailsLeavingNothingBehind) {
    const int records = WGLRecordCount();
    EXPECT_THROW(
        {
            try {
                CreateWindowContext(640, 480, 32, 60, GFX_BACKBUFFER);
            } catch (const TRuntimeError& e) {
                EXPECT_STREQ(e.what(), "GLGraphicsDriver failed to set display mode");
                throw;
            }
        },
        TRuntimeError);
    EXPECT_EQ(WGLRecordCount(), records);
    EXPECT_EQ(WGLFullscreenWindow(), nullptr);
    int windows = 0;
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, kWGLWindowClassName, nullptr));) ++windows;
    EXPECT_EQ(windows, 1) << "only the suite's own window";
    EXPECT_EQ(CurrentDisplayMode().dmPelsWidth, 1280u);
    EXPECT_TRUE(IsWindow(window));
}

// The offered size is kept while the window lives, with vertical sync at
// the asked rate (Wine's modes carry no rate, so any rate is taken), and the
// display is given back on destroy. Without a rate there is no vertical sync.
TEST_F(Win32Window, AFullscreenCreateOfTheOfferedSizeKeepsItsModeUntilDestroyed) {
    const int records = WGLRecordCount();
    for (int32_t hertz : {60, 0}) {
        SCOPED_TRACE(hertz);
        GLContextRecord* full = CreateWindowContext(1280, 1024, 32, hertz, GFX_BACKBUFFER);
        ASSERT_NE(full, nullptr) << LastWindowContextError();
        HWND popup = WGLRecordWindow(full);
        EXPECT_EQ(WGLFullscreenWindow(), popup);
        EXPECT_EQ(WGLLastRequestedSwapInterval(), hertz != 0 ? 1 : 0);
        RECT area{};
        GetWindowRect(popup, &area);
        EXPECT_EQ(area.left, 0);
        EXPECT_EQ(area.top, 0);
        EXPECT_EQ(area.right, 1280);
        EXPECT_EQ(area.bottom, 1024);
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
    std::vector<DWORD> tickThreads;
    static std::vector<DWORD>* threads;
    threads = &tickThreads;
    auto onTick = [](int32_t, HookData data, const HookContext&) -> HookData {
        if (auto* e = dynamic_cast<TEvent*>(data.get()); e && e->id == EVENT_TIMER_TICK)
            threads->push_back(GetCurrentThreadId());
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

// Answers the next message box with a posted key to its focused button.
std::thread AnswerBoxWith(WPARAM key) {
    return std::thread([key] {
        for (int i = 0; i < 500; ++i) {
            if (HWND box = FindWindowW(L"#32770", L"Ferrumkit Application")) {
                Sleep(100);  // let the box take the focus
                PostMessageW(box, WM_KEYDOWN, key, 0);
                PostMessageW(box, WM_KEYUP, key, LPARAM(3) << 30);
                return;
            }
            Sleep(20);
        }
    });
}

TEST(Win32System, MessageBoxesAreAnsweredByKeys) {
    StartWin32System();
    auto driver = SystemDriver();
    std::thread answer = AnswerBoxWith(VK_RETURN);
    EXPECT_EQ(driver->Confirm("Proceed with the test?", 0), 1);
    answer.join();
    answer = AnswerBoxWith(VK_ESCAPE);
    EXPECT_EQ(driver->Proceed("Cancel this one?", 1), -1);
    answer.join();
}

// The visible dialog box (class "#32770") of the given thread other than
// except, looked for the given number of times 20 ms apart (ten seconds by
// default); null when none came.
HWND AwaitDialog(DWORD thread, HWND except = nullptr, int tries = 500) {
    struct Search {
        HWND except, found;
    } search{except, nullptr};
    auto match = [](HWND w, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        char name[16] = {0};
        GetClassNameA(w, name, sizeof name);
        if (w == s->except || !IsWindowVisible(w) || std::string(name) != "#32770") return TRUE;
        s->found = w;
        return FALSE;
    };
    for (int i = 0; i < tries && !search.found; ++i) {
        EnumThreadWindows(thread, match, reinterpret_cast<LPARAM>(&search));
        if (!search.found) Sleep(20);
    }
    return search.found;
}

// Waits up to five seconds for a window to go.
void AwaitGone(HWND window) {
    for (int i = 0; i < 250 && IsWindow(window); ++i) Sleep(20);
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

// Runs the dialog answers of one chooser on a helper thread while the test's
// thread sits in the modal call. Whatever the steps leave open is cancelled
// after a bounded wait, so a wrong answer fails the test instead of hanging it.
class DialogAnswers {
public:
    explicit DialogAnswers(std::function<void(DWORD thread, HWND dialog)> steps)
        : thread_(GetCurrentThreadId()), helper_([this, steps] {
              HWND dialog = AwaitDialog(thread_);
              if (!dialog) {
                  problems_ += "no dialog appeared; ";
                  return;
              }
              Sleep(150);  // the dialog takes the focus and fills its lists
              steps(thread_, dialog);
              AwaitGone(dialog);
              for (HWND left; (left = AwaitDialog(thread_, nullptr, 3));) {
                  problems_ += "a dialog stayed open; ";
                  PostMessageW(left, WM_COMMAND, IDCANCEL, 0);
                  AwaitGone(left);
              }
          }) {}
    // What went wrong ("" when nothing did), once the helper has finished.
    std::string Finish() {
        helper_.join();
        return problems_;
    }

private:
    DWORD thread_;
    std::string problems_;
    std::thread helper_;
};

// The names a file chooser's filter box lists and the one it has selected.
struct FilterBox {
    std::vector<std::wstring> names;
    int selected = -1;
};

FilterBox FilterBoxOf(HWND dialog) {
    FilterBox box;
    HWND combo = GetDlgItem(dialog, cmb1);
    const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[64] = {0};
        if (SendMessageW(combo, CB_GETLBTEXTLEN, i, 0) < 64) SendMessageW(combo, CB_GETLBTEXT, i, LPARAM(text));
        box.names.push_back(text);
    }
    box.selected = static_cast<int>(SendMessageW(combo, CB_GETCURSEL, 0, 0));
    return box;
}

// The file names the chooser's list shows, sorted.
std::vector<std::wstring> ListedFiles(HWND dialog) {
    HWND list = FindWindowExW(FindWindowExW(dialog, nullptr, L"SHELLDLL_DefView", nullptr), nullptr,
                              L"SysListView32", nullptr);
    std::vector<std::wstring> names;
    const LRESULT count = SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
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

// Selects a filter group as the user would, by the box's selection change.
void ChooseFilter(HWND dialog, int group) {
    HWND combo = GetDlgItem(dialog, cmb1);
    SendMessageW(combo, CB_SETCURSEL, group, 0);
    // A pick reports the change, then the ended selection (which Wine's dialog acts on).
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELCHANGE), LPARAM(combo));
    SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(cmb1, CBN_SELENDOK), LPARAM(combo));
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

// The file and folder choosers and the shell's open, answered from a helper
// thread, in a temporary folder holding a.png, b.jpg, c.txt and the folder sub.
class Win32Choosers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        StartWin32System();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder = std::wstring(temp) + L"fk_choosers";
        for (const wchar_t* name : {L"a.png", L"b.jpg", L"c.txt", L"d\u00fc.txt", L"ran.txt"}) DeleteFileW(Path(name).c_str());
        RemoveDirectoryW(Path(L"sub").c_str());
        // The subfolder exists before any chooser looks: Wine's folder chooser
        // cannot select a folder made after a file chooser showed its parent.
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW(Path(L"sub").c_str(), nullptr);
        for (const wchar_t* name : {L"a.png", L"b.jpg", L"c.txt"}) {
            FILE* f = _wfopen(Path(name).c_str(), L"wb");
            ASSERT_NE(f, nullptr);
            std::fclose(f);
        }
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
    FilterBox box;
    std::vector<std::wstring> text, images;
    DialogAnswers answers([&](DWORD thread, HWND dialog) {
        box = FilterBoxOf(dialog);
        text = ListedFiles(dialog);
        ChooseFilter(dialog, 0);
        images = ListedFiles(dialog);
        PressKey(FocusOf(thread), VK_RETURN);  // the initial file, c.txt
    });
    const std::string chosen = SystemDriver()->RequestFile("Open a file", kExtensions, 0, Forward(L"c.txt"));
    EXPECT_EQ(answers.Finish(), "");
    EXPECT_EQ(chosen, Utf8Of(Path(L"c.txt")));
    EXPECT_EQ(box.names, (std::vector<std::wstring>{L"Image Files", L"Text"}));
    EXPECT_EQ(box.selected, 1) << "the group of the initial file's extension";
    // Folders are listed under every filter.
    EXPECT_EQ(text, (std::vector<std::wstring>{L"c.txt", L"sub"}));
    EXPECT_EQ(images, (std::vector<std::wstring>{L"a.png", L"b.jpg", L"sub"}));
}

TEST_F(Win32Choosers, OpenRefusesAMissingFileAndCancellingGivesTheEmptyString) {
    FilterBox box;
    std::vector<std::wstring> listed;
    bool warned = false, stayed = false;
    DialogAnswers answers([&](DWORD thread, HWND dialog) {
        box = FilterBoxOf(dialog);
        listed = ListedFiles(dialog);
        TypeAndReturn(thread, L"missing.png");
        if (HWND warning = AwaitDialog(thread, dialog)) {
            warned = true;
            Sleep(100);
            PressKey(FocusOf(thread), VK_RETURN);
            AwaitGone(warning);
        }
        stayed = IsWindowVisible(dialog);
        PressKey(FocusOf(thread), VK_ESCAPE);
    });
    // Without a ":" the list is one group of "Files"; no initial file, no group preselected.
    const std::string chosen = SystemDriver()->RequestFile("Open a picture", "png,jpg", 0, Forward(L""));
    EXPECT_EQ(answers.Finish(), "");
    EXPECT_EQ(chosen, "");
    EXPECT_EQ(box.names, (std::vector<std::wstring>{L"Files"}));
    EXPECT_EQ(listed, (std::vector<std::wstring>{L"a.png", L"b.jpg", L"sub"}));
    EXPECT_TRUE(warned) << "a missing file is refused with a warning";
    EXPECT_TRUE(stayed);
}

TEST_F(Win32Choosers, SaveAsksBeforeReplacingAndReturnsTheTypedName) {
    bool asked = false, stayed = false;
    DialogAnswers answers([&](DWORD thread, HWND dialog) {
        PressKey(FocusOf(thread), VK_RETURN);  // the initial file, c.txt, exists
        if (HWND prompt = AwaitDialog(thread, dialog)) {
            asked = true;
            Sleep(100);
            PostMessageW(prompt, WM_COMMAND, IDNO, 0);
            AwaitGone(prompt);
        }
        stayed = IsWindowVisible(dialog);
        Sleep(100);
        TypeAndReturn(thread, L"d\u00fc.txt");  // a name outside ASCII comes back as UTF-8
    });
    const std::string chosen = SystemDriver()->RequestFile("Save the text", kExtensions, 1, Forward(L"c.txt"));
    EXPECT_EQ(answers.Finish(), "");
    EXPECT_TRUE(asked) << "an existing file is only replaced after asking";
    EXPECT_TRUE(stayed);
    EXPECT_EQ(chosen, Utf8Of(Path(L"d\u00fc.txt")));
    EXPECT_NE(chosen.find("d\xc3\xbc.txt"), std::string::npos) << chosen;
    EXPECT_EQ(GetFileAttributesW(Path(L"d\u00fc.txt").c_str()), INVALID_FILE_ATTRIBUTES) << "the chooser creates nothing";

    DialogAnswers cancel([](DWORD thread, HWND) { PressKey(FocusOf(thread), VK_ESCAPE); });
    EXPECT_EQ(SystemDriver()->RequestFile("Save the text", kExtensions, 1, Forward(L"c.txt")), "");
    EXPECT_EQ(cancel.Finish(), "");
}

TEST_F(Win32Choosers, TheFolderChooserStartsAtTheAbsolutePathAndCancellingGivesTheEmptyString) {
    wchar_t previous[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(folder.c_str()));
    std::wstring selected;
    DialogAnswers answers([&](DWORD, HWND dialog) {
        // The starting folder is selected once the tree has been expanded down to it.
        for (int i = 0; i < 250 && (selected = SelectedFolder(dialog)) != L"sub"; ++i) Sleep(20);
        PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    });
    const std::string chosen = SystemDriver()->RequestDir("Choose a folder", "sub");  // relative to the folder
    EXPECT_EQ(answers.Finish(), "");
    EXPECT_EQ(selected, L"sub");
    EXPECT_EQ(chosen, Utf8Of(Path(L"sub")));

    DialogAnswers cancel([](DWORD, HWND dialog) { PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0); });
    EXPECT_EQ(SystemDriver()->RequestDir("Choose a folder", "sub"), "");
    EXPECT_EQ(cancel.Finish(), "");
    SetCurrentDirectoryW(previous);
}

// The shell starts a command script that leaves a mark; a target that does
// not exist gives 0.
TEST_F(Win32Choosers, OpenUrlStartsTheTargetAndAFailedStartGivesZero) {
    const std::wstring script = Path(L"mark.cmd"), mark = Path(L"ran.txt");
    FILE* f = _wfopen(script.c_str(), L"wb");
    ASSERT_NE(f, nullptr);
    std::fputs("@echo ran> \"%~dp0ran.txt\"\r\n", f);
    std::fclose(f);
    EXPECT_EQ(SystemDriver()->OpenURL(Utf8Of(script)), 1);
    bool ran = false;
    for (int i = 0; i < 500 && !ran; ++i) {
        ran = GetFileAttributesW(mark.c_str()) != INVALID_FILE_ATTRIBUTES;
        if (!ran) Sleep(20);
    }
    EXPECT_TRUE(ran) << "the script did not run";
    EXPECT_EQ(SystemDriver()->OpenURL(Utf8Of(Path(L"no-such-script.cmd"))), 0);
}

TEST(Win32Startup, ProgramFileComesFromTheModuleAndWideNamesOpen) {
    EXPECT_NE(ProgramFile().find("system_win32_test.exe"), std::string::npos) << ProgramFile();
    EXPECT_EQ(ProgramFile().find('\\'), std::string::npos);
    EXPECT_EQ(ProgramDirectory(), DirectoryOfProgram(ProgramFile()));
    EXPECT_EQ(ProgramDirectory().back() == '/', ProgramDirectory().size() == 3) << ProgramDirectory();

    // A UTF-8 name with "\" separators reaches _wfopen as UTF-16.
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring wideName = std::wstring(temp) + L"fk_\u00fcber_\u65e5.bin";
    std::string name;
    for (wchar_t c : std::wstring(temp)) name.push_back(static_cast<char>(c));  // ASCII temp path
    name += "fk_\xc3\xbc" "ber_\xe6\x97\xa5.bin";
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
