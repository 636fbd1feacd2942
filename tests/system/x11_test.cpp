// The X11 system driver against a private X server: real input injected with
// XTest, and hand-made X events for the translation table.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include "system/polled_input.h"
#include "system/x11/x11_internal.h"
#include "system/x11/x11_platform.h"
#include "system/x11/x11_system.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>

#include <atomic>
#include <initializer_list>
#include <thread>
#include <utility>
#include <vector>

static auto* const kXvfb = RegisterXvfbEnvironment();

namespace {

// An emitted event, without its source.
struct Seen {
    int32_t id = 0, data = 0, mods = 0, x = 0, y = 0;
};

bool operator==(const Seen& a, const Seen& b) {
    return a.id == b.id && a.data == b.data && a.mods == b.mods && a.x == b.x && a.y == b.y;
}

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << MakeEvent(s.id, nullptr, s.data, s.mods, s.x, s.y)->ToString();
}

using Events = std::vector<Seen>;
Events seen;

HookData Record(int32_t, HookData data, const HookContext&) {
    if (auto* e = dynamic_cast<TEvent*>(data.get())) seen.push_back({e->id, e->data, e->mods, e->x, e->y});
    return data;
}

// Only the ids, for sequences whose data is checked elsewhere.
std::vector<int32_t> SeenIds() {
    std::vector<int32_t> ids;
    for (const auto& s : seen) ids.push_back(s.id);
    return ids;
}

constexpr int kLeft = 100, kTop = 100, kWidth = 200, kHeight = 150;

Display* d = nullptr;
Window window = None;  // registered with the pump
Window other = None;   // not registered: where focus goes when we lose it

void WindowProc(XEvent& event, void*) { TranslateWindowMessage(event, nullptr); }

// Lets the server act on everything sent so far, then pumps what it answered.
void Settle() {
    XSync(d, False);
    PumpMessages();
}

bool PumpUntil(const std::function<bool()>& done) { return WaitUntil(done, Settle); }

KeyCode Code(KeySym ks) { return XKeysymToKeycode(d, ks); }

// XTest input through the program's own connection, pumped at once.
void Key(KeySym ks, bool down) {
    ASSERT_TRUE(FakeKey(d, ks, down)) << "no key for keysym " << ks;
    PumpMessages();
}

void Tap(KeySym ks) {
    Key(ks, true);
    Key(ks, false);
}

void Button(unsigned int button, bool down) {
    FakeButton(d, button, down);
    PumpMessages();
}

// Moves the pointer to screen coordinates.
void MoveTo(int x, int y) {
    MovePointer(d, x, y);
    PumpMessages();
}

void FocusOn(Window w) {
    FocusWindow(d, w);
    PumpMessages();
}

class X11Input : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        d = X11Display();
        ASSERT_NE(d, nullptr);
        const Window root = DefaultRootWindow(d);
        XSetWindowAttributes attributes{};
        attributes.event_mask = KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask |
                                PointerMotionMask | EnterWindowMask | LeaveWindowMask | FocusChangeMask |
                                StructureNotifyMask;
        window = XCreateWindow(d, root, kLeft, kTop, kWidth, kHeight, 0, CopyFromParent, InputOutput, CopyFromParent,
                               CWEventMask, &attributes);
        Atom deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(d, window, &deleteWindow, 1);
        X11RegisterWindow(window, WindowProc, nullptr);
        attributes.event_mask = StructureNotifyMask;
        other = XCreateWindow(d, root, 600, 600, 50, 50, 0, CopyFromParent, InputOutput, CopyFromParent, CWEventMask,
                              &attributes);
        XMapWindow(d, other);
        XMapWindow(d, window);
        ASSERT_TRUE(PumpUntil([] { return BoxOf(d, window).viewable; }));
        // Fast auto-repeat, so held keys repeat within a few dozen milliseconds.
        XkbSetAutoRepeatRate(d, XkbUseCoreKbd, 40, 15);
        XAutoRepeatOn(d);
        InsertHook(eventEmitHookId(), Record, nullptr, 100);
        StartPolledInput(nullptr);
    }

    static void TearDownTestSuite() {
        StopPolledInput();
        RemoveHookEntry(eventEmitHookId(), Record, nullptr);
        X11UnregisterWindow(window);
        XDestroyWindow(d, window);
        XDestroyWindow(d, other);
        XSync(d, False);
    }

    void SetUp() override {
        ASSERT_TRUE(X11SetDetectableAutoRepeat(true));  // as the driver opens the display
        MoveTo(10, 10);                                 // outside the window
        FocusOn(window);
        Settle();
        // Hand-made motion may have left the window tracked with the real
        // pointer elsewhere: start untracked.
        X11TrackPointer(None, 0, 0, nullptr);
        ResetKeys();
        ResetMouse();
        (void)TerminateRequested();
        seen.clear();
    }
};

