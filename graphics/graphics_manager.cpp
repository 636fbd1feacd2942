// The graphics manager: the current driver and graphics with their captured
// settings, the program's opened graphics, page flips and software pacing.
//
// Module state lives in one heap object made on first use and never destroyed:
// no static initialiser runs before the libraries below are ready, and nothing
// is torn down at exit while the at-exit close may still need it.

#include "graphics/graphics.h"
#include "graphics/graphics_internal.h"

#include "runtime/errors.h"
#include "system/hook.h"
#include "system/polled_input.h"
#include "system/system_driver.h"

#include <cstdlib>

namespace {

struct ManagerState {
    std::shared_ptr<TGraphicsDriver> driver;
    int32_t defaultFlags = 0;
    TGraphicsModeArray modeCache;
    std::shared_ptr<TGraphics> current;
    int32_t width = 0, height = 0, depth = 0, hertz = 0, flags = 0;
    std::shared_ptr<TGraphics> opened;
    GraphicsPacingState pacing;
    int32_t pageFlipHookId = -1;
    bool exitCloseRegistered = false;
    std::string lastContextError;  // the runtime error a create or attach turned into null
    GraphicsSystemHooks system{};
};

void SleepDefault(int32_t ms) { SleepMillis(ms); }
void PlacePointerDefault(int32_t x, int32_t y) { PlacePointer(x, y); }
int32_t NowDefault() { return CurrentMillis(); }

// The module start-up: reserves the page-flip hook and readies polled input.
ManagerState* StartGraphicsModule() {
    auto* s = new ManagerState();
    s->system = DefaultGraphicsSystemHooks();
    s->pageFlipHookId = ReserveHookId();
    return s;
}

ManagerState& State() {
    static ManagerState* const state = StartGraphicsModule();
    return *state;
}

// Millisecond stamps wrap; they are only ever compared by difference.
int32_t Diff(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
int32_t Add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

TGraphicsDriver& RequireDriver(ManagerState& s) {
    if (!s.driver) throw TNullObjectError();
    return *s.driver;
}

void ClearSettings(ManagerState& s) {
    s.current.reset();
    s.width = s.height = s.depth = s.hertz = s.flags = 0;
}

// Leaves the current driver: it is told that nothing is current any more.
void SwitchDriver(ManagerState& s, std::shared_ptr<TGraphicsDriver> next) {
    if (s.driver && s.current) s.driver->SetGraphics(nullptr);
    s.modeCache.clear();
    s.driver = std::move(next);
}

// At process exit nothing may escape: an error while closing is dropped.
void EndOpenedGraphicsAtExit() {
    try {
        EndOpenedGraphics();
    } catch (...) {
    }
}

// Three consecutive synchronised flips within a millisecond of the requested
// period prove that the display already runs at that rate.
bool DisplayKeepsRate(ManagerState& s, int32_t hertz) {
    const int32_t period = 1000 / hertz;
    const int32_t deadline = Add(s.system.now(), 1000);
    int hits = 0;
    while (Diff(deadline, s.system.now()) > 0) {
        const int32_t t0 = s.system.now();
        RequireDriver(s).Flip(1);
        const int32_t delta = Diff(s.system.now(), t0) - period;
        if (delta >= -1 && delta <= 1) {
            if (++hits == 3) return true;
        } else {
            hits = 0;
        }
    }
    return false;
}

}  // namespace

GraphicsSystemHooks DefaultGraphicsSystemHooks() {
    return GraphicsSystemHooks{NowDefault, SleepDefault, PlacePointerDefault};
}

GraphicsSystemHooks SetGraphicsSystemHooks(const GraphicsSystemHooks& hooks) {
    ManagerState& s = State();
    GraphicsSystemHooks previous = s.system;
    s.system = hooks;
    return previous;
}

GraphicsPacingState ReadGraphicsPacingState() { return State().pacing; }

std::shared_ptr<TGraphics> OpenedGraphics() { return State().opened; }

int32_t PageFlipHookId() { return State().pageFlipHookId; }

void SelectGraphicsDriver(std::shared_ptr<TGraphicsDriver> driver, int32_t defaultFlags) {
    ManagerState& s = State();
    if (driver != s.driver) SwitchDriver(s, std::move(driver));
    // Selecting the same driver again forgets the current graphics without telling it.
    s.defaultFlags = defaultFlags;
    ClearSettings(s);
}

int32_t DefaultGraphicsFlags() { return State().defaultFlags; }

TGraphicsModeArray ListGraphicsModes() {
    ManagerState& s = State();
    if (s.modeCache.empty()) s.modeCache = RequireDriver(s).GraphicsModes();
    return s.modeCache;
}

int32_t GraphicsModeCount() { return static_cast<int32_t>(ListGraphicsModes().size()); }

void GetGraphicsModeAt(int32_t index, int32_t* width, int32_t* height, int32_t* depth, int32_t* hertz) {
    TGraphicsModeArray modes = ListGraphicsModes();
    CheckIndex(index, static_cast<long long>(modes.size()));
    const std::shared_ptr<TGraphicsMode>& mode = modes[static_cast<size_t>(index)];
    if (!mode) throw TNullObjectError();
    if (width) *width = mode->width;
    if (height) *height = mode->height;
    if (depth) *depth = mode->depth;
    if (hertz) *hertz = mode->hertz;
}

int32_t HasGraphicsMode(int32_t width, int32_t height, int32_t depth, int32_t hertz) {
    for (const auto& mode : ListGraphicsModes()) {
        if (!mode) continue;
        if (width && mode->width != width) continue;
        if (height && mode->height != height) continue;
        if (depth && mode->depth != depth) continue;
        if (hertz && mode->hertz != hertz) continue;
        return 1;
    }
    return 0;
}

std::shared_ptr<TGraphics> CreateGraphicsContext(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                                 int32_t flags) {
    ManagerState& s = State();
    s.lastContextError.clear();
    try {
        return RequireDriver(s).CreateGraphics(width, height, depth, hertz, flags | s.defaultFlags);
    } catch (const TRuntimeError& e) {
        s.lastContextError = e.what();
        return nullptr;
    }
}

std::shared_ptr<TGraphics> AttachGraphicsContext(uintptr_t widget, int32_t flags) {
    ManagerState& s = State();
    s.lastContextError.clear();
    try {
        return RequireDriver(s).AttachGraphics(widget, flags | s.defaultFlags);
    } catch (const TRuntimeError& e) {
        s.lastContextError = e.what();
        return nullptr;
    }
}

std::string LastGraphicsContextError() { return State().lastContextError; }

void CloseGraphicsContext(const std::shared_ptr<TGraphics>& g) {
    if (!g) throw TNullObjectError();
    ManagerState& s = State();
    // Keep g alive while the module lets go of it.
    std::shared_ptr<TGraphics> keep = g;
    if (keep == s.opened) s.opened.reset();
    if (keep == s.current) SelectGraphics(nullptr);
    keep->Close();
}

void SelectGraphics(const std::shared_ptr<TGraphics>& g) {
    ManagerState& s = State();
    if (!g) {
        if (s.driver && s.current) s.driver->SetGraphics(nullptr);
        ClearSettings(s);
        return;
    }
    std::shared_ptr<TGraphics> keep = g;
    std::shared_ptr<TGraphicsDriver> d = keep->Driver();
    if (d != s.driver) SwitchDriver(s, d);
    keep->GetSettings(&s.width, &s.height, &s.depth, &s.hertz, &s.flags);
    if (!d) throw TNullObjectError();
    d->SetGraphics(keep);
    s.current = keep;
}

std::shared_ptr<TGraphics> ActiveGraphics() { return State().current; }
int32_t ActiveGraphicsWidth() { return State().width; }
int32_t ActiveGraphicsHeight() { return State().height; }
int32_t ActiveGraphicsDepth() { return State().depth; }
int32_t ActiveGraphicsHertz() { return State().hertz; }
int32_t ActiveGraphicsFlags() { return State().flags; }

std::shared_ptr<TGraphics> OpenGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags) {
    ManagerState& s = State();
    EndOpenedGraphics();
    std::shared_ptr<TGraphics> g = CreateGraphicsContext(width, height, depth, hertz, flags | s.defaultFlags);
    if (!g) return nullptr;
    SelectGraphics(g);

    // A windowed graphics with a rate is paced in software; a fullscreen one
    // only when the display does not already flip at that rate. A rate that
    // is not positive means no pacing.
    GraphicsPacingState& p = s.pacing;
    p.softSync = hertz > 0 ? 1 : 0;
    if (p.softSync && depth != 0 && DisplayKeepsRate(s, hertz)) p.softSync = 0;
    p.syncHertz = hertz;
    p.periodMs = hertz > 0 ? 1000 / hertz : 0;
    p.periodRemainder = hertz > 0 ? 1000 - p.periodMs * hertz : 0;
    p.remainderAccumulator = 0;
    p.nextFlipTime = s.system.now();

    s.opened = g;
    if (depth != 0) s.system.placePointer(width / 2, height / 2);
    // Installs PolledInputHook on the event-emit chain: from here on every
    // event the pump emits updates the key and button tables.
    StartPolledInput(nullptr);
    if (!s.exitCloseRegistered) {
        s.exitCloseRegistered = true;
        std::atexit(EndOpenedGraphicsAtExit);
    }
    return g;
}

