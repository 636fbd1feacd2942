// The X11 system driver against a private X server: real input injected with
// XTest, and hand-made X events for the translation table.
#include <gtest/gtest.h>  // before Xlib, whose macros (None, Bool) clash with it

#include "tests/support/xvfb.h"

#include "system/polled_input.h"
#include "system/x11/x11_internal.h"
#include "system/x11/x11_platform.h"
#include "system/x11/x11_system.h"

#include <X11/XKBlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

static auto* const kXvfb = RegisterXvfbEnvironment();

namespace {

struct Seen {
    int32_t id, data, mods, x, y;
};

bool operator==(const Seen& a, const Seen& b) {
    return a.id == b.id && a.data == b.data && a.mods == b.mods && a.x == b.x && a.y == b.y;
}

std::ostream& operator<<(std::ostream& out, const Seen& s) {
    return out << MakeEvent(s.id, nullptr, s.data, s.mods, s.x, s.y)->ToString();
}

std::vector<Seen> seen;

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
int mapped = 0;

void WindowProc(XEvent& event, void*) {
    if (event.type == MapNotify) ++mapped;
    TranslateWindowMessage(event, nullptr);
}

// Lets the server act on everything sent so far, then pumps what it answered.
void Settle() {
    XSync(d, False);
    PumpMessages();
}

// Pumps until pred holds; gives up after a few seconds so a fault fails
// instead of hanging.
bool PumpUntil(const std::function<bool()>& pred) {
    const int32_t start = CurrentMillis();
    while (!pred()) {
        if (MillisBetween(start, CurrentMillis()) > 5000) return false;
        Settle();
        SleepMillis(2);
    }
    return true;
}

KeyCode Code(KeySym ks) { return XKeysymToKeycode(d, ks); }

void Key(KeySym ks, bool down) {
    ASSERT_NE(Code(ks), 0) << "no key for keysym " << ks;
    XTestFakeKeyEvent(d, Code(ks), down, CurrentTime);
    Settle();
}

void Tap(KeySym ks) {
    Key(ks, true);
    Key(ks, false);
}

void Click(unsigned int button, bool down) {
    XTestFakeButtonEvent(d, button, down, CurrentTime);
    Settle();
}

// Moves the pointer to screen coordinates.
void MoveTo(int x, int y) {
    XTestFakeMotionEvent(d, -1, x, y, CurrentTime);
    Settle();
}

void FocusOn(Window w) {
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    Settle();
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
        window = XCreateWindow(d, root, kLeft, kTop, kWidth, kHeight, 0, CopyFromParent, InputOutput,
                               CopyFromParent, CWEventMask, &attributes);
        Atom deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(d, window, &deleteWindow, 1);
        X11RegisterWindow(window, WindowProc, nullptr);
        attributes.event_mask = StructureNotifyMask;
        other = XCreateWindow(d, root, 600, 600, 50, 50, 0, CopyFromParent, InputOutput, CopyFromParent,
                              CWEventMask, &attributes);
        XMapWindow(d, other);
        XMapWindow(d, window);
        ASSERT_TRUE(PumpUntil([] { return mapped > 0; }));
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
        MoveTo(10, 10);  // outside the window
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
    EXPECT_EQ(seen, (std::vector<Seen>{
                        {EVENT_KEY_DOWN, 160, 1, 0, 0},
                        {EVENT_KEY_DOWN, 65, 1, 0, 0},
                        {EVENT_KEY_CHAR, 'A', 1, 0, 0},
                        {EVENT_KEY_UP, 65, 1, 0, 0},
                        {EVENT_KEY_UP, 160, 0, 0, 0},
                        {EVENT_KEY_DOWN, 27, 0, 0, 0},
                        {EVENT_KEY_CHAR, 27, 0, 0, 0},
                        {EVENT_KEY_UP, 27, 0, 0, 0},
                    }));
    EXPECT_EQ(KeyHitCount(160), 1);
    EXPECT_EQ(KeyHitCount(65), 1);
    EXPECT_EQ(KeyHitCount(27), 1);
    EXPECT_EQ(NextChar(), 'A');
    EXPECT_EQ(NextChar(), 27);
    EXPECT_EQ(NextChar(), 0);

    seen.clear();
    Key(XK_Control_R, true);
    Key(XK_Alt_L, true);
    Tap(XK_c);
    Key(XK_Alt_L, false);
    Key(XK_Control_R, false);
    Key(XK_Super_L, true);
    EXPECT_EQ(IsKeyDown(91), 1);
    Key(XK_Super_L, false);
    ASSERT_EQ(seen.size(), 9u);
    EXPECT_EQ(seen[0], (Seen{EVENT_KEY_DOWN, 163, 2, 0, 0}));
    EXPECT_EQ(seen[1], (Seen{EVENT_KEY_DOWN, 164, 6, 0, 0}));
    EXPECT_EQ(seen[2], (Seen{EVENT_KEY_DOWN, 67, 6, 0, 0}));
    EXPECT_EQ(seen[3], (Seen{EVENT_KEY_CHAR, 3, 6, 0, 0}));  // control-C types 3
    EXPECT_EQ(seen[4], (Seen{EVENT_KEY_UP, 67, 6, 0, 0}));
    EXPECT_EQ(seen[5], (Seen{EVENT_KEY_UP, 164, 2, 0, 0}));
    EXPECT_EQ(seen[6], (Seen{EVENT_KEY_UP, 163, 0, 0, 0}));
    EXPECT_EQ(seen[7], (Seen{EVENT_KEY_DOWN, 91, 8, 0, 0}));
    EXPECT_EQ(seen[8], (Seen{EVENT_KEY_UP, 91, 0, 0, 0}));
}

TEST_F(X11Input, RightAltAndAltGrAreRightAlt) {
    for (KeySym ks : {KeySym(XK_Alt_R), KeySym(XK_ISO_Level3_Shift)}) {
        if (Code(ks) == 0) continue;
        seen.clear();
        Key(ks, true);
        Key(ks, false);
        ASSERT_EQ(seen.size(), 2u) << ks;
        EXPECT_EQ(seen[0], (Seen{EVENT_KEY_DOWN, 165, 4, 0, 0}));
        EXPECT_EQ(seen[1], (Seen{EVENT_KEY_UP, 165, 0, 0, 0}));
    }
}

// Holds space until the server has repeated it a few times; checks that the
// repeats come as "KeyRepeat" (with their characters) and that the key counts once.
void HoldSpaceAndCheckRepeats() {
    seen.clear();
    Key(XK_space, true);
    auto repeats = [] {
        int n = 0;
        for (const auto& s : seen) n += s.id == EVENT_KEY_REPEAT;
        return n;
    };
    ASSERT_TRUE(PumpUntil([&] { return repeats() >= 3; }));
    Key(XK_space, false);
    ASSERT_GE(seen.size(), 4u);
    EXPECT_EQ(seen.front(), (Seen{EVENT_KEY_DOWN, 32, 0, 0, 0}));
    EXPECT_EQ(seen.back(), (Seen{EVENT_KEY_UP, 32, 0, 0, 0}));
    for (size_t i = 1; i + 1 < seen.size(); ++i) {
        if (seen[i].id == EVENT_KEY_CHAR) {
            EXPECT_EQ(seen[i].data, 32);
            EXPECT_TRUE(seen[i - 1].id == EVENT_KEY_DOWN || seen[i - 1].id == EVENT_KEY_REPEAT);
        } else {
            EXPECT_EQ(seen[i], (Seen{EVENT_KEY_REPEAT, 32, 0, 0, 0})) << i;
        }
    }
    EXPECT_EQ(KeyHitCount(32), 1);
    EXPECT_EQ(IsKeyDown(32), 0);
}

TEST_F(X11Input, AHeldKeyRepeatsAsKeyRepeat) { HoldSpaceAndCheckRepeats(); }

TEST_F(X11Input, RepeatsArePairedUpWhenTheServerSendsReleasesBetweenThem) {
    Bool supported = False;
    XkbSetDetectableAutoRepeat(d, False, &supported);
    HoldSpaceAndCheckRepeats();
    XkbSetDetectableAutoRepeat(d, True, &supported);
}

TEST_F(X11Input, ButtonsWheelAndEnteringTheWindow) {
    MoveTo(kLeft + 50, kTop + 60);
    Click(Button1, true);
    Click(Button1, false);
    Click(Button3, true);
    Click(Button3, false);
    Click(Button2, true);
    Click(Button2, false);
    Click(Button4, true);
    Click(Button4, false);
    Click(Button5, true);
    Click(Button5, false);
    Click(Button5, true);
    Click(Button5, false);
    Click(8, true);  // a side button: nothing
    Click(8, false);
    EXPECT_EQ(seen, (std::vector<Seen>{
                        {EVENT_MOUSE_ENTER, 0, 0, 50, 60},
                        {EVENT_MOUSE_MOVE, 0, 0, 50, 60},
                        {EVENT_MOUSE_DOWN, 1, 0, 50, 60},
                        {EVENT_MOUSE_UP, 1, 0, 50, 60},
                        {EVENT_MOUSE_DOWN, 2, 0, 50, 60},
                        {EVENT_MOUSE_UP, 2, 0, 50, 60},
                        {EVENT_MOUSE_DOWN, 3, 0, 50, 60},
                        {EVENT_MOUSE_UP, 3, 0, 50, 60},
                        {EVENT_MOUSE_WHEEL, 1, 0, 50, 60},
                        {EVENT_MOUSE_WHEEL, -1, 0, 50, 60},
                        {EVENT_MOUSE_WHEEL, -1, 0, 50, 60},
                    }));
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
    Click(Button1, true);
    Click(Button1, false);
    Key(XK_Shift_R, false);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1], (Seen{EVENT_MOUSE_DOWN, 1, 1, 50, 60}));
    EXPECT_EQ(seen[2], (Seen{EVENT_MOUSE_UP, 1, 1, 50, 60}));
}