TEST_F(X11Input, KeysGiveVirtualKeyCodesAndModifierBits) {
    Key(XK_Shift_L, true);
    Tap(XK_a);
    Key(XK_Shift_L, false);
    Tap(XK_Escape);
    EXPECT_EQ(seen, (Events{{EVENT_KEY_DOWN, 160, 1},
                            {EVENT_KEY_DOWN, 65, 1},
                            {EVENT_KEY_CHAR, 'A', 1},
                            {EVENT_KEY_UP, 65, 1},
                            {EVENT_KEY_UP, 160, 0},
                            {EVENT_KEY_DOWN, 27, 0},
                            {EVENT_KEY_CHAR, 27, 0},
                            {EVENT_KEY_UP, 27, 0}}));
    EXPECT_EQ((std::vector<int32_t>{KeyHitCount(160), KeyHitCount(65), KeyHitCount(27)}),
              (std::vector<int32_t>{1, 1, 1}));
    EXPECT_EQ((std::vector<int32_t>{NextChar(), NextChar(), NextChar()}), (std::vector<int32_t>{'A', 27, 0}));

    seen.clear();
    Key(XK_Control_R, true);
    Key(XK_Alt_L, true);
    Tap(XK_c);
    Key(XK_Alt_L, false);
    Key(XK_Control_R, false);
    Key(XK_Super_L, true);
    EXPECT_EQ(IsKeyDown(91), 1);
    Key(XK_Super_L, false);
    EXPECT_EQ(seen, (Events{{EVENT_KEY_DOWN, 163, 2},
                            {EVENT_KEY_DOWN, 164, 6},
                            {EVENT_KEY_DOWN, 67, 6},
                            {EVENT_KEY_CHAR, 3, 6},  // control-C types 3
                            {EVENT_KEY_UP, 67, 6},
                            {EVENT_KEY_UP, 164, 2},
                            {EVENT_KEY_UP, 163, 0},
                            {EVENT_KEY_DOWN, 91, 8},
                            {EVENT_KEY_UP, 91, 0}}));

    // Right Alt and AltGr (where the keyboard has them) are both right Alt.
    for (KeySym ks : {KeySym(XK_Alt_R), KeySym(XK_ISO_Level3_Shift)}) {
        if (Code(ks) == 0) continue;
        seen.clear();
        Tap(ks);
        EXPECT_EQ(seen, (Events{{EVENT_KEY_DOWN, 165, 4}, {EVENT_KEY_UP, 165, 0}})) << XKeysymToString(ks);
    }
}

