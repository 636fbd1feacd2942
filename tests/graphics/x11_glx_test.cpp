// The GLX windows-and-contexts layer on a private Xvfb with Mesa's software
// renderer: windows as the server sees them, framebuffer configs, frames on
// screen, swap-interval bookkeeping, close requests, attach, display modes and
// the failure paths.

// GoogleTest first: Xlib's macros (None, Bool, Status) break its headers.
#include <gtest/gtest.h>

#include "tests/support/x11_helpers.h"
#include "tests/support/xvfb.h"

#include "graphics/gl_platform.h"
#include "graphics/x11/glx_internal.h"
#include "runtime/errors.h"
#include "runtime/startup.h"
#include "system/event.h"
#include "system/hook.h"
#include "system/system_driver.h"
#include "system/x11/x11_platform.h"

#include <GL/gl.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

static auto* const kXvfb = RegisterXvfbEnvironment();

namespace {

// The text of an 8-bit property (empty when absent).
std::string TextProperty(Display* d, Window w, const char* name, Atom type) {
    Atom actualType;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 1024, False, type, &actualType, &format, &count,
                           &after, &data) == Success &&
        data) {
        if (format == 8) text.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return text;
}

// Width, height, depth, hertz and flags as the record reports them.
using Settings = std::array<int32_t, 5>;
Settings SettingsOf(GLContextRecord* record) {
    const GLContextSettings s = ReadContextSettings(record);
    return {s.width, s.height, s.depth, s.hertz, s.flags};
}

// The record's buffers, each 0 or 1: double, alpha, depth, stencil, accumulation.
using Buffers = std::array<int, 5>;
Buffers BuffersOf(GLContextRecord* record) {
    const GLXRecordInfo i = GLXInspectRecord(record);
    return {i.doubleBuffer, i.alphaSize > 0, i.depthSize > 0, i.stencilSize > 0, i.accumRedSize > 0};
}

// Clears the current context to a colour and shows it.
void DrawFrame(float r, float g, float b) {
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    SwapContextBuffers(0);
    glFinish();
    XSync(X11Display(), False);
}

// Pumps until done() holds (bounded).
bool PumpUntil(const std::function<bool()>& done) { return WaitUntil(done, PumpMessages); }

// How many times id is in ids.
size_t Count(const std::vector<int32_t>& ids, int32_t id) {
    return static_cast<size_t>(std::count(ids.begin(), ids.end(), id));
}

// Ids of the events emitted while WatchEvents is installed; and a record it
// destroys the moment a close request arrives.
std::vector<int32_t> gEventIds;
GLContextRecord* gCloseOnTerminate = nullptr;
HookData WatchEvents(int32_t, HookData data, const HookContext&) {
    auto event = std::dynamic_pointer_cast<TEvent>(data);
    if (!event) return data;
    gEventIds.push_back(event->id);
    if (event->id == EVENT_APP_TERMINATE && gCloseOnTerminate)
        DestroyWindowContext(std::exchange(gCloseOnTerminate, nullptr));
    return data;
}

}  // namespace

// Looks at the program's windows through a connection of its own, as any
// other client would.
class Glx : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(d, nullptr); }
    static Window WindowOf(GLContextRecord* record) { return GLXInspectRecord(record).window; }
    XConnection observer;
    Display* d = observer.get();
};
using GlxWindow = Glx;
using GlxAttach = Glx;
using GlxDisplayMode = Glx;
using GlxModeSwitch = Glx;

// Must run first: the child inherits no X connection only while none was opened.
TEST(GlxNoDisplay, CreatesNothingAndPrintsNothing) {
    ChildProcess child([] {
        unsetenv("DISPLAY");
        bool ok = X11Display() == nullptr;
        ok = ok && CreateWindowContext(800, 600, 0, 60, 10) == nullptr;
        ok = ok && std::string(LastWindowContextError()) == "X11: Failed to open the display: DISPLAY is not set";
        ok = ok && CreateWindowContext(800, 600, 32, 60, 10) == nullptr;
        ok = ok && AttachWindowContext(0x200001, 10) == nullptr;
        ok = ok && EnumerateDisplayModes(1024).empty();
        MakeContextCurrent(nullptr);
        SwapContextBuffers(1);
        return ok ? 0 : 1;
    });
    ASSERT_TRUE(child.Started());
    EXPECT_EQ(child.WaitForExit(), 0);
    EXPECT_EQ(child.out + child.err, "");
}

