#include "system/services.h"

#include "system/system_driver.h"
#include "system/system_host.h"

#include <cctype>
#include <ctime>
#include <filesystem>

namespace {

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The pieces of text between separators (empty pieces kept).
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
        pieces.push_back(text.substr(start, at - start));
    pieces.push_back(text.substr(start));
    return pieces;
}

// The local time now through strftime with format; "" when it cannot be had.
std::string LocalTimeText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (!HostLocalTime(now, local)) return "";
    char buffer[256];
    const size_t length = std::strftime(buffer, sizeof buffer, format, &local);
    return std::string(buffer, length);
}

// The real, absolute form of path when it names an existing file or
// directory (through symlinks); "" otherwise.
std::string RealFileOrDirectory(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path real = fs::canonical(fs::u8path(path), error);
    if (error) return "";
    const fs::file_status status = fs::status(real, error);
    if (error || !(fs::is_regular_file(status) || fs::is_directory(status))) return "";
    return real.u8string();
}

}  // namespace

int32_t NotifyUser(const std::string& text, int32_t serious) { return SystemDriver()->Notify(text, serious); }

int32_t ConfirmWithUser(const std::string& text, int32_t serious) { return SystemDriver()->Confirm(text, serious); }

int32_t ProceedWithUser(const std::string& text, int32_t serious) { return SystemDriver()->Proceed(text, serious); }

std::string AskForFile(const std::string& text, const std::string& extensions, int32_t save, const std::string& path) {
    return SystemDriver()->RequestFile(text, extensions, save, path);
}

std::string AskForDirectory(const std::string& text, const std::string& path) {
    return SystemDriver()->RequestDir(text, path);
}

int32_t OpenUrlInShell(const std::string& url) {
    if (url.empty()) return 0;  // nothing to open (the rule below would start the browser on "http:")
    return SystemDriver()->OpenURL(NormaliseShellUrl(url));
}

std::string TodayText() { return LocalTimeText("%d %b %Y"); }

std::string ClockText() { return LocalTimeText("%H:%M:%S"); }

// A scheme is a letter, then letters, digits, "+", "-" or "."; one letter
// before ":" is a drive ("C:\\notes.txt"), which stays a path.
bool StartsWithUrlScheme(const std::string& url) {
    const size_t colon = url.find(':');
    if (colon == std::string::npos || colon < 2 || !std::isalpha(static_cast<unsigned char>(url[0]))) return false;
    for (size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    }
    return true;
}

std::string NormaliseShellUrl(const std::string& url) {
    if (StartsWithUrlScheme(url)) return url;
    const size_t hash = url.find('#');
    const std::string rest = url.substr(0, hash);
    const std::string anchor = hash == std::string::npos ? "" : url.substr(hash);
    const std::string real = rest.empty() ? "" : RealFileOrDirectory(rest);
    if (!real.empty()) return "file:" + real + anchor;
    return "http:" + rest + anchor;
}

std::vector<TFileFilterGroup> FileFilterGroups(const std::string& extensions) {
    std::vector<TFileFilterGroup> groups;
    if (extensions.empty()) return groups;
    for (const std::string& group : Split(extensions, ';')) {
        const size_t colon = group.find(':');
        TFileFilterGroup g;
        g.description = colon == std::string::npos ? "Files" : group.substr(0, colon);
        for (const std::string& e : Split(colon == std::string::npos ? group : group.substr(colon + 1), ','))
            if (!e.empty()) g.extensions.push_back(e);
        groups.push_back(std::move(g));
    }
    return groups;
}

// Two points are this system's choice. The extension comes from the file
// name alone, so a dot in a directory name ("/home/a.b/notes") means
// nothing. And a match in the last group preselects that group, as a match
// in any other group does (the count of groups before the match is not cut
// short by the end of the list).
int32_t InitialFilterIndex(const std::string& extensions, const std::string& path) {
    const std::string file = SplitChooserPath(path).file;
    const size_t dot = file.find('.');
    if (dot == std::string::npos) return 0;
    const std::string key = Lower(file.substr(dot + 1));
    const auto groups = FileFilterGroups(extensions);
    for (size_t i = 0; i < groups.size(); ++i)
        for (const std::string& e : groups[i].extensions)
            if (Lower(e) == key) return static_cast<int32_t>(i + 1);
    return 0;
}

TChooserStart SplitChooserPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {"", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}