// A held key repeats as "KeyRepeat", types again each time and counts once, both
// with detectable auto-repeat and when the server sends a release between repeats.
TEST_F(X11Input, AHeldKeyRepeatsAsKeyRepeat) {
    for (bool detectable : {true, false}) {
        SCOPED_TRACE(detectable ? "presses only" : "releases between repeats");
        EXPECT_EQ(X11SetDetectableAutoRepeat(detectable), detectable);
        ResetKeys();
        seen.clear();
        Key(XK_space, true);
        auto repeats = [] {
            int n = 0;
            for (const auto& s : seen) n += s.id == EVENT_KEY_REPEAT;
            return n;
        };
        ASSERT_TRUE(PumpUntil([&] { return repeats() >= 3; }));
        Key(XK_space, false);
        // Down, its character, each repeat with its character again, up.
        Events expected{{EVENT_KEY_DOWN, 32}, {EVENT_KEY_CHAR, 32}};
        for (int i = repeats(); i > 0; --i)
            expected.insert(expected.end(), {{EVENT_KEY_REPEAT, 32}, {EVENT_KEY_CHAR, 32}});
        expected.push_back({EVENT_KEY_UP, 32});
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(KeyHitCount(32), 1);
        EXPECT_EQ(IsKeyDown(32), 0);
    }
}

// Quick presses arrive as the server sends them, a release and a press often
// within one millisecond: with presses-only auto-repeat in effect none of them
// may be taken for a repeat.
TEST_F(X11Input, ABurstOfQuickPressesStaysPressesAndReleases) {
    ASSERT_TRUE(X11DetectableAutoRepeat());
    constexpr int kTaps = 200;
    ASSERT_TRUE(TapKeyBurst(d, XK_a, kTaps));
    auto count = [](int32_t id) {
        int n = 0;
        for (const auto& s : seen) n += s.id == id && (id == EVENT_KEY_CHAR ? s.data == 'a' : s.data == 'A');
        return n;
    };
    // Every tap types its character, whether taken for a repeat or not.
    ASSERT_TRUE(PumpUntil([&] { return count(EVENT_KEY_CHAR) == kTaps && IsKeyDown('A') == 0; }));
    EXPECT_EQ((std::vector<int>{count(EVENT_KEY_DOWN), count(EVENT_KEY_REPEAT), count(EVENT_KEY_UP)}),
              (std::vector<int>{kTaps, 0, kTaps}));
    EXPECT_EQ(KeyHitCount('A'), kTaps);
}

TEST_F(X11Input, ButtonsWheelAndEnteringTheWindow) {
    MoveTo(kLeft + 50, kTop + 60);
    X11BeginErrorTrap();
    // Left, right, middle; wheel up, down, down; horizontal wheel and side buttons: nothing.
    for (unsigned int button : {1, 3, 2, 4, 5, 5, 6, 7, 8, 9}) {
        Button(button, true);
        Button(button, false);
    }
    EXPECT_EQ(X11EndErrorTrap(), 0);  // the server has all these buttons
    EXPECT_EQ(seen, (Events{{EVENT_MOUSE_ENTER, 0, 0, 50, 60},
                            {EVENT_MOUSE_MOVE, 0, 0, 50, 60},
                            {EVENT_MOUSE_DOWN, 1, 0, 50, 60},
                            {EVENT_MOUSE_UP, 1, 0, 50, 60},
                            {EVENT_MOUSE_DOWN, 2, 0, 50, 60},
                            {EVENT_MOUSE_UP, 2, 0, 50, 60},
                            {EVENT_MOUSE_DOWN, 3, 0, 50, 60},
                            {EVENT_MOUSE_UP, 3, 0, 50, 60},
                            {EVENT_MOUSE_WHEEL, 1, 0, 50, 60},
                            {EVENT_MOUSE_WHEEL, -1, 0, 50, 60},
                            {EVENT_MOUSE_WHEEL, -1, 0, 50, 60}}));
    EXPECT_EQ(MouseHitCount(1), 1);
    EXPECT_EQ(MouseHitCount(2), 1);
    EXPECT_EQ(MouseHitCount(3), 1);
    EXPECT_EQ(WheelPosition(), -1);
    EXPECT_EQ(PointerX(), 50);
    EXPECT_EQ(PointerY(), 60);
    EXPECT_EQ(TrackedWindow(), window);

    // Clicks carry the modifier bits too.
    seen.clear();
    Key(XK_Shift_R, true);
    Button(Button1, true);
    Button(Button1, false);
    Key(XK_Shift_R, false);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], (Seen{EVENT_MOUSE_DOWN, 1, 1, 50, 60}));
    EXPECT_EQ(seen[2], (Seen{EVENT_MOUSE_UP, 1, 1, 50, 60}));
}

