#pragma once
// Desktop services: modal message boxes, file and folder choosers, handing a
// URL or file to the desktop, and the date and time as text. The dialogs and
// OpenUrlInShell forward to the system driver; the rest is shared by every
// platform. Main thread only.

#include <cstdint>
#include <string>
#include <vector>

// A message box with OK; a warning when serious, information otherwise. Returns 0.
int32_t NotifyUser(const std::string& text, int32_t serious);
// OK and Cancel: 1 for OK, 0 otherwise (a closed or failed box too).
int32_t ConfirmWithUser(const std::string& text, int32_t serious);
// Yes, No and Cancel: 1 yes, 0 no, -1 cancel, a closed box or a failure.
int32_t ProceedWithUser(const std::string& text, int32_t serious);
// The open (save 0) or save (save 1) file chooser titled text, filtered by
// extensions ("Image Files:png,jpg;Text:txt"), starting at path; the chosen
// path, or "" when cancelled.
std::string AskForFile(const std::string& text, const std::string& extensions, int32_t save, const std::string& path);
// The folder chooser titled text, starting at path; the chosen folder or "".
std::string AskForDirectory(const std::string& text, const std::string& path);
// Opens url with the desktop after NormaliseShellUrl; 1 when that started,
// else 0 (also for the empty text, which opens nothing).
int32_t OpenUrlInShell(const std::string& url);
// Today's local date, "%d %b %Y" in the process's locale ("08 Dec 2026").
std::string TodayText();
// The local time now, "%H:%M:%S".
std::string ClockText();

// A url as OpenUrlInShell hands it on: one starting with a URL scheme and
// ":" ("https:", "mailto:"; a letter, then letters, digits, "+", "-", ".";
// two characters at least, so that "C:" stays a drive) is left alone;
// otherwise the text before the first "#" is
// resolved to a real path and, when it names an existing file or directory,
// becomes "file:" + that path, else "http:" + the text; the "#" anchor is
// carried over either way.
std::string NormaliseShellUrl(const std::string& url);

// One group of a file chooser's filter: a description and its extensions.
struct TFileFilterGroup {
    std::string description;
    std::vector<std::string> extensions;  // without "*." ("png")
};
// The groups of an extension list: groups separated by ";", each a
// description, ":" and extensions separated by ","; a group without ":" is
// described "Files" (so "png,jpg" is one group "Files"). Empty list: none.
std::vector<TFileFilterGroup> FileFilterGroups(const std::string& extensions);
// The 1-based group to preselect for a chooser starting at path: the first
// group listing the extension of path's file name (the text after the first
// "." of the part after the last "/", compared without case); 0 when none.
int32_t InitialFilterIndex(const std::string& extensions, const std::string& path);

// A chooser's starting point split at the last "/": directory and file name.
// Without "/" the whole path is the file name and the directory is empty.
struct TChooserStart {
    std::string directory;
    std::string file;
};
TChooserStart SplitChooserPath(const std::string& path);
