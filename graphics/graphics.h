#pragma once
// Graphics drivers and contexts, display modes, and the manager that opens the
// program's graphics and presents its pages (with optional software pacing).
//
// Everything here runs on the main thread, the thread that owns the windows.
// The module starts on first use of any manager function (it reserves the
// page-flip hook id then), so no static initialiser depends on another library.

#include "graphics/graphics_flags.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TGraphicsDriver;

// A drawing surface made by a driver. Every operation but _pad is abstract here.
class TGraphics {
public:
    virtual ~TGraphics() = default;
    // Does nothing; returns 0.
    virtual int32_t _pad();
    // The driver that made this graphics.
    virtual std::shared_ptr<TGraphicsDriver> Driver();
    // Writes width, height, depth, hertz and flags (null pointers are skipped).
    virtual int32_t GetSettings(int32_t* width, int32_t* height, int32_t* depth, int32_t* hertz, int32_t* flags);
    // Releases the surface; closing twice is harmless.
    virtual int32_t Close();
};

// One display mode: size, colour depth in bits and refresh rate (0: any).
class TGraphicsMode {
public:
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;
    int32_t hertz = 0;

    TGraphicsMode() = default;
    TGraphicsMode(int32_t w, int32_t h, int32_t d, int32_t hz) : width(w), height(h), depth(d), hertz(hz) {}
    // "width,height,depth hertzHz", e.g. 800,600,32 60Hz.
    std::string ToString() const;
};

// A list of display modes (entries may be null).
using TGraphicsModeArray = std::vector<std::shared_ptr<TGraphicsMode>>;

// Makes graphics for one rendering API. Every operation is abstract here.
class TGraphicsDriver {
public:
    virtual ~TGraphicsDriver() = default;
    // The display modes the driver can set.
    virtual TGraphicsModeArray GraphicsModes();
    // Graphics on a window the caller made (a native window handle); null on failure.
    virtual std::shared_ptr<TGraphics> AttachGraphics(uintptr_t widget, int32_t flags);
    // Graphics in a window of its own (depth 0: on the desktop, else fullscreen); null on failure.
    virtual std::shared_ptr<TGraphics> CreateGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                                      int32_t flags);
    // Makes g (or nothing, for null) current for this driver's rendering API.
    virtual int32_t SetGraphics(const std::shared_ptr<TGraphics>& g);
    // Presents the current back buffer; sync != 0 waits for the vertical blank.
    virtual int32_t Flip(int32_t sync);
};

// Makes driver current; its default flags are ORed into every create and attach.
void SelectGraphicsDriver(std::shared_ptr<TGraphicsDriver> driver, int32_t defaultFlags);
// The current default flags.
int32_t DefaultGraphicsFlags();
// A copy of the current driver's mode list (fetched once per driver); needs a driver.
TGraphicsModeArray ListGraphicsModes();
// The number of modes ListGraphicsModes reports.
int32_t GraphicsModeCount();
// The fields of mode index; an index outside the list raises the array-bounds error.
void GetGraphicsModeAt(int32_t index, int32_t* width, int32_t* height, int32_t* depth, int32_t* hertz);
// 1 when some mode matches (0 in an argument matches anything), else 0.
int32_t HasGraphicsMode(int32_t width, int32_t height, int32_t depth, int32_t hertz);
// Graphics from the current driver, or null (failures and runtime errors alike).
std::shared_ptr<TGraphics> CreateGraphicsContext(int32_t width, int32_t height, int32_t depth, int32_t hertz,
                                                 int32_t flags);
// The text of the runtime error that made the last CreateGraphicsContext or
// AttachGraphicsContext give null; empty when none was raised.
std::string LastGraphicsContextError();
// Graphics on a caller's window from the current driver, or null.
std::shared_ptr<TGraphics> AttachGraphicsContext(uintptr_t widget, int32_t flags);
// Forgets g as opened and current graphics, then closes it.
void CloseGraphicsContext(const std::shared_ptr<TGraphics>& g);
// Makes g current (its driver becomes the current driver) and captures its settings.
void SelectGraphics(const std::shared_ptr<TGraphics>& g);
// The current graphics, or null.
std::shared_ptr<TGraphics> ActiveGraphics();
// Width captured when the current graphics was selected (0 for none).
int32_t ActiveGraphicsWidth();
// Height captured when the current graphics was selected (0 for none).
int32_t ActiveGraphicsHeight();
// Depth captured when the current graphics was selected (0 for none).
int32_t ActiveGraphicsDepth();
// Refresh rate captured when the current graphics was selected (0 for none).
int32_t ActiveGraphicsHertz();
// Flags captured when the current graphics was selected (0 for none).
int32_t ActiveGraphicsFlags();
// Closes the previously opened graphics, opens and selects a new one, sets up
// pacing and polled input (StartPolledInput installs the polled-input hook);
// null (and nothing else changed) on failure.
std::shared_ptr<TGraphics> OpenGraphics(int32_t width, int32_t height, int32_t depth, int32_t hertz, int32_t flags);
// Stops polled input and closes the opened graphics, if any. Runs at process exit.
void EndOpenedGraphics();
// Runs the page-flip hook chain, then presents: 0 no sync, 1 vertical sync,
// -1 the opened graphics' default (software pacing for a windowed rate).
void FlipPage(int32_t sync);
// The hook chain run at the start of every FlipPage.
int32_t PageFlipHookId();
