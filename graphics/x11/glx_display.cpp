// Display modes through XRandR, the primary monitor and the screen saver.
//
// Modes are the screen configurations of RandR (sizes, each with its refresh
// rates), which the server maps onto the primary output. X cannot change the
// colour depth of a running screen: every mode reports the screen's own bits
// per pixel, and a fullscreen request for another depth is served at it.

#include "graphics/x11/glx_display.h"

#include "graphics/gl_platform.h"
#include "graphics/x11/glx_internal.h"
#include "system/x11/x11_platform.h"

#include <X11/extensions/Xrandr.h>
#ifdef FK_HAVE_XSS
#include <X11/extensions/scrnsaver.h>
#endif

#include <memory>

namespace {

// The desktop configuration in force before our first mode switch.
struct SavedMode {
    bool valid = false;
    int sizeIndex = 0;
    Rotation rotation = RR_Rotate_0;
    short rate = 0;
};

// The module's state, one instance (main thread only); its initial values are
// the ones written here.
struct GLXDisplayState {
    SavedMode desktop;     // restored when the last fullscreen window lets go
    int saverHolders = 0;  // windows holding the screen saver suspended
#ifndef FK_HAVE_XSS
    // Without the screen-saver extension: the server's settings while suspended.
    int saverTimeout = 0, saverInterval = 0, saverBlanking = 0, saverExposures = 0;
#endif
};

GLXDisplayState displayState;

bool HasRandR(Display* display) {
    int eventBase = 0, errorBase = 0;
    return XRRQueryExtension(display, &eventBase, &errorBase) != 0;
}

struct ConfigDeleter {
    void operator()(XRRScreenConfiguration* c) const { XRRFreeScreenConfigInfo(c); }
};
using ConfigPtr = std::unique_ptr<XRRScreenConfiguration, ConfigDeleter>;

// The screen configuration, read under an error trap (null on failure).
ConfigPtr ReadConfig(Display* display) {
    if (!HasRandR(display)) return nullptr;
    X11BeginErrorTrap();
    XRRScreenConfiguration* config = XRRGetScreenInfo(display, DefaultRootWindow(display));
    if (X11EndErrorTrap() != 0 && config) {
        XRRFreeScreenConfigInfo(config);
        config = nullptr;
    }
    return ConfigPtr(config);
}

// Applies size index and rate (0: any) under an error trap.
bool ApplyConfig(Display* display, XRRScreenConfiguration* config, int sizeIndex, Rotation rotation, short rate) {
    Time configTime = 0;
    Time stamp = XRRConfigTimes(config, &configTime);
    X11BeginErrorTrap();
    Status status =
        rate != 0
            ? XRRSetScreenConfigAndRate(display, config, DefaultRootWindow(display), sizeIndex, rotation, rate, stamp)
            : XRRSetScreenConfig(display, config, DefaultRootWindow(display), sizeIndex, rotation, stamp);
    int error = X11EndErrorTrap();
    return error == 0 && status == RRSetConfigSuccess;
}

// Bits per pixel of the screen's default depth (what a mode reports as its depth).
int ScreenBitsPerPixel(Display* display) {
    int depth = DefaultDepth(display, DefaultScreen(display));
    int bits = depth;
    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display, &count)) {
        for (int i = 0; i < count; ++i)
            if (formats[i].depth == depth) bits = formats[i].bits_per_pixel;
        XFree(formats);
    }
    return bits;
}

}  // namespace

GLXMonitorArea GLXPrimaryMonitorArea(Display* display) {
    GLXMonitorArea area;
    int screen = DefaultScreen(display);
    area.width = DisplayWidth(display, screen);
    area.height = DisplayHeight(display, screen);
    if (!HasRandR(display)) return area;
    int major = 0, minor = 0;
    if (!XRRQueryVersion(display, &major, &minor) || major < 1 || (major == 1 && minor < 5)) return area;
    int count = 0;
    X11BeginErrorTrap();
    XRRMonitorInfo* monitors = XRRGetMonitors(display, DefaultRootWindow(display), True, &count);
    int error = X11EndErrorTrap();
    if (monitors) {
        // The primary monitor, else the first one listed.
        int pick = -1;
        for (int i = 0; i < count && error == 0; ++i) {
            if (pick < 0) pick = i;
            if (monitors[i].primary) {
                pick = i;
                break;
            }
        }
        if (pick >= 0 && monitors[pick].width > 0 && monitors[pick].height > 0) {
            area.x = monitors[pick].x;
            area.y = monitors[pick].y;
            area.width = monitors[pick].width;
            area.height = monitors[pick].height;
        }
        XRRFreeMonitors(monitors);
    }
    return area;
}

