// The GLX windows-and-contexts layer on a private Xvfb with Mesa's software
// renderer: windows as the server sees them, framebuffer configs, frames on
// screen, swap-interval bookkeeping, close requests, attach, display modes and
// the failure paths.

// GoogleTest first: Xlib's macros (None, Bool, Status) break its headers.
#include <gtest/gtest.h>

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

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

static auto* const kXvfb = RegisterXvfbEnvironment();

namespace {

// A second connection, as another client would see our windows.
class Observer {
public:
    Observer() : display_(XOpenDisplay(nullptr)) {}
    ~Observer() {
        if (display_) XCloseDisplay(display_);
    }
    Display* get() const { return display_; }

private:
    Display* display_;
};

// The text of an 8-bit property (empty when absent).
std::string TextProperty(Display* d, Window w, const char* name, Atom type) {
    Atom actualType;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string text;
    if (XGetWindowProperty(d, w, XInternAtom(d, name, False), 0, 1024, False, type, &actualType,
                           &format, &count, &after, &data) == Success &&
        data) {
        if (format == 8) text.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return text;
}

// The window's position relative to the root and its size.
struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
};
Geometry WindowGeometry(Display* d, Window w) {
    Geometry g;
    XWindowAttributes a{};
    if (!XGetWindowAttributes(d, w, &a)) return g;
    Window child;
    XTranslateCoordinates(d, w, a.root, 0, 0, &g.x, &g.y, &child);
    g.width = a.width;
    g.height = a.height;
    g.viewable = a.map_state == IsViewable;
    return g;
}

// True when the window no longer exists on the server.
bool WindowGone(Display* d, Window w) {
    XWindowAttributes a{};
    X11BeginErrorTrap();
    Status ok = XGetWindowAttributes(d, w, &a);
    int error = X11EndErrorTrap();
    return error != 0 || !ok;
}

// The colour the server shows at (x, y) of window, as 0xRRGGBB.
unsigned long ShownColour(Display* d, Window w, int x, int y) {
    XImage* image = XGetImage(d, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFFul;
    unsigned long pixel = XGetPixel(image, 0, 0);
    auto channel = [pixel](unsigned long mask) {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return (pixel >> shift) & mask;
    };
    unsigned long rgb = (channel(image->red_mask) << 16) | (channel(image->green_mask) << 8) |
                        channel(image->blue_mask);
    XDestroyImage(image);
    return rgb;
}

// Clears the current context to a colour and shows it.
void DrawFrame(float r, float g, float b) {
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    SwapContextBuffers(0);
    glFinish();
    XSync(X11Display(), False);
}

// Pumps until done() holds, for at most about two seconds.
template <typename Done>
bool PumpUntil(Done done) {
    for (int i = 0; i < 200 && !done(); ++i) {
        PumpMessages();
        if (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return done();
}

// Collects the ids of emitted events while installed.
std::vector<int32_t> gEventIds;
HookData RecordEvent(int32_t, HookData data, const HookContext&) {
    if (auto event = std::dynamic_pointer_cast<TEvent>(data)) gEventIds.push_back(event->id);
    return data;
}
struct EventRecorder {
    EventRecorder() {
        gEventIds.clear();
        InsertHook(eventEmitHookId(), RecordEvent, nullptr, 0);
    }
    ~EventRecorder() { RemoveHookEntry(eventEmitHookId(), RecordEvent, nullptr); }
    bool Saw(int32_t id) const {
        for (int32_t seen : gEventIds)
            if (seen == id) return true;
        return false;
    }
};

// What a window manager sends when the close box is clicked.
void SendCloseRequest(Display* d, Window w) {
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = w;
    close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(d, w, False, NoEventMask, &close);
    XSync(d, False);
}

// Reads everything from fd until EOF.
std::string ReadAll(int fd) {
    std::string text;
    char buffer[256];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
    return text;
}

}  // namespace

// Must run first: the child inherits no X connection only while none was opened.
TEST(GlxNoDisplay, CreatesNothingAndPrintsNothing) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        dup2(pipeFds[1], 1);
        dup2(pipeFds[1], 2);
        unsetenv("DISPLAY");
        bool ok = X11Display() == nullptr;
        ok = ok && CreateWindowContext(800, 600, 0, 60, 10) == nullptr;
        ok = ok && CreateWindowContext(800, 600, 32, 60, 10) == nullptr;
        ok = ok && AttachWindowContext(0x200001, 10) == nullptr;
        ok = ok && EnumerateDisplayModes(1024).empty();
        MakeContextCurrent(nullptr);
        SwapContextBuffers(1);
        _exit(ok ? 0 : 1);
    }
    close(pipeFds[1]);
    std::string printed = ReadAll(pipeFds[0]);
    close(pipeFds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(printed, "");
}

TEST(GlxWindow, WindowedCreateIsCentredFixedTitledAndDestroyable) {
    Observer observer;
    Display* d = observer.get();
    ASSERT_NE(d, nullptr);
    int before = GLXRecordCount();
    GLContextRecord* record = CreateWindowContext(800, 600, 0, 60, GFX_BACKBUFFER | GFX_DEPTHBUFFER);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(GLXRecordCount(), before + 1);
    GLXRecordInfo info = GLXInspectRecord(record);
    ASSERT_TRUE(info.listed);
    EXPECT_EQ(info.kind, GLX_RECORD_WINDOWED);
    Window w = info.window;

    // Centred on the 1280x1024 screen, client area exactly 800x600, shown.
    Geometry g = WindowGeometry(d, w);
    EXPECT_EQ(g.x, 1280 / 2 - 400);
    EXPECT_EQ(g.y, 1024 / 2 - 300);
    EXPECT_EQ(g.width, 800);
    EXPECT_EQ(g.height, 600);
    EXPECT_TRUE(g.viewable);

    // Fixed size: minimum and maximum are the size.
    XSizeHints hints{};
    long supplied = 0;
    ASSERT_TRUE(XGetWMNormalHints(d, w, &hints, &supplied));
    ASSERT_TRUE((hints.flags & PMinSize) && (hints.flags & PMaxSize));
    EXPECT_EQ(hints.min_width, 800);
    EXPECT_EQ(hints.max_width, 800);
    EXPECT_EQ(hints.min_height, 600);
    EXPECT_EQ(hints.max_height, 600);

    // Title, class and the close protocol.
    EXPECT_EQ(TextProperty(d, w, "WM_NAME", XA_STRING), ApplicationTitle());
    EXPECT_EQ(TextProperty(d, w, "_NET_WM_NAME", XInternAtom(d, "UTF8_STRING", False)),
              ApplicationTitle());
    XClassHint classHint{};
    ASSERT_TRUE(XGetClassHint(d, w, &classHint));
    EXPECT_STREQ(classHint.res_class, "Ferrumkit GLGraphics");
    XFree(classHint.res_name);
    XFree(classHint.res_class);
    Atom* protocols = nullptr;
    int protocolCount = 0;
    ASSERT_TRUE(XGetWMProtocols(d, w, &protocols, &protocolCount));
    bool hasDelete = false;
    for (int i = 0; i < protocolCount; ++i)
        hasDelete = hasDelete || protocols[i] == XInternAtom(d, "WM_DELETE_WINDOW", False);
    XFree(protocols);
    EXPECT_TRUE(hasDelete);

    // Flags 10: double-buffered with depth, nothing unrequested.
    EXPECT_EQ(info.doubleBuffer, 1);
    EXPECT_GT(info.redSize, 0);
    EXPECT_GT(info.depthSize, 0);
    EXPECT_EQ(info.alphaSize, 0);
    EXPECT_EQ(info.stencilSize, 0);
    EXPECT_EQ(info.accumRedSize, 0);

    GLContextSettings s = ReadContextSettings(record);
    EXPECT_EQ(s.width, 800);
    EXPECT_EQ(s.height, 600);
    EXPECT_EQ(s.depth, 0);
    EXPECT_EQ(s.hertz, 60);
    EXPECT_EQ(s.flags, 10);

    DestroyWindowContext(record);
    EXPECT_EQ(GLXRecordCount(), before);
    EXPECT_TRUE(WindowGone(d, w));
    // Unknown and stale records are ignored everywhere.
    DestroyWindowContext(record);
    MakeContextCurrent(record);
    EXPECT_EQ(ReadContextSettings(record).width, 0);
    EXPECT_FALSE(GLXInspectRecord(record).listed);
}

TEST(GlxWindow, FlagsChooseTheBuffersAsked) {
    // Every buffer asked for, single-buffered.
    GLContextRecord* all = CreateWindowContext(64, 48, 0, 0,
                                               GFX_ALPHABUFFER | GFX_DEPTHBUFFER |
                                                   GFX_STENCILBUFFER | GFX_ACCUMBUFFER);
    ASSERT_NE(all, nullptr);
    GLXRecordInfo info = GLXInspectRecord(all);
    EXPECT_EQ(info.doubleBuffer, 0);
    EXPECT_GT(info.alphaSize, 0);
    EXPECT_GT(info.depthSize, 0);
    EXPECT_GT(info.stencilSize, 0);
    EXPECT_GT(info.accumRedSize, 0);
    DestroyWindowContext(all);

    // Nothing asked: no depth, stencil, alpha or accumulation buffer.
    GLContextRecord* bare = CreateWindowContext(64, 48, 0, 0, 0);
    ASSERT_NE(bare, nullptr);
    info = GLXInspectRecord(bare);
    EXPECT_EQ(info.doubleBuffer, 0);
    EXPECT_EQ(info.depthSize, 0);
    EXPECT_EQ(info.stencilSize, 0);
    EXPECT_EQ(info.alphaSize, 0);
    EXPECT_EQ(info.accumRedSize, 0);
    DestroyWindowContext(bare);
}

TEST(GlxWindow, ClearedFrameIsWhatTheServerShowsAndIntervalIsSetOnce) {
    Observer observer;
    GLContextRecord* record = CreateWindowContext(200, 150, 0, 0, GFX_BACKBUFFER | GFX_DEPTHBUFFER);
    ASSERT_NE(record, nullptr);
    Window w = GLXInspectRecord(record).window;
    MakeContextCurrent(record);

    DrawFrame(1.0f, 0.0f, 0.0f);
    EXPECT_EQ(ShownColour(observer.get(), w, 100, 75), 0xFF0000ul);
    EXPECT_EQ(ShownColour(observer.get(), w, 0, 0), 0xFF0000ul);
    DrawFrame(0.0f, 0.0f, 1.0f);
    EXPECT_EQ(ShownColour(observer.get(), w, 199, 149), 0x0000FFul);

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

TEST(GlxWindow, DestroyingTheCurrentRecordLeavesNothingCurrent) {
    GLContextRecord* record = CreateWindowContext(64, 48, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    MakeContextCurrent(record);
    DestroyWindowContext(record);
    int calls = GLXSwapIntervalCallCount();
    SwapContextBuffers(1);
    SwapContextBuffers(0);
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls);
    // A new record at the same address must still be made current for real.
    GLContextRecord* again = CreateWindowContext(64, 48, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(again, nullptr);
    MakeContextCurrent(again);
    DrawFrame(0.0f, 1.0f, 0.0f);
    Observer observer;
    EXPECT_EQ(ShownColour(observer.get(), GLXInspectRecord(again).window, 10, 10), 0x00FF00ul);
    DestroyWindowContext(again);
}

TEST(GlxWindow, CloseRequestBecomesAppTerminateAndTheWindowStays) {
    Observer observer;
    Display* d = observer.get();
    GLContextRecord* record = CreateWindowContext(320, 240, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    Window w = GLXInspectRecord(record).window;
    EventRecorder recorder;

    SendCloseRequest(d, w);

    EXPECT_TRUE(PumpUntil([&] { return recorder.Saw(EVENT_APP_TERMINATE); }));
    EXPECT_FALSE(WindowGone(d, w));
    EXPECT_TRUE(GLXInspectRecord(record).listed);
    DestroyWindowContext(record);
    EXPECT_TRUE(WindowGone(d, w));
}

// A hook that closes the window the moment its close request arrives.
GLContextRecord* gCloseOnTerminate = nullptr;
HookData CloseOnTerminate(int32_t, HookData data, const HookContext&) {
    auto event = std::dynamic_pointer_cast<TEvent>(data);
    if (event && event->id == EVENT_APP_TERMINATE && gCloseOnTerminate) {
        DestroyWindowContext(gCloseOnTerminate);
        gCloseOnTerminate = nullptr;
    }
    return data;
}

TEST(GlxWindow, HookClosingTheWindowDuringItsOwnEventIsSafe) {
    Observer observer;
    Display* d = observer.get();
    GLContextRecord* record = CreateWindowContext(120, 90, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    Window w = GLXInspectRecord(record).window;
    gCloseOnTerminate = record;
    InsertHook(eventEmitHookId(), CloseOnTerminate, nullptr, 0);
    SendCloseRequest(d, w);
    EXPECT_TRUE(PumpUntil([] { return gCloseOnTerminate == nullptr; }));
    RemoveHookEntry(eventEmitHookId(), CloseOnTerminate, nullptr);
    EXPECT_TRUE(WindowGone(d, w));
}

TEST(GlxWindow, KeyboardFocusHoldsTheScreenSaver) {
    Observer observer;
    Display* d = observer.get();
    GLContextRecord* record = CreateWindowContext(100, 100, 0, 0, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    Window w = GLXInspectRecord(record).window;
    ASSERT_FALSE(GLXScreenSaverSuspended());

    XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    EXPECT_TRUE(PumpUntil([] { return GLXScreenSaverSuspended(); }));
    XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    EXPECT_TRUE(PumpUntil([] { return !GLXScreenSaverSuspended(); }));

    // Destroying a focused window releases the screen saver too.
    XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    EXPECT_TRUE(PumpUntil([] { return GLXScreenSaverSuspended(); }));
    DestroyWindowContext(record);
    EXPECT_FALSE(GLXScreenSaverSuspended());
    XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    PumpMessages();
}

TEST(GlxAttach, ContextOnTheCallersWindowFollowsItsSize) {
    Observer observer;
    Display* d = observer.get();
    int screen = DefaultScreen(d);
    Window w = XCreateSimpleWindow(d, RootWindow(d, screen), 10, 20, 300, 200, 0,
                                   BlackPixel(d, screen), BlackPixel(d, screen));
    XMapWindow(d, w);
    XSync(d, False);

    GLContextRecord* record = AttachWindowContext(w, GFX_BACKBUFFER | GFX_DEPTHBUFFER);
    ASSERT_NE(record, nullptr);
    GLXRecordInfo info = GLXInspectRecord(record);
    EXPECT_EQ(info.kind, GLX_RECORD_ATTACHED);
    EXPECT_EQ(info.window, w);
    EXPECT_EQ(info.doubleBuffer, 1);
    EXPECT_GT(info.depthSize, 0);
    GLContextSettings s = ReadContextSettings(record);
    EXPECT_EQ(s.width, 300);
    EXPECT_EQ(s.height, 200);
    EXPECT_EQ(s.depth, 0);
    EXPECT_EQ(s.hertz, 0);
    EXPECT_EQ(s.flags, 10);

    MakeContextCurrent(record);
    DrawFrame(0.0f, 1.0f, 1.0f);
    EXPECT_EQ(ShownColour(d, w, 150, 100), 0x00FFFFul);

    XResizeWindow(d, w, 420, 310);
    XSync(d, False);
    s = ReadContextSettings(record);
    EXPECT_EQ(s.width, 420);
    EXPECT_EQ(s.height, 310);

    // The caller's window is the caller's: destroying the record leaves it.
    DestroyWindowContext(record);
    EXPECT_FALSE(WindowGone(d, w));

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
    EXPECT_EQ(GLXInspectRecord(orphan).listed, false);
}

TEST(GlxAttach, BadWindowsAndSizesGiveNoRecord) {
    int before = GLXRecordCount();
    EXPECT_EQ(AttachWindowContext(0, 10), nullptr);
    EXPECT_EQ(AttachWindowContext(0x3FFFFFF, 10), nullptr);  // no such window: an X error, trapped
    EXPECT_EQ(CreateWindowContext(0, 600, 0, 0, 10), nullptr);
    EXPECT_EQ(CreateWindowContext(800, -1, 0, 0, 10), nullptr);
    EXPECT_EQ(CreateWindowContext(70000, 600, 0, 0, 10), nullptr);  // X sizes are 16-bit
    EXPECT_EQ(GLXRecordCount(), before);
}

TEST(GlxDisplayMode, ModesComeFromRandRAndRespectCapacity) {
    std::vector<GLDisplayMode> modes = EnumerateDisplayModes(1024);
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

TEST(GlxDisplayMode, MissingModeThrowsAndLeavesNoWindow) {
    Observer observer;
    Display* d = observer.get();
    auto childCount = [d] {
        Window root, parent, *children = nullptr;
        unsigned count = 0;
        XQueryTree(d, DefaultRootWindow(d), &root, &parent, &children, &count);
        if (children) XFree(children);
        return count;
    };
    XSync(X11Display(), False);
    unsigned windowsBefore = childCount();
    int recordsBefore = GLXRecordCount();
    try {
        CreateWindowContext(1000, 700, 32, 60, GFX_BACKBUFFER);
        ADD_FAILURE() << "no error raised";
    } catch (const TRuntimeError& error) {
        EXPECT_STREQ(error.what(), "GLGraphicsDriver failed to set display mode");
    }
    XSync(X11Display(), False);
    EXPECT_EQ(childCount(), windowsBefore);
    EXPECT_EQ(GLXRecordCount(), recordsBefore);
    EXPECT_EQ(GLXFullscreenWindow(), 0u);
}

TEST(GlxDisplayMode, RefusedRateFallsBackToAnyRateWithoutSync) {
    Observer observer;
    // Xvfb offers its one size at no particular rate: 60 Hz is refused, the size
    // is served at any rate; the 16-bit request is served at the screen's depth.
    GLContextRecord* record = CreateWindowContext(1280, 1024, 16, 60, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    GLXRecordInfo info = GLXInspectRecord(record);
    EXPECT_EQ(info.kind, GLX_RECORD_FULLSCREEN);
    EXPECT_EQ(GLXFullscreenWindow(), info.window);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    Geometry g = WindowGeometry(observer.get(), info.window);
    EXPECT_EQ(g.x, 0);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 1280);
    EXPECT_EQ(g.height, 1024);
    GLContextSettings s = ReadContextSettings(record);
    EXPECT_EQ(s.depth, 16);
    EXPECT_EQ(s.hertz, 60);

    MakeContextCurrent(record);
    DrawFrame(1.0f, 1.0f, 0.0f);
    EXPECT_EQ(ShownColour(observer.get(), info.window, 640, 512), 0xFFFF00ul);

    // Destroying gives the display back.
    int calls = GLXSwapIntervalCallCount();
    DestroyWindowContext(record);
    EXPECT_EQ(GLXFullscreenWindow(), 0u);
    EXPECT_EQ(GLXSwapIntervalCallCount(), calls + 1);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    EXPECT_TRUE(WindowGone(observer.get(), info.window));
}

namespace {

// Offers one more mode on the server's output: 1024x768 at 60 Hz (CVT timings).
void AddMode1024x768(Display* d) {
    Window root = DefaultRootWindow(d);
    XRRScreenResources* resources = XRRGetScreenResources(d, root);
    ASSERT_NE(resources, nullptr);
    ASSERT_GT(resources->noutput, 0);
    XRRModeInfo mode{};
    char name[] = "1024x768_60.00";
    mode.name = name;
    mode.nameLength = static_cast<unsigned>(std::strlen(name));
    mode.width = 1024;
    mode.height = 768;
    mode.dotClock = 63500000;
    mode.hSyncStart = 1072;
    mode.hSyncEnd = 1176;
    mode.hTotal = 1328;
    mode.vSyncStart = 771;
    mode.vSyncEnd = 775;
    mode.vTotal = 798;
    RRMode id = XRRCreateMode(d, root, &mode);
    XRRAddOutputMode(d, resources->outputs[0], id);
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
    int index = XRRConfigCurrentConfiguration(config, &rotation);
    std::pair<int, int> size{0, 0};
    if (index >= 0 && index < count) size = {sizes[index].width, sizes[index].height};
    XRRFreeScreenConfigInfo(config);
    return size;
}

}  // namespace

// Runs last: it adds a mode to the server for the rest of the binary.
TEST(GlxModeSwitch, SwitchesToTheRequestedModeAndRestoresTheDesktop) {
    Observer observer;
    Display* d = observer.get();
    AddMode1024x768(d);
    bool listed = false;
    for (const GLDisplayMode& m : EnumerateDisplayModes(1024))
        listed = listed || (m.width == 1024 && m.height == 768 && m.hertz == 60);
    EXPECT_TRUE(listed);

    // The rate is offered: the mode switches with vertical sync.
    GLContextRecord* record = CreateWindowContext(1024, 768, 32, 60, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    Window w = GLXInspectRecord(record).window;
    EXPECT_EQ(CurrentScreenSize(d), std::make_pair(1024, 768));
    EXPECT_EQ(GLXFullscreenWindow(), w);
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 1);
    // The fullscreen window took the keyboard itself.
    EXPECT_TRUE(PumpUntil([] { return GLXScreenSaverSuspended(); }));

    // Focus elsewhere gives the desktop back; focus again takes the mode again.
    XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    EXPECT_TRUE(PumpUntil([] { return GLXFullscreenWindow() == 0; }));
    EXPECT_EQ(CurrentScreenSize(d), std::make_pair(1280, 1024));
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    XSetInputFocus(d, w, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    EXPECT_TRUE(PumpUntil([w] { return GLXFullscreenWindow() == w; }));
    EXPECT_EQ(CurrentScreenSize(d), std::make_pair(1024, 768));

    DestroyWindowContext(record);
    EXPECT_EQ(CurrentScreenSize(d), std::make_pair(1280, 1024));
    EXPECT_EQ(GLXFullscreenWindow(), 0u);
    EXPECT_FALSE(GLXScreenSaverSuspended());

    // A refused rate: the same size at the rate there is, without vertical sync.
    record = CreateWindowContext(1024, 768, 24, 75, GFX_BACKBUFFER);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(CurrentScreenSize(d), std::make_pair(1024, 768));
    EXPECT_EQ(GLXLastRequestedSwapInterval(), 0);
    DestroyWindowContext(record);
    EXPECT_EQ(CurrentScreenSize(d), std::make_pair(1280, 1024));
    XSetInputFocus(d, PointerRoot, RevertToPointerRoot, CurrentTime);
    XSync(d, False);
    PumpMessages();
}