TEST_F(GlxWindow, WindowedCreateIsCentredFixedTitledAndDestroyable) {
    const int before = GLXRecordCount();
    GLContextRecord* record = CreateWindowContext(800, 600, 0, 60, GFX_BACKBUFFER | GFX_DEPTHBUFFER);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(GLXRecordCount(), before + 1);
    const GLXRecordInfo info = GLXInspectRecord(record);
    ASSERT_TRUE(info.listed);
    EXPECT_EQ(info.kind, GL_RECORD_WINDOWED);
    EXPECT_EQ(SettingsOf(record), (Settings{800, 600, 0, 60, 10}));
    const Window w = info.window;

    // Centred on the 1280x1024 screen, client area exactly 800x600, shown.
    EXPECT_EQ(BoxOf(d, w), (WindowBox{1280 / 2 - 400, 1024 / 2 - 300, 800, 600, true, true}));
    // Fixed size: minimum and maximum are the size.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(d, w, &hints, &supplied));
    EXPECT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
    EXPECT_EQ((std::array<int, 4>{hints.min_width, hints.min_height, hints.max_width, hints.max_height}),
              (std::array<int, 4>{800, 600, 800, 600}));

    // Title, class and the close protocol.
    EXPECT_EQ(TextProperty(d, w, "WM_NAME", XA_STRING), ApplicationTitle());
    EXPECT_EQ(TextProperty(d, w, "_NET_WM_NAME", XInternAtom(d, "UTF8_STRING", False)), ApplicationTitle());
    EXPECT_EQ(FindWindowsByClass(d, "Ferrumkit GLGraphics"), std::vector<Window>{w});
    Atom* protocols = nullptr;
    int protocolCount = 0;
    ASSERT_TRUE(XGetWMProtocols(d, w, &protocols, &protocolCount));
    const Atom deleteWindow = XInternAtom(d, "WM_DELETE_WINDOW", False);
    EXPECT_NE(std::find(protocols, protocols + protocolCount, deleteWindow), protocols + protocolCount);
    XFree(protocols);

    DestroyWindowContext(record);
    EXPECT_EQ(GLXRecordCount(), before);
    EXPECT_FALSE(BoxOf(d, w).exists);
    // Unknown and stale records are ignored everywhere.
    DestroyWindowContext(record);
    MakeContextCurrent(record);
    EXPECT_EQ(ReadContextSettings(record).width, 0);
    EXPECT_FALSE(GLXInspectRecord(record).listed);
}

TEST_F(GlxWindow, FlagsChooseTheBuffersAsked) {
    const std::pair<int32_t, Buffers> table[] = {
        {GFX_BACKBUFFER | GFX_DEPTHBUFFER, {1, 0, 1, 0, 0}},  // the demo's: nothing unrequested
        {GFX_ALPHABUFFER | GFX_DEPTHBUFFER | GFX_STENCILBUFFER | GFX_ACCUMBUFFER, {0, 1, 1, 1, 1}},
        {0, {0, 0, 0, 0, 0}},
    };
    for (const auto& [flags, buffers] : table) {
        GLContextRecord* record = CreateWindowContext(64, 48, 0, 0, flags);
        ASSERT_NE(record, nullptr) << flags;
        EXPECT_EQ(BuffersOf(record), buffers) << flags;
        EXPECT_GT(GLXInspectRecord(record).redSize, 0) << flags;
        DestroyWindowContext(record);
    }
}

TEST_F(GlxWindow, ClearedFrameIsWhatTheServerShowsAndIntervalIsSetOnce) {
    GLContextRecord* record = CreateWindowContext(200, 150, 0, 0, GFX_BACKBUFFER | GFX_DEPTHBUFFER);
    ASSERT_NE(record, nullptr);
    const Window w = WindowOf(record);
    MakeContextCurrent(record);
    DrawFrame(1.0f, 0.0f, 0.0f);
    EXPECT_EQ(WaitForColour(d, w, 100, 75, 0xFF0000ul), 0xFF0000ul);
    EXPECT_EQ(WaitForColour(d, w, 0, 0, 0xFF0000ul), 0xFF0000ul);
    DrawFrame(0.0f, 0.0f, 1.0f);
    EXPECT_EQ(WaitForColour(d, w, 199, 149, 0x0000FFul), 0x0000FFul);

    // The interval changes only when the wanted sync differs from the last one set.
    int calls = GLXSwapIntervalCallCount();
    for (int i = 0; i < 5; ++i) SwapContextBuffers(0);
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls);
    SwapContextBuffers(1);
    SwapContextBuffers(7);  // any non-zero sync is interval 1
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls + 1);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 1);
    SwapContextBuffers(0);
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls + 2);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);

    // Making the current record current again is a no-op; none makes nothing current.
    MakeContextCurrent(record);
    MakeContextCurrent(nullptr);
    calls = GLXSwapIntervalCallCount();
    SwapContextBuffers(1);  // nothing current: nothing happens
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls);
    DestroyWindowContext(record);
}