TEST_F(X11Input, LeavingTheWindowEmitsMouseLeave) {
    MoveTo(kLeft + 10, kTop + 10);
    MoveTo(kLeft + 20, kTop + 15);
    MoveTo(5, 5);
    EXPECT_EQ(seen, (Events{{EVENT_MOUSE_ENTER, 0, 0, 10, 10},
                            {EVENT_MOUSE_MOVE, 0, 0, 10, 10},
                            {EVENT_MOUSE_MOVE, 0, 0, 20, 15},
                            {EVENT_MOUSE_LEAVE, 0, 0, 5 - kLeft, 5 - kTop}}));
    EXPECT_EQ(TrackedWindow(), static_cast<Window>(None));
}

TEST_F(X11Input, ADragKeepsReportingOutsideTheWindow) {
    MoveTo(kLeft + 50, kTop + 60);
    Button(Button1, true);
    MoveTo(kLeft + 300, kTop + 250);
    Button(Button3, true);
    MoveTo(kLeft + 310, kTop + 250);
    Button(Button3, false);
    Button(Button1, false);
    MoveTo(kLeft + 40, kTop + 40);
    ASSERT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_MOUSE_ENTER, EVENT_MOUSE_MOVE, EVENT_MOUSE_DOWN, EVENT_MOUSE_LEAVE,
                                               EVENT_MOUSE_MOVE, EVENT_MOUSE_DOWN, EVENT_MOUSE_MOVE, EVENT_MOUSE_UP,
                                               EVENT_MOUSE_UP, EVENT_MOUSE_ENTER, EVENT_MOUSE_MOVE}));
    EXPECT_EQ(seen[4], (Seen{EVENT_MOUSE_MOVE, 1, 0, 300, 250}));  // left held
    EXPECT_EQ(seen[6], (Seen{EVENT_MOUSE_MOVE, 2, 0, 310, 250}));  // left and right: right wins
    EXPECT_EQ(seen[8], (Seen{EVENT_MOUSE_UP, 1, 0, 310, 250}));
    EXPECT_EQ(seen[9], (Seen{EVENT_MOUSE_ENTER, 0, 0, 40, 40}));
    EXPECT_EQ(PointerX(), 40);
}

// The close box asks to terminate and the window stays; a wait returns for
// the request even when Xlib has already read it off the socket.
TEST_F(X11Input, TheCloseBoxAsksToTerminateAndWakesAWait) {
    SendCloseRequest(d, window);  // syncs: the event now sits in Xlib's own queue
    ASSERT_GT(XEventsQueued(d, QueuedAlready), 0);
    std::atomic<bool> watchdog{false}, done{false};
    std::thread timer([&] {
        for (int i = 0; i < 500 && !done; ++i) SleepMillis(10);
        if (!done) RunOnMainThread([&] { watchdog = true; });
    });
    WaitForMessages();
    done = true;
    timer.join();
    PumpMessages();
    EXPECT_FALSE(watchdog);
    EXPECT_EQ(seen, (Events{{EVENT_APP_TERMINATE}}));
    EXPECT_EQ(TerminateRequested(), 1);
    EXPECT_EQ(TerminateRequested(), 0);
    EXPECT_TRUE(BoxOf(d, window).viewable);
}

TEST_F(X11Input, AWaitingMainThreadWakesForAPostedCall) {
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        SleepMillis(30);
        RunOnMainThread([&] { ran = true; });
    });
    while (!ran) WaitForMessages();
    poster.join();
    EXPECT_TRUE(seen.empty());
}

