#include "system/x11/x11_system.h"

#include "system/x11/x11_internal.h"

int32_t VirtualKeyOfEvent(const XKeyEvent&) { return 0; }

void X11ForgetHeldKeys() {}

void TranslateWindowMessage(const XEvent&, EventSource) {}