bool GLXSetScreenMode(Display* display, int width, int height, int hertz) {
    ConfigPtr config = ReadConfig(display);
    if (!config) return false;
    int sizeCount = 0;
    XRRScreenSize* sizes = XRRConfigSizes(config.get(), &sizeCount);
    int index = -1;
    for (int i = 0; i < sizeCount && index < 0; ++i)
        if (sizes[i].width == width && sizes[i].height == height) index = i;
    if (index < 0) return false;
    if (hertz != 0) {
        // Only ask for a rate the server lists for that size.
        int rateCount = 0;
        short* rates = XRRConfigRates(config.get(), index, &rateCount);
        bool listed = false;
        for (int i = 0; i < rateCount; ++i) listed = listed || rates[i] == hertz;
        if (!listed || hertz > 32767) return false;
    }
    Rotation rotation = RR_Rotate_0;
    int currentIndex = XRRConfigCurrentConfiguration(config.get(), &rotation);
    if (!displayState.desktop.valid) {
        displayState.desktop.sizeIndex = currentIndex;
        displayState.desktop.rotation = rotation;
        displayState.desktop.rate = XRRConfigCurrentRate(config.get());
    }
    if (!ApplyConfig(display, config.get(), index, rotation, static_cast<short>(hertz))) return false;
    displayState.desktop.valid = true;
    return true;
}

void GLXRestoreDesktopMode(Display* display) {
    if (!displayState.desktop.valid) return;
    displayState.desktop.valid = false;
    if (ConfigPtr config = ReadConfig(display))
        ApplyConfig(display, config.get(), displayState.desktop.sizeIndex, displayState.desktop.rotation,
                    displayState.desktop.rate);
}

void GLXHoldScreenSaver(Display* display, bool hold) {
    if (hold) {
        if (displayState.saverHolders++ != 0) return;
    } else {
        if (displayState.saverHolders == 0 || --displayState.saverHolders != 0) return;
    }
    X11BeginErrorTrap();
#ifdef FK_HAVE_XSS
    // Counted by the server per client and dropped when the connection closes,
    // so a crash never leaves the screen saver off.
    int eventBase = 0, errorBase = 0;
    if (XScreenSaverQueryExtension(display, &eventBase, &errorBase)) XScreenSaverSuspend(display, hold ? True : False);
#else
    if (hold) {
        XGetScreenSaver(display, &displayState.saverTimeout, &displayState.saverInterval, &displayState.saverBlanking,
                        &displayState.saverExposures);
        XSetScreenSaver(display, 0, displayState.saverInterval, displayState.saverBlanking,
                        displayState.saverExposures);
    } else {
        XSetScreenSaver(display, displayState.saverTimeout, displayState.saverInterval, displayState.saverBlanking,
                        displayState.saverExposures);
    }
#endif
    X11EndErrorTrap();
}

bool GLXScreenSaverSuspended() { return displayState.saverHolders > 0; }

std::vector<GLDisplayMode> EnumerateDisplayModes(int32_t capacity) {
    std::vector<GLDisplayMode> modes;
    if (capacity <= 0) return modes;
    Display* display = X11Display();
    if (!display) return modes;
    int bits = ScreenBitsPerPixel(display);
    if (bits < 16) return modes;  // palette screens are not offered
    ConfigPtr config = ReadConfig(display);
    if (!config) return modes;
    int sizeCount = 0;
    XRRScreenSize* sizes = XRRConfigSizes(config.get(), &sizeCount);
    for (int i = 0; i < sizeCount; ++i) {
        int rateCount = 0;
        short* rates = XRRConfigRates(config.get(), i, &rateCount);
        // A size without listed rates still is a mode, at "any" rate.
        int entries = rateCount > 0 ? rateCount : 1;
        for (int r = 0; r < entries; ++r) {
            if (static_cast<int32_t>(modes.size()) >= capacity) return modes;
            modes.push_back({sizes[i].width, sizes[i].height, bits, rateCount > 0 ? rates[r] : 0});
        }
    }
    return modes;
}