TEST_F(X11Input, LeavingTheWindowEmitsMouseLeave) {
    MoveTo(kLeft + 10, kTop + 10);
    MoveTo(kLeft + 20, kTop + 15);
    MoveTo(5, 5);
    EXPECT_EQ(seen, (std::vector<Seen>{
                        {EVENT_MOUSE_ENTER, 0, 0, 10, 10},
                        {EVENT_MOUSE_MOVE, 0, 0, 10, 10},
                        {EVENT_MOUSE_MOVE, 0, 0, 20, 15},
                        {EVENT_MOUSE_LEAVE, 0, 0, 5 - kLeft, 5 - kTop},
                    }));
    EXPECT_EQ(TrackedWindow(), static_cast<Window>(None));
}

TEST_F(X11Input, ADragKeepsReportingOutsideTheWindow) {
    MoveTo(kLeft + 50, kTop + 60);
    Click(Button1, true);
    MoveTo(kLeft + 300, kTop + 250);
    Click(Button3, true);
    MoveTo(kLeft + 310, kTop + 250);
    Click(Button3, false);
    Click(Button1, false);
    MoveTo(kLeft + 40, kTop + 40);
    const std::vector<int32_t> ids = SeenIds();
    ASSERT_EQ(ids, (std::vector<int32_t>{EVENT_MOUSE_ENTER, EVENT_MOUSE_MOVE, EVENT_MOUSE_DOWN, EVENT_MOUSE_LEAVE,
                                         EVENT_MOUSE_MOVE, EVENT_MOUSE_DOWN, EVENT_MOUSE_MOVE, EVENT_MOUSE_UP,
                                         EVENT_MOUSE_UP, EVENT_MOUSE_ENTER, EVENT_MOUSE_MOVE}));
    EXPECT_EQ(seen[4], (Seen{EVENT_MOUSE_MOVE, 1, 0, 300, 250}));  // left held
    EXPECT_EQ(seen[6], (Seen{EVENT_MOUSE_MOVE, 2, 0, 310, 250}));  // left and right: right wins
    EXPECT_EQ(seen[8], (Seen{EVENT_MOUSE_UP, 1, 0, 310, 250}));
    EXPECT_EQ(seen[9], (Seen{EVENT_MOUSE_ENTER, 0, 0, 40, 40}));
    EXPECT_EQ(PointerX(), 40);
}