TEST_F(GlxWindow, DestroyingTheCurrentRecordLeavesNothingCurrent) {
    GLContextRecord* record = CreateWindowContext(64, 48, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    MakeContextCurrent(record);
    DestroyWindowContext(record);
    const int calls = GLXSwapIntervalCallCount();
    SwapContextBuffers(1);
    SwapContextBuffers(0);
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls);
    // A new record at the same address must still be made current for real.
    GLContextRecord* again = CreateWindowContext(64, 48, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(again, nullptr);
    MakeContextCurrent(again);
    DrawFrame(0.0f, 1.0f, 0.0f);
    EXPECT_EQ(WaitForColour(d, WindowOf(again), 10, 10, 0x00FF00ul), 0x00FF00ul);
    DestroyWindowContext(again);
}

TEST_F(GlxWindow, CloseRequestIsAppTerminateTheWindowStaysAndAHookMayCloseIt) {
    GLContextRecord* record = CreateWindowContext(320, 240, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    const Window w = WindowOf(record);
    gEventIds.clear();
    InsertHook(eventEmitHookId(), WatchEvents, nullptr, 0);

    SendCloseRequest(d, w);
    EXPECT_TRUE(PumpUntil([] { return Count(gEventIds, EVENT_APP_TERMINATE) == 1; }));
    EXPECT_TRUE(BoxOf(d, w).exists);
    EXPECT_TRUE(GLXInspectRecord(record).listed);

    // A hook closing the window during the window's own event is safe.
    gCloseOnTerminate = record;
    SendCloseRequest(d, w);
    EXPECT_TRUE(PumpUntil([] { return gCloseOnTerminate == nullptr; }));
    RemoveHookEntry(eventEmitHookId(), WatchEvents, nullptr);
    if (gCloseOnTerminate) DestroyWindowContext(std::exchange(gCloseOnTerminate, nullptr));
    EXPECT_FALSE(BoxOf(d, w).exists);
    EXPECT_FALSE(GLXInspectRecord(record).listed);
}

TEST_F(GlxWindow, KeyboardFocusHoldsTheScreenSaver) {
    GLContextRecord* record = CreateWindowContext(100, 100, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    const Window w = WindowOf(record);
    ASSERT_FALSE(GLXScreenSaverSuspended());
    FocusWindow(d, w);
    EXPECT_TRUE(PumpUntil([] { return GLXScreenSaverSuspended(); }));
    FocusWindow(d, PointerRoot);
    EXPECT_TRUE(PumpUntil([] { return !GLXScreenSaverSuspended(); }));

    // Destroying a focused window releases the screen saver too.
    FocusWindow(d, w);
    EXPECT_TRUE(PumpUntil([] { return GLXScreenSaverSuspended(); }));
    DestroyWindowContext(record);
    EXPECT_FALSE(GLXScreenSaverSuspended());
    FocusWindow(d, PointerRoot);
    PumpMessages();
}

TEST_F(GlxAttach, ContextOnTheCallersWindowFollowsItsSize) {
    const int screen = DefaultScreen(d);
    const Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 10, 20, 300, 200, 0, BlackPixel(d, screen),
                                         BlackPixel(d, screen));
    XMapWindow(d, w);
    XSync(d, False);

    GLContextRecord* record = AttachWindowContext(w, GFX_BACKBUFFER | GFX_DEPTHBUFFER);
    ASSERT_NE(record, nullptr);
    const GLXRecordInfo info = GLXInspectRecord(record);
    EXPECT_EQ(info.kind, GL_RECORD_ATTACHED);
    EXPECT_EQ(info.window, w);
    // The config matches the window's visual: whatever else it has, what was asked is there.
    EXPECT_EQ(info.doubleBuffer, 1);
    EXPECT_GT(info.depthSize, 0);
    EXPECT_EQ(SettingsOf(record), (Settings{300, 200, 0, 0, 10}));
    MakeContextCurrent(record);
    DrawFrame(0.0f, 1.0f, 1.0f);
    EXPECT_EQ(WaitForColour(d, w, 150, 100, 0x00FFFFul), 0x00FFFFul);
    XResizeWindow(d, w, 420, 310);
    XSync(d, False);
    EXPECT_EQ(SettingsOf(record), (Settings{420, 310, 0, 0, 10}));

    // The caller's window is the caller's: destroying the record leaves it.
    DestroyWindowContext(record);
    EXPECT_TRUE(BoxOf(d, w).exists);
    // The caller destroying its window first does not hurt either.
    GLContextRecord* orphan = AttachWindowContext(w, GFX_BACKBUFFER);
    ASSERT_NE(orphan, nullptr);
    MakeContextCurrent(orphan);
    XDestroyWindow(d, w);
    XSync(d, False);
    EXPECT_EQ(ReadContextSettings(orphan).width, 420);  // the last size known
    SwapContextBuffers(0);
    MakeContextCurrent(nullptr);
    DestroyWindowContext(orphan);
    EXPECT_FALSE(GLXInspectRecord(orphan).listed);
}

TEST_F(GlxAttach, BadWindowsAndSizesGiveNoRecord) {
    const int before = GLXRecordCount();
    EXPECT_EQ(AttachWindowContext(0, 10), nullptr);
    EXPECT_EQ(AttachWindowContext(0x3FFFFFF, 10), nullptr);  // no such window: an X error, trapped
    EXPECT_EQ(CreateWindowContext(0, 600, 0, 0, 10), nullptr);
    EXPECT_EQ(CreateWindowContext(800, -1, 0, 0, 10), nullptr);
    EXPECT_EQ(CreateWindowContext(70000, 600, 0, 0, 10), nullptr);  // X sizes are 16-bit
    EXPECT_STREQ(LastWindowContextError(),
                 "X11: Failed to create a window of 70000 by 600 pixels (sizes run from 1 to 32767)");
    EXPECT_EQ(AttachWindowContext(0x3FFFFFF, 10), nullptr);
    EXPECT_STREQ(LastWindowContextError(), "X11: Failed to read the attributes of window 67108863");
    EXPECT_EQ(GLXRecordCount(), before);
    // A success leaves no stale reason behind.
    GLContextRecord* record = CreateWindowContext(64, 64, 0, 0, 10);
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(LastWindowContextError(), "");
    DestroyWindowContext(record);
}

TEST_F(GlxDisplayMode, ModesComeFromRandRAndRespectCapacity) {
    const std::vector<GLDisplayMode> modes = EnumerateDisplayModes(1024);
    ASSERT_FALSE(modes.empty());
    bool screenMode = false;
    for (const GLDisplayMode& m : modes) {
        EXPECT_GE(m.depth, 16);
        screenMode = screenMode || (m.width == 1280 && m.height == 1024 && m.depth == 32);
    }
    EXPECT_TRUE(screenMode);  // the 24-bit screen stores 32 bits per pixel
    EXPECT_EQ(EnumerateDisplayModes(1).size(), 1u);
    EXPECT_TRUE(EnumerateDisplayModes(0).empty());
    EXPECT_TRUE(EnumerateDisplayModes(-5).empty());
}

TEST_F(GlxDisplayMode, MissingModeThrowsAndLeavesNoWindow) {
    XSync(X11Display(), False);
    const size_t windowsBefore = TopLevelWindows(d).size();
    const int recordsBefore = GLXRecordCount();
    try {
        CreateWindowContext(1000, 700, 32, 60, GFX_BACKBUFFER);
        ADD_FAILURE() << "no error raised";
    } catch (const TRuntimeError& error) {
        EXPECT_STREQ(error.what(), "GLGraphicsDriver failed to set display mode");
    }
    XSync(X11Display(), False);
    EXPECT_EQ(TopLevelWindows(d).size(), windowsBefore);
    EXPECT_EQ(GLXRecordCount(), recordsBefore);
    EXPECT_EQ(GLXFullscreenWindow(), 0u);
}

TEST_F(GlxDisplayMode, RefusedRateFallsBackToAnyRateWithoutSync) {
    // Xvfb offers its one size at no particular rate: 60 Hz is refused, the size
    // is served at any rate; the 16-bit request is served at the screen's depth.
    GLContextRecord* record = CreateWindowContext(1280, 1024, 16, 60, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    const Window w = WindowOf(record);
    EXPECT_EQ(GLXInspectRecord(record).kind, GL_RECORD_FULLSCREEN);
    EXPECT_EQ(GLXFullscreenWindow(), w);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    EXPECT_EQ(BoxOf(d, w), (WindowBox{0, 0, 1280, 1024, true, true}));
    EXPECT_EQ(SettingsOf(record), (Settings{1280, 1024, 16, 60, GFX_BACKBUFFER}));
    MakeContextCurrent(record);
    DrawFrame(1.0f, 1.0f, 0.0f);
    EXPECT_EQ(WaitForColour(d, w, 640, 512, 0xFFFF00ul), 0xFFFF00ul);

    // Destroying gives the display back.
    const int calls = GLXSwapIntervalCallCount();
    DestroyWindowContext(record);
    EXPECT_EQ(GLXFullscreenWindow(), 0u);
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls + 1);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    EXPECT_FALSE(BoxOf(d, w).exists);
}

namespace {

// Offers one more mode on the server's output: 1024x768 at 60 Hz (CVT timings).
void AddMode1024x768(Display* d) {
    const Window root = DefaultRootWindow(d);
    XRRScreenResources* resources = XRRGetScreenResources(d, root);
    ASSERT_NE(resources, nullptr);
    ASSERT_GT(resources->noutput, 0);
    char name[] = "1024x768_60.00";
    // id, size, dot clock, horizontal sync start/end/total, skew, vertical sync start/end/total
    XRRModeInfo mode{
        0, 1024, 768, 63500000, 1072, 1176, 1328, 0, 771, 775, 798, name, static_cast<unsigned>(std::strlen(name)), 0};
    XRRAddOutputMode(d, resources->outputs[0], XRRCreateMode(d, root, &mode));
    XRRFreeScreenResources(resources);
    XSync(d, False);
}

// The size of the screen configuration in force.
std::pair<int, int> CurrentScreenSize(Display* d) {
    XRRScreenConfiguration* config = XRRGetScreenInfo(d, DefaultRootWindow(d));
    if (!config) return {0, 0};
    int count = 0;
    XRRScreenSize* sizes = XRRConfigSizes(config, &count);
    Rotation rotation;
    const int index = XRRConfigCurrentConfiguration(config, &rotation);
    std::pair<int, int> size{0, 0};
    if (index >= 0 && index < count) size = {sizes[index].width, sizes[index].height};
    XRRFreeScreenConfigInfo(config);
    return size;
}

}  // namespace

// Runs last: it adds a mode to the server for the rest of the binary.
TEST_F(GlxModeSwitch, SwitchesToTheRequestedModeAndRestoresTheDesktop) {
    const auto desktop = std::make_pair(1280, 1024), small = std::make_pair(1024, 768);
    AddMode1024x768(d);
    bool listed = false;
    for (const GLDisplayMode& m : EnumerateDisplayModes(1024))
        listed = listed || (m.width == 1024 && m.height == 768 && m.hertz == 60);
    EXPECT_TRUE(listed);

    // The rate is offered: the mode switches with vertical sync.
    GLContextRecord* record = CreateWindowContext(1024, 768, 32, 60, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    const Window w = WindowOf(record);
    EXPECT_EQ(CurrentScreenSize(d), small);
    EXPECT_EQ(GLXFullscreenWindow(), w);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 1);
    // The fullscreen window took the keyboard itself.
    EXPECT_TRUE(PumpUntil([] { return GLXScreenSaverSuspended(); }));

    // Focus elsewhere gives the desktop back; focus again takes the mode again.
    FocusWindow(d, PointerRoot);
    EXPECT_TRUE(PumpUntil([] { return GLXFullscreenWindow() == 0; }));
    EXPECT_EQ(CurrentScreenSize(d), desktop);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    FocusWindow(d, w);
    EXPECT_TRUE(PumpUntil([w] { return GLXFullscreenWindow() == w; }));
    EXPECT_EQ(CurrentScreenSize(d), small);

    DestroyWindowContext(record);
    EXPECT_EQ(CurrentScreenSize(d), desktop);
    EXPECT_EQ(GLXFullscreenWindow(), 0u);
    EXPECT_FALSE(GLXScreenSaverSuspended());

    // A refused rate: the same size at the rate there is, without vertical sync.
    record = CreateWindowContext(1024, 768, 24, 75, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(CurrentScreenSize(d), small);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    DestroyWindowContext(record);
    EXPECT_EQ(CurrentScreenSize(d), desktop);
    FocusWindow(d, PointerRoot);
    PumpMessages();
}