TEST_F(X11Input, LosingFocusSuspendsAndForgetsHeldKeys) {
    Key(XK_b, true);
    EXPECT_EQ(IsKeyDown(66), 1);
    FocusOn(other);
    EXPECT_EQ(IsSuspended(), 1);
    EXPECT_EQ(IsKeyDown(66), 0);
    Key(XK_b, false);  // released elsewhere: never seen
    // Keyboard grabs move focus without (de)activating anything.
    XGrabKeyboard(d, window, False, GrabModeAsync, GrabModeAsync, CurrentTime);
    Settle();
    XUngrabKeyboard(d, CurrentTime);
    Settle();
    FocusOn(window);
    EXPECT_EQ(IsSuspended(), 0);
    Tap(XK_b);
    EXPECT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_KEY_DOWN, EVENT_KEY_CHAR, EVENT_APP_SUSPEND, EVENT_APP_RESUME,
                                               EVENT_KEY_DOWN, EVENT_KEY_CHAR, EVENT_KEY_UP}));
    EXPECT_EQ(KeyHitCount(66), 1);
}

TEST_F(X11Input, PlacePointerWarpsInTheFocusedWindow) {
    auto pointer = [] {
        Window root, child;
        int rx = 0, ry = 0, wx = 0, wy = 0;
        unsigned int mask = 0;
        XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
        return std::make_pair(rx, ry);
    };
    PlacePointer(20, 30);
    Settle();
    EXPECT_EQ(pointer(), std::make_pair(kLeft + 20, kTop + 30));
    EXPECT_EQ(seen, (Events{{EVENT_MOUSE_ENTER, 0, 0, 20, 30}, {EVENT_MOUSE_MOVE, 0, 0, 20, 30}}));
    // Without a focused program window the coordinates are the screen's.
    FocusOn(other);
    PlacePointer(7, 9);
    Settle();
    EXPECT_EQ(pointer(), std::make_pair(7, 9));
}

TEST_F(X11Input, HidingThePointerBlanksItOnlyOverTheClientArea) {
    const Window none = None;
    X11BeginErrorTrap();
    HidePointer();
    HidePointer();
    EXPECT_EQ(X11BlankedWindow(), none);  // not over the client area yet
    MoveTo(kLeft + 5, kTop + 5);
    EXPECT_EQ(X11BlankedWindow(), window);
    ShowPointer();  // twice hidden, once shown: shown
    EXPECT_EQ(X11BlankedWindow(), none);
    HidePointer();
    EXPECT_EQ(X11BlankedWindow(), window);
    MoveTo(3, 3);  // leaving shows it again
    EXPECT_EQ(X11BlankedWindow(), none);
    MoveTo(kLeft + 6, kTop + 6);
    EXPECT_EQ(X11BlankedWindow(), window);
    ShowPointer();
    EXPECT_EQ(X11BlankedWindow(), none);
    EXPECT_EQ(X11EndErrorTrap(), 0);
}