TEST_F(X11Input, TheCloseBoxAsksToTerminateAndTheWindowStays) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = window;
    message.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    message.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, window, False, NoEventMask, &message);
    Settle();
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_APP_TERMINATE, 0, 0, 0, 0}}));
    EXPECT_EQ(TerminateRequested(), 1);
    EXPECT_EQ(TerminateRequested(), 0);
    XWindowAttributes attributes{};
    X11BeginErrorTrap();
    ASSERT_NE(XGetWindowAttributes(d, window, &attributes), 0);
    EXPECT_EQ(X11EndErrorTrap(), 0);
    EXPECT_EQ(attributes.map_state, IsViewable);
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
    Key(XK_b, true);
    Key(XK_b, false);
    EXPECT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_KEY_DOWN, EVENT_KEY_CHAR, EVENT_APP_SUSPEND, EVENT_APP_RESUME,
                                               EVENT_KEY_DOWN, EVENT_KEY_CHAR, EVENT_KEY_UP}));
    EXPECT_EQ(KeyHitCount(66), 1);
}

TEST_F(X11Input, PlacePointerWarpsInTheFocusedWindow) {
    PlacePointer(20, 30);
    Settle();
    Window root, child;
    int rx = 0, ry = 0, wx = 0, wy = 0;
    unsigned int mask = 0;
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
    EXPECT_EQ(rx, kLeft + 20);
    EXPECT_EQ(ry, kTop + 30);
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_MOUSE_ENTER, 0, 0, 20, 30}, {EVENT_MOUSE_MOVE, 0, 0, 20, 30}}));
    // Without a focused program window the coordinates are the screen's.
    FocusOn(other);
    PlacePointer(7, 9);
    Settle();
    XQueryPointer(d, DefaultRootWindow(d), &root, &child, &rx, &ry, &wx, &wy, &mask);
    EXPECT_EQ(rx, 7);
    EXPECT_EQ(ry, 9);
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