void EndOpenedGraphics() {
    ManagerState& s = State();
    if (!s.opened) return;
    StopPolledInput();
    CloseGraphicsContext(s.opened);
}

void FlipPage(int32_t sync) {
    ManagerState& s = State();
    RunHookChain(s.pageFlipHookId, nullptr);
    TGraphicsDriver& driver = RequireDriver(s);
    if (sync != -1) {
        driver.Flip(sync);
        return;
    }
    GraphicsPacingState& p = s.pacing;
    if (s.current != s.opened || !s.opened || p.softSync == 0) {
        driver.Flip(s.depth != 0 ? 1 : 0);
        return;
    }
    // Paced frames last periodMs, one millisecond more whenever the remainders
    // add up to a whole one (16, 17, 17 at 60 Hz). A late frame moves the
    // schedule to now, so it is never followed by a burst of catch-up frames.
    p.nextFlipTime = Add(p.nextFlipTime, p.periodMs);
    p.remainderAccumulator += p.periodRemainder;
    if (p.remainderAccumulator >= p.syncHertz) {
        p.remainderAccumulator -= p.syncHertz;
        p.nextFlipTime = Add(p.nextFlipTime, 1);
    }
    const int32_t wait = Diff(p.nextFlipTime, s.system.now());
    if (wait <= 0) {
        p.nextFlipTime = Diff(p.nextFlipTime, wait);
    } else {
        s.system.sleep(wait);
    }
    driver.Flip(0);
}