// Hand-made events, translated directly.
class X11Translation : public X11Input {
protected:
    static XEvent Of(int type) {
        XEvent e{};
        e.xany.type = type;
        e.xany.display = d;
        e.xany.window = window;
        return e;
    }
    static XEvent KeyEvent(int type, KeySym ks, unsigned int state = 0) {
        XEvent e = Of(type);
        e.xkey.keycode = Code(ks);
        e.xkey.state = state;
        e.xkey.same_screen = True;
        return e;
    }
    static XEvent ButtonEvent(int type, unsigned int button, int x, int y) {
        XEvent e = Of(type);
        e.xbutton.button = button;
        e.xbutton.x = x;
        e.xbutton.y = y;
        return e;
    }
    static XEvent Motion(int x, int y, unsigned int state) {
        XEvent e = Of(MotionNotify);
        e.xmotion.x = x;
        e.xmotion.y = y;
        e.xmotion.state = state;
        return e;
    }
    static XEvent Focus(int type, int mode, int detail) {
        XEvent e = Of(type);
        e.xfocus.mode = mode;
        e.xfocus.detail = detail;
        return e;
    }
    // Translates the events in order and returns what they emitted.
    static Events Feed(std::initializer_list<XEvent> events, EventSource source = nullptr) {
        seen.clear();
        for (const XEvent& e : events) TranslateWindowMessage(e, source);
        return seen;
    }
    // The code of a press and release of ks, or -1 when nothing was emitted.
    static int32_t CodeOf(KeySym ks, unsigned int state = 0) {
        Feed({KeyEvent(KeyPress, ks, state), KeyEvent(KeyRelease, ks, state)});
        if (seen.empty()) return -1;
        EXPECT_EQ(seen.front().id, EVENT_KEY_DOWN);
        EXPECT_EQ(seen.back().id, EVENT_KEY_UP);
        EXPECT_EQ(seen.front().data, seen.back().data);
        return seen.front().data;
    }
};

TEST_F(X11Translation, KeysMapToWindowsVirtualKeyCodes) {
    const std::pair<KeySym, int32_t> table[] = {
        {XK_Escape, 27},
        {XK_space, 32},
        {XK_Return, 13},
        {XK_BackSpace, 8},
        {XK_Tab, 9},
        {XK_a, 65},
        {XK_z, 90},
        {XK_0, 48},
        {XK_9, 57},
        {XK_F1, 112},
        {XK_F12, 123},
        {XK_Left, 37},
        {XK_Up, 38},
        {XK_Right, 39},
        {XK_Down, 40},
        {XK_Prior, 33},
        {XK_Next, 34},
        {XK_End, 35},
        {XK_Home, 36},
        {XK_Insert, 45},
        {XK_Delete, 46},
        {XK_semicolon, 186},
        {XK_equal, 187},
        {XK_comma, 188},
        {XK_minus, 189},
        {XK_period, 190},
        {XK_slash, 191},
        {XK_grave, 192},
        {XK_bracketleft, 219},
        {XK_backslash, 220},
        {XK_bracketright, 221},
        {XK_apostrophe, 222},
        {XK_Caps_Lock, 20},
        {XK_Num_Lock, 144},
        {XK_Super_L, 91},
        {XK_Super_R, 92},
        {XK_Shift_L, 160},
        {XK_Shift_R, 161},
        {XK_Control_L, 162},
        {XK_Control_R, 163},
        {XK_Alt_L, 164},
        {XK_KP_Multiply, 106},
        {XK_KP_Add, 107},
        {XK_KP_Subtract, 109},
        {XK_KP_Divide, 111},
        {XK_KP_Enter, 13},
    };
    for (const auto& [ks, vk] : table) {
        if (Code(ks) == 0) {
            ADD_FAILURE() << "the test server has no key for keysym " << ks;
            continue;
        }
        EXPECT_EQ(CodeOf(ks), vk) << XKeysymToString(ks);
    }
    // Shifted or not, a key keeps its code.
    EXPECT_EQ(CodeOf(XK_1, ShiftMask), 49);
    EXPECT_EQ(CodeOf(XK_slash, ShiftMask), 191);
    EXPECT_EQ(modifierState, 0);
}

TEST_F(X11Translation, TheKeypadFollowsNumLock) {
    const unsigned int numLock = XkbKeysymToModifiers(d, XK_Num_Lock);
    ASSERT_NE(numLock, 0u);
    EXPECT_EQ(CodeOf(XK_KP_7), 36);  // Home without Num Lock
    EXPECT_EQ(CodeOf(XK_KP_7, numLock), 103);
    EXPECT_EQ(CodeOf(XK_KP_0, numLock), 96);
    EXPECT_EQ(CodeOf(XK_KP_2), 40);
    EXPECT_EQ(CodeOf(XK_KP_Delete, numLock), 110);  // the key that is Delete or decimal point
    EXPECT_EQ(CodeOf(XK_KP_Delete), 46);
    // A release reports the code of its press even if Num Lock changed between.
    EXPECT_EQ(Feed({KeyEvent(KeyPress, XK_KP_7, numLock), KeyEvent(KeyRelease, XK_KP_7, 0)}),
              (Events{{EVENT_KEY_DOWN, 103}, {EVENT_KEY_CHAR, '7'}, {EVENT_KEY_UP, 103}}));
}