TEST_F(X11Input, AWaitingMainThreadWakesForAPostedCall) {
    std::atomic<bool> ran{false};
    std::thread poster([&] {
        SleepMillis(30);
        RunOnMainThread([&] { ran = true; });
    });
    while (!ran) WaitForMessages();
    poster.join();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(seen.empty());
}

TEST_F(X11Input, AWaitReturnsForEventsXlibHasAlreadyRead) {
    // Put an event into Xlib's own queue: the socket is then empty, and a
    // wait that only watched the socket would sleep until the watchdog.
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.window = window;
    message.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    XSendEvent(d, window, False, NoEventMask, &message);
    XSync(d, False);
    ASSERT_GT(XEventsQueued(d, QueuedAlready), 0);
    std::atomic<bool> watchdog{false};
    std::atomic<bool> done{false};
    std::thread timer([&] {
        for (int i = 0; i < 500 && !done; ++i) SleepMillis(10);
        if (!done) RunOnMainThread([&] { watchdog = true; });
    });
    WaitForMessages();
    done = true;
    timer.join();
    PumpMessages();
    EXPECT_FALSE(watchdog);
    EXPECT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_APP_TERMINATE}));
}

// Hand-made events, translated directly.
class X11Translation : public X11Input {
protected:
    XEvent KeyEvent(int type, KeySym ks, unsigned int state = 0) {
        XEvent e{};
        e.xkey.type = type;
        e.xkey.display = d;
        e.xkey.window = window;
        e.xkey.keycode = Code(ks);
        e.xkey.state = state;
        e.xkey.same_screen = True;
        return e;
    }
    // The code of a press and release of ks, or -1 when nothing was emitted.
    int32_t CodeOf(KeySym ks, unsigned int state = 0) {
        seen.clear();
        TranslateWindowMessage(KeyEvent(KeyPress, ks, state), nullptr);
        TranslateWindowMessage(KeyEvent(KeyRelease, ks, state), nullptr);
        if (seen.empty()) return -1;
        EXPECT_EQ(seen.front().id, EVENT_KEY_DOWN);
        EXPECT_EQ(seen.back().id, EVENT_KEY_UP);
        EXPECT_EQ(seen.front().data, seen.back().data);
        return seen.front().data;
    }
    XEvent ButtonEvent(int type, unsigned int button, int x, int y) {
        XEvent e{};
        e.xbutton.type = type;
        e.xbutton.display = d;
        e.xbutton.window = window;
        e.xbutton.button = button;
        e.xbutton.x = x;
        e.xbutton.y = y;
        return e;
    }
    XEvent Motion(int x, int y, unsigned int state) {
        XEvent e{};
        e.xmotion.type = MotionNotify;
        e.xmotion.display = d;
        e.xmotion.window = window;
        e.xmotion.x = x;
        e.xmotion.y = y;
        e.xmotion.state = state;
        return e;
    }
    XEvent Focus(int type, int mode, int detail) {
        XEvent e{};
        e.xfocus.type = type;
        e.xfocus.display = d;
        e.xfocus.window = window;
        e.xfocus.mode = mode;
        e.xfocus.detail = detail;
        return e;
    }
};

