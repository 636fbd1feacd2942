#pragma once
// Finding the program's windows on the test server by their WM_CLASS, for the
// suites that check what the server shows.

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <string>
#include <vector>

// Top-level windows (children of the root) whose WM_CLASS class is className.
inline std::vector<Window> FindWindowsByClass(Display* display, const std::string& className) {
    std::vector<Window> found;
    Window root = DefaultRootWindow(display), parent = 0, *children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &root, &parent, &children, &count)) return found;
    for (unsigned int i = 0; i < count; ++i) {
        XClassHint hint{};
        if (XGetClassHint(display, children[i], &hint)) {
            if (hint.res_class && className == hint.res_class) found.push_back(children[i]);
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
        }
    }
    if (children) XFree(children);
    return found;
}