TEST_F(X11Translation, KeysWithoutACodeOnlyTypeTheirText) {
    const KeySym ks = XK_less;  // the extra key of 105-key keyboards
    ASSERT_NE(Code(ks), 0);
    ASSERT_NE(XkbKeycodeToKeysym(d, Code(ks), 0, 0), static_cast<KeySym>(XK_comma));
    EXPECT_EQ(Feed({KeyEvent(KeyPress, ks), KeyEvent(KeyRelease, ks)}), (Events{{EVENT_KEY_CHAR, '<'}}));
    EXPECT_EQ(Feed({KeyEvent(KeyPress, ks, ShiftMask), KeyEvent(KeyRelease, ks, ShiftMask)}),
              (Events{{EVENT_KEY_CHAR, '>'}}));
    // Keys that type nothing and have no code emit nothing at all.
    if (Code(XK_Hyper_L) != 0) {
        EXPECT_EQ(Feed({KeyEvent(KeyPress, XK_Hyper_L), KeyEvent(KeyRelease, XK_Hyper_L)}), Events{});
    }
    XEvent e = KeyEvent(KeyPress, XK_a);
    e.xkey.display = nullptr;  // nothing to look the key up with
    EXPECT_EQ(Feed({e}), Events{});
}

TEST_F(X11Translation, ModifierBitsAreRebuiltFromTheModifierKeys) {
    EXPECT_EQ(Feed({KeyEvent(KeyPress, XK_Shift_L), KeyEvent(KeyPress, XK_Shift_R),
                    KeyEvent(KeyRelease, XK_Shift_L),  // right shift still held
                    KeyEvent(KeyPress, XK_Super_R), ButtonEvent(ButtonPress, Button1, 3, 4),
                    KeyEvent(KeyRelease, XK_Shift_R), KeyEvent(KeyRelease, XK_Super_R),
                    ButtonEvent(ButtonRelease, Button1, 3, 4)}),
              (Events{{EVENT_KEY_DOWN, 160, 1},
                      {EVENT_KEY_DOWN, 161, 1},
                      {EVENT_KEY_UP, 160, 1},
                      {EVENT_KEY_DOWN, 92, 9},
                      {EVENT_MOUSE_DOWN, 1, 9, 3, 4},
                      {EVENT_KEY_UP, 161, 8},
                      {EVENT_KEY_UP, 92, 0},
                      {EVENT_MOUSE_UP, 1, 0, 3, 4}}));
}

TEST_F(X11Translation, MoveDataTellsTheHeldButtonsLastTestWinning) {
    const std::pair<unsigned int, int32_t> table[] = {
        {0, 0},
        {Button1Mask, 1},
        {Button2Mask, 4},
        {Button3Mask, 2},
        {Button1Mask | Button2Mask, 4},
        {Button1Mask | Button3Mask, 2},
        {Button1Mask | Button2Mask | Button3Mask, 2},
        {ShiftMask | Button4Mask, 0},
    };
    for (const auto& [state, data] : table) {
        ASSERT_FALSE(Feed({Motion(7, 8, state)}).empty());
        EXPECT_EQ(seen.back(), (Seen{EVENT_MOUSE_MOVE, data, 0, 7, 8})) << state;
    }
}