TEST_F(X11Translation, KeysMapToWindowsVirtualKeyCodes) {
    const std::pair<KeySym, int32_t> table[] = {
        {XK_Escape, 27},      {XK_space, 32},        {XK_Return, 13},      {XK_BackSpace, 8},
        {XK_Tab, 9},          {XK_a, 65},            {XK_z, 90},           {XK_0, 48},
        {XK_9, 57},           {XK_F1, 112},          {XK_F12, 123},        {XK_Left, 37},
        {XK_Up, 38},          {XK_Right, 39},        {XK_Down, 40},        {XK_Prior, 33},
        {XK_Next, 34},        {XK_End, 35},          {XK_Home, 36},        {XK_Insert, 45},
        {XK_Delete, 46},      {XK_semicolon, 186},   {XK_equal, 187},      {XK_comma, 188},
        {XK_minus, 189},      {XK_period, 190},      {XK_slash, 191},      {XK_grave, 192},
        {XK_bracketleft, 219}, {XK_backslash, 220},  {XK_bracketright, 221}, {XK_apostrophe, 222},
        {XK_Caps_Lock, 20},   {XK_Num_Lock, 144},    {XK_Super_L, 91},     {XK_Super_R, 92},
        {XK_Shift_L, 160},    {XK_Shift_R, 161},     {XK_Control_L, 162},  {XK_Control_R, 163},
        {XK_Alt_L, 164},      {XK_KP_Multiply, 106}, {XK_KP_Add, 107},     {XK_KP_Subtract, 109},
        {XK_KP_Divide, 111},  {XK_KP_Enter, 13},
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
    seen.clear();
    TranslateWindowMessage(KeyEvent(KeyPress, XK_KP_7, numLock), nullptr);
    TranslateWindowMessage(KeyEvent(KeyRelease, XK_KP_7, 0), nullptr);
    ASSERT_EQ(seen.size(), 3u);  // down, char '7', up
    EXPECT_EQ(seen[0], (Seen{EVENT_KEY_DOWN, 103, 0, 0, 0}));
    EXPECT_EQ(seen[1], (Seen{EVENT_KEY_CHAR, '7', 0, 0, 0}));
    EXPECT_EQ(seen[2], (Seen{EVENT_KEY_UP, 103, 0, 0, 0}));
}

TEST_F(X11Translation, KeysWithoutACodeOnlyTypeTheirText) {
    const KeySym ks = XK_less;  // the extra key of 105-key keyboards
    ASSERT_NE(Code(ks), 0);
    ASSERT_NE(XkbKeycodeToKeysym(d, Code(ks), 0, 0), static_cast<KeySym>(XK_comma));
    seen.clear();
    TranslateWindowMessage(KeyEvent(KeyPress, ks), nullptr);
    TranslateWindowMessage(KeyEvent(KeyRelease, ks), nullptr);
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_KEY_CHAR, '<', 0, 0, 0}}));
    seen.clear();
    TranslateWindowMessage(KeyEvent(KeyPress, ks, ShiftMask), nullptr);
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_KEY_CHAR, '>', 0, 0, 0}}));
    TranslateWindowMessage(KeyEvent(KeyRelease, ks, ShiftMask), nullptr);
    // Keys that type nothing and have no code emit nothing at all.
    const KeyCode quiet = XKeysymToKeycode(d, XK_Hyper_L);
    if (quiet != 0) {
        seen.clear();
        XEvent e = KeyEvent(KeyPress, XK_Hyper_L);
        TranslateWindowMessage(e, nullptr);
        e.xkey.type = KeyRelease;
        TranslateWindowMessage(e, nullptr);
        EXPECT_TRUE(seen.empty());
    }
    XEvent e = KeyEvent(KeyPress, XK_a);
    e.xkey.display = nullptr;  // nothing to look the key up with
    seen.clear();
    TranslateWindowMessage(e, nullptr);
    EXPECT_TRUE(seen.empty());
}

