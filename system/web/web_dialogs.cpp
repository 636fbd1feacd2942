// Message boxes through the browser's own dialogs, the file and folder
// choosers that a page cannot offer, and opening a URL in a new tab. Without
// a browser window (under node) a dialog counts as cancelled.
#include "system/web/web_system.h"

#include "runtime/startup.h"

#include <emscripten.h>
#include <emscripten/em_js.h>

namespace {

// kind 0 alert, 1 confirm; the answer 1 for OK, 0 otherwise.
// The JavaScript inside EM_JS is stringified as written: the formatter keeps off it.
// clang-format off
EM_JS(int, fk_dialog, (int kind, const char* titleText, const char* messageText), {
    if (typeof window === 'undefined' || typeof window.alert !== 'function') return 0;
    var text = UTF8ToString(messageText);
    var title = UTF8ToString(titleText);
    // The browser's dialogs have no caption of their own: the title heads the text.
    var shown = title ? title + '\n\n' + text : text;
    if (kind === 0) {
        window.alert(shown);
        return 0;
    }
    return window.confirm(shown) ? 1 : 0;
});

EM_JS(void, fk_console_line, (const char* lineText), { console.warn(UTF8ToString(lineText)); });

EM_JS(int, fk_open_tab, (const char* urlText), {
    if (typeof window === 'undefined' || typeof window.open !== 'function') return 0;
    var tab = window.open(UTF8ToString(urlText), '_blank');
    if (!tab) return 0;
    tab.opener = null;
    return 1;
});
// clang-format on

}  // namespace

int32_t TWebSystemDriver::Notify(const std::string& text, int32_t) {
    fk_dialog(0, ApplicationTitle().c_str(), text.c_str());
    return 0;
}

int32_t TWebSystemDriver::Confirm(const std::string& text, int32_t) {
    return fk_dialog(1, ApplicationTitle().c_str(), text.c_str());
}

// The browser's confirmation has two answers: OK is yes, cancelling is no.
int32_t TWebSystemDriver::Proceed(const std::string& text, int32_t) {
    return fk_dialog(1, ApplicationTitle().c_str(), text.c_str()) == 1 ? 1 : 0;
}

std::string TWebSystemDriver::RequestFile(const std::string&, const std::string&, int32_t save, const std::string&) {
    fk_console_line(save ? "Web: the save file chooser is not available in a browser"
                         : "Web: the open file chooser is not available in a browser");
    return "";
}

std::string TWebSystemDriver::RequestDir(const std::string&, const std::string&) {
    fk_console_line("Web: the folder chooser is not available in a browser");
    return "";
}

int32_t TWebSystemDriver::OpenURL(const std::string& url) { return fk_open_tab(url.c_str()); }