TEST_F(X11Translation, TrackingFollowsTheClientRectangle) {
    EXPECT_EQ(Feed({Motion(0, 0, 0), Motion(kWidth - 1, kHeight - 1, 0),
                    Motion(kWidth, 10, Button1Mask),  // just outside
                    Motion(-1, 10, Button1Mask), Motion(10, kHeight - 1, 0)}),
              (Events{{EVENT_MOUSE_ENTER, 0, 0, 0, 0},
                      {EVENT_MOUSE_MOVE, 0, 0, 0, 0},
                      {EVENT_MOUSE_MOVE, 0, 0, kWidth - 1, kHeight - 1},
                      {EVENT_MOUSE_LEAVE, 0, 0, kWidth, 10},
                      {EVENT_MOUSE_MOVE, 1, 0, kWidth, 10},
                      {EVENT_MOUSE_MOVE, 1, 0, -1, 10},
                      {EVENT_MOUSE_ENTER, 0, 0, 10, kHeight - 1},
                      {EVENT_MOUSE_MOVE, 0, 0, 10, kHeight - 1}}));
    // Leave notices of grabs and ungrabs change nothing; a plain one leaves, once.
    auto leave = [](int mode) {
        XEvent e = Of(LeaveNotify);
        e.xcrossing.x = -4;
        e.xcrossing.y = 9;
        e.xcrossing.detail = NotifyAncestor;
        e.xcrossing.mode = mode;
        return e;
    };
    EXPECT_EQ(Feed({leave(NotifyGrab), leave(NotifyUngrab)}), Events{});
    EXPECT_EQ(Feed({leave(NotifyNormal), leave(NotifyNormal)}), (Events{{EVENT_MOUSE_LEAVE, 0, 0, -4, 9}}));
}

TEST_F(X11Translation, FocusChangesOfGrabsAndChildrenAreNotActivations) {
    EXPECT_EQ(Feed({Focus(FocusOut, NotifyGrab, NotifyNonlinear), Focus(FocusIn, NotifyUngrab, NotifyNonlinear),
                    Focus(FocusOut, NotifyNormal, NotifyInferior), Focus(FocusIn, NotifyNormal, NotifyPointer)}),
              Events{});
    Feed({Focus(FocusOut, NotifyNormal, NotifyNonlinear), Focus(FocusIn, NotifyNormal, NotifyAncestor),
          Focus(FocusOut, NotifyWhileGrabbed, NotifyNonlinearVirtual)});
    EXPECT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_APP_SUSPEND, EVENT_APP_RESUME, EVENT_APP_SUSPEND}));
    Feed({Focus(FocusIn, NotifyNormal, NotifyNonlinear)});
}

TEST_F(X11Translation, OnlyTheDeleteProtocolIsACloseRequest) {
    XEvent takeFocus = CloseRequest(d, window);
    takeFocus.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_TAKE_FOCUS", False));
    XEvent otherMessage = CloseRequest(d, window);
    otherMessage.xclient.message_type = XInternAtom(d, "SOMETHING_ELSE", False);
    EXPECT_EQ(Feed({takeFocus, otherMessage}), Events{});
    int source = 0;
    Feed({CloseRequest(d, window)}, &source);
    EXPECT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_APP_TERMINATE}));
}

TEST_F(X11Translation, EventsCarryTheirSource) {
    // A source other than the graphics window's is not counted when polled
    // input listens to one source only.
    StopPolledInput();
    int mine = 0;
    StartPolledInput(&mine);
    Feed({ButtonEvent(ButtonPress, Button1, 1, 1)});
    Feed({ButtonEvent(ButtonPress, Button3, 1, 1)}, &mine);
    EXPECT_EQ(MouseHitCount(1), 0);
    EXPECT_EQ(MouseHitCount(2), 1);
    Feed({ButtonEvent(ButtonRelease, Button1, 1, 1)});
    Feed({ButtonEvent(ButtonRelease, Button3, 1, 1)}, &mine);
    StopPolledInput();
    StartPolledInput(nullptr);
}

}  // namespace