TEST_F(X11Translation, APressOfAHeldKeyIsARepeatAndTypesAgain) {
    seen.clear();
    TranslateWindowMessage(KeyEvent(KeyPress, XK_x), nullptr);
    TranslateWindowMessage(KeyEvent(KeyPress, XK_x), nullptr);
    TranslateWindowMessage(KeyEvent(KeyRelease, XK_x), nullptr);
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_KEY_DOWN, 88, 0, 0, 0},
                                       {EVENT_KEY_CHAR, 'x', 0, 0, 0},
                                       {EVENT_KEY_REPEAT, 88, 0, 0, 0},
                                       {EVENT_KEY_CHAR, 'x', 0, 0, 0},
                                       {EVENT_KEY_UP, 88, 0, 0, 0}}));
}

TEST_F(X11Translation, ModifierBitsAreRebuiltFromTheModifierKeys) {
    seen.clear();
    TranslateWindowMessage(KeyEvent(KeyPress, XK_Shift_L), nullptr);
    TranslateWindowMessage(KeyEvent(KeyPress, XK_Shift_R), nullptr);
    TranslateWindowMessage(KeyEvent(KeyRelease, XK_Shift_L), nullptr);  // right shift still held
    TranslateWindowMessage(KeyEvent(KeyPress, XK_Super_R), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonPress, Button1, 3, 4), nullptr);
    TranslateWindowMessage(KeyEvent(KeyRelease, XK_Shift_R), nullptr);
    TranslateWindowMessage(KeyEvent(KeyRelease, XK_Super_R), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonRelease, Button1, 3, 4), nullptr);
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_KEY_DOWN, 160, 1, 0, 0},
                                       {EVENT_KEY_DOWN, 161, 1, 0, 0},
                                       {EVENT_KEY_UP, 160, 1, 0, 0},
                                       {EVENT_KEY_DOWN, 92, 9, 0, 0},
                                       {EVENT_MOUSE_DOWN, 1, 9, 3, 4},
                                       {EVENT_KEY_UP, 161, 8, 0, 0},
                                       {EVENT_KEY_UP, 92, 0, 0, 0},
                                       {EVENT_MOUSE_UP, 1, 0, 3, 4}}));
}

TEST_F(X11Translation, ButtonsAndTheWheel) {
    seen.clear();
    TranslateWindowMessage(ButtonEvent(ButtonPress, Button2, 1, 2), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonRelease, Button2, 1, 2), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonPress, Button4, 5, 6), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonRelease, Button4, 5, 6), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonPress, Button5, 5, 6), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonPress, 6, 5, 6), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonPress, 9, 5, 6), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonRelease, 9, 5, 6), nullptr);
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_MOUSE_DOWN, 3, 0, 1, 2},
                                       {EVENT_MOUSE_UP, 3, 0, 1, 2},
                                       {EVENT_MOUSE_WHEEL, 1, 0, 5, 6},
                                       {EVENT_MOUSE_WHEEL, -1, 0, 5, 6}}));
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
        seen.clear();
        TranslateWindowMessage(Motion(7, 8, state), nullptr);
        ASSERT_FALSE(seen.empty());
        EXPECT_EQ(seen.back(), (Seen{EVENT_MOUSE_MOVE, data, 0, 7, 8})) << state;
    }
}

TEST_F(X11Translation, TrackingFollowsTheClientRectangle) {
    seen.clear();
    TranslateWindowMessage(Motion(0, 0, 0), nullptr);
    TranslateWindowMessage(Motion(kWidth - 1, kHeight - 1, 0), nullptr);
    TranslateWindowMessage(Motion(kWidth, 10, Button1Mask), nullptr);  // just outside
    TranslateWindowMessage(Motion(-1, 10, Button1Mask), nullptr);
    TranslateWindowMessage(Motion(10, kHeight - 1, 0), nullptr);
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_MOUSE_ENTER, 0, 0, 0, 0},
                                       {EVENT_MOUSE_MOVE, 0, 0, 0, 0},
                                       {EVENT_MOUSE_MOVE, 0, 0, kWidth - 1, kHeight - 1},
                                       {EVENT_MOUSE_LEAVE, 0, 0, kWidth, 10},
                                       {EVENT_MOUSE_MOVE, 1, 0, kWidth, 10},
                                       {EVENT_MOUSE_MOVE, 1, 0, -1, 10},
                                       {EVENT_MOUSE_ENTER, 0, 0, 10, kHeight - 1},
                                       {EVENT_MOUSE_MOVE, 0, 0, 10, kHeight - 1}}));
    // Leave notices of grabs and ungrabs change nothing; a plain one leaves.
    seen.clear();
    XEvent leave{};
    leave.xcrossing.type = LeaveNotify;
    leave.xcrossing.display = d;
    leave.xcrossing.window = window;
    leave.xcrossing.x = -4;
    leave.xcrossing.y = 9;
    leave.xcrossing.detail = NotifyAncestor;
    for (int mode : {NotifyGrab, NotifyUngrab}) {
        leave.xcrossing.mode = mode;
        TranslateWindowMessage(leave, nullptr);
    }
    EXPECT_TRUE(seen.empty());
    leave.xcrossing.mode = NotifyNormal;
    TranslateWindowMessage(leave, nullptr);
    TranslateWindowMessage(leave, nullptr);  // no longer tracked: nothing
    EXPECT_EQ(seen, (std::vector<Seen>{{EVENT_MOUSE_LEAVE, 0, 0, -4, 9}}));
}

TEST_F(X11Translation, FocusChangesOfGrabsAndChildrenAreNotActivations) {
    seen.clear();
    TranslateWindowMessage(Focus(FocusOut, NotifyGrab, NotifyNonlinear), nullptr);
    TranslateWindowMessage(Focus(FocusIn, NotifyUngrab, NotifyNonlinear), nullptr);
    TranslateWindowMessage(Focus(FocusOut, NotifyNormal, NotifyInferior), nullptr);
    TranslateWindowMessage(Focus(FocusIn, NotifyNormal, NotifyPointer), nullptr);
    EXPECT_TRUE(seen.empty());
    TranslateWindowMessage(Focus(FocusOut, NotifyNormal, NotifyNonlinear), nullptr);
    TranslateWindowMessage(Focus(FocusIn, NotifyNormal, NotifyAncestor), nullptr);
    TranslateWindowMessage(Focus(FocusOut, NotifyWhileGrabbed, NotifyNonlinearVirtual), nullptr);
    EXPECT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_APP_SUSPEND, EVENT_APP_RESUME, EVENT_APP_SUSPEND}));
    TranslateWindowMessage(Focus(FocusIn, NotifyNormal, NotifyNonlinear), nullptr);
}

TEST_F(X11Translation, OnlyTheDeleteProtocolIsACloseRequest) {
    XEvent message{};
    message.xclient.type = ClientMessage;
    message.xclient.display = d;
    message.xclient.window = window;
    message.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    message.xclient.format = 32;
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_TAKE_FOCUS", False));
    seen.clear();
    TranslateWindowMessage(message, nullptr);
    message.xclient.message_type = XInternAtom(d, "SOMETHING_ELSE", False);
    message.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    TranslateWindowMessage(message, nullptr);
    EXPECT_TRUE(seen.empty());
    message.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    int source = 0;
    TranslateWindowMessage(message, &source);
    EXPECT_EQ(SeenIds(), (std::vector<int32_t>{EVENT_APP_TERMINATE}));
}

TEST_F(X11Translation, EventsCarryTheirSource) {
    // A source other than the graphics window's is not counted when polled
    // input listens to one source only.
    StopPolledInput();
    int mine = 0;
    StartPolledInput(&mine);
    TranslateWindowMessage(ButtonEvent(ButtonPress, Button1, 1, 1), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonPress, Button3, 1, 1), &mine);
    EXPECT_EQ(MouseHitCount(1), 0);
    EXPECT_EQ(MouseHitCount(2), 1);
    TranslateWindowMessage(ButtonEvent(ButtonRelease, Button1, 1, 1), nullptr);
    TranslateWindowMessage(ButtonEvent(ButtonRelease, Button3, 1, 1), &mine);
    StopPolledInput();
    StartPolledInput(nullptr);
}

}  // namespace
