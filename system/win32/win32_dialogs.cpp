// Message boxes, the open and save file choosers, the folder chooser and the
// shell's open, on Win32. Every dialog is modal and restores the focused
// window afterwards; the wide calls are used when UseWideApi() says so.
#include "system/win32/win32_system.h"

#include "runtime/startup.h"
#include "runtime/win32/win32_text.h"
#include "system/services.h"

#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <cstddef>

namespace {

const UINT kTopMost = MB_TOPMOST;
// Return only file-system folders, new dialog style.
const UINT kFolderFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;

// Saves the focused window and gives it the focus back at scope end.
struct FocusKeeper {
    HWND saved = GetFocus();
    ~FocusKeeper() {
        if (saved) SetFocus(saved);
    }
};

int MessageBoxOf(const std::string& text, UINT buttons, int32_t serious) {
    FocusKeeper keep;
    const UINT style = buttons | (serious ? MB_ICONWARNING : MB_ICONINFORMATION) | kTopMost;
    if (UseWideApi())
        return MessageBoxW(GetActiveWindow(), Win32Wide(text).c_str(), Win32Wide(ApplicationTitle()).c_str(), style);
    return MessageBoxA(GetActiveWindow(), Win32Narrow(text).c_str(), Win32Narrow(ApplicationTitle()).c_str(), style);
}

std::string Replaced(std::string text, char from, char to) {
    std::replace(text.begin(), text.end(), from, to);
    return text;
}

// A chooser's filter as the dialogs take it: each group's description and
// its patterns ("Images\0*.png;*.jpg\0Text\0*.txt\0", and the string's own
// final NUL ends the list), groups without extensions left out; and the
// 1-based group to preselect for the initial file (0: none). The groups and
// the preselection are those every platform's chooser shows.
struct TDialogFilter {
    std::string text;
    DWORD index = 0;
};

TDialogFilter DialogFilter(const std::string& extensions, const std::string& path) {
    const int32_t preselected = InitialFilterIndex(extensions, path);
    const std::vector<TFileFilterGroup> groups = FileFilterGroups(extensions);
    TDialogFilter filter;
    DWORD listed = 0;
    for (size_t i = 0; i < groups.size(); ++i) {
        if (groups[i].extensions.empty()) continue;
        ++listed;
        if (static_cast<int32_t>(i + 1) == preselected) filter.index = listed;
        filter.text += groups[i].description;
        filter.text.push_back('\0');
        for (size_t e = 0; e < groups[i].extensions.size(); ++e)
            filter.text += (e == 0 ? "*." : ";*.") + groups[i].extensions[e];
        filter.text.push_back('\0');
    }
    return filter;
}

template <typename Char, typename Record>
void FillFileRecord(Record& record, const std::basic_string<Char>& title, const std::basic_string<Char>& filter,
                    DWORD filterIndex, Char* file, const std::basic_string<Char>& directory, bool save) {
    // The record's older size, ending before the places bar: 76 bytes in a
    // 32-bit program, more with 64-bit pointers (the dialogs refuse 76 there).
    record.lStructSize = static_cast<DWORD>(offsetof(Record, lpTemplateName) + sizeof record.lpTemplateName);
    record.lpstrTitle = title.c_str();
    record.lpstrFilter = filter.empty() ? nullptr : filter.c_str();
    record.nFilterIndex = filterIndex;
    record.lpstrFile = file;
    record.nMaxFile = MAX_PATH;
    record.lpstrInitialDir = directory.empty() ? nullptr : directory.c_str();
    record.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | (save ? OFN_OVERWRITEPROMPT : OFN_FILEMUSTEXIST);
}

// The folder chooser's new dialog style needs COM in a single-threaded
// apartment on the calling thread: joined for the dialog's time, each
// successful join (one into an apartment the thread already had too) left
// after; a thread of the multi-threaded apartment stays in it.
struct ComApartment {
    HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ~ComApartment() {
        if (SUCCEEDED(joined)) CoUninitialize();
    }
};

// Selects the starting folder when the folder chooser opens; shows each
// selected folder's path as status text.
int CALLBACK FolderCallbackW(HWND dialog, UINT message, LPARAM lParam, LPARAM start) {
    if (message == BFFM_INITIALIZED) {
        SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, start);
    } else if (message == BFFM_SELCHANGED) {
        wchar_t path[MAX_PATH];
        if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
            SendMessageW(dialog, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

int CALLBACK FolderCallbackA(HWND dialog, UINT message, LPARAM lParam, LPARAM start) {
    if (message == BFFM_INITIALIZED) {
        SendMessageA(dialog, BFFM_SETSELECTIONA, TRUE, start);
    } else if (message == BFFM_SELCHANGED) {
        char path[MAX_PATH];
        if (SHGetPathFromIDListA(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
            SendMessageA(dialog, BFFM_SETSTATUSTEXTA, 0, reinterpret_cast<LPARAM>(path));
    }
    return 0;
}

// The folder chooser in either width: starts at the absolute form of start,
// returns the chosen folder or "".
template <typename Info, typename Char>
std::basic_string<Char> BrowseForFolder(const std::basic_string<Char>& start, const std::basic_string<Char>& title,
                                        DWORD(WINAPI* fullPath)(const Char*, DWORD, Char*, Char**),
                                        BFFCALLBACK callback, PIDLIST_ABSOLUTE(WINAPI* browse)(Info*),
                                        BOOL(WINAPI* pathOf)(PCIDLIST_ABSOLUTE, Char*)) {
    Char absolute[MAX_PATH] = {0};
    fullPath(start.c_str(), MAX_PATH, absolute, nullptr);
    Info info{};
    info.lpszTitle = title.c_str();
    info.ulFlags = kFolderFlags;
    info.lpfn = callback;
    info.lParam = reinterpret_cast<LPARAM>(absolute);
    std::basic_string<Char> chosen;
    if (PIDLIST_ABSOLUTE list = browse(&info)) {
        Char folder[MAX_PATH];
        if (pathOf(list, folder)) chosen = folder;
        CoTaskMemFree(list);
    }
    return chosen;
}

}  // namespace

int32_t TWin32SystemDriver::Notify(const std::string& text, int32_t serious) {
    MessageBoxOf(text, MB_OK, serious);
    return 0;
}

int32_t TWin32SystemDriver::Confirm(const std::string& text, int32_t serious) {
    return MessageBoxOf(text, MB_OKCANCEL, serious) == IDOK ? 1 : 0;
}

int32_t TWin32SystemDriver::Proceed(const std::string& text, int32_t serious) {
    switch (MessageBoxOf(text, MB_YESNOCANCEL, serious)) {
    case IDYES: return 1;
    case IDNO: return 0;
    default: return -1;
    }
}

std::string TWin32SystemDriver::RequestFile(const std::string& text, const std::string& extensions, int32_t save,
                                            const std::string& path) {
    FocusKeeper keep;
    // Either separator may be given; the dialogs take native ones.
    const std::string portable = Replaced(path, '\\', '/');
    const TChooserStart start = SplitChooserPath(portable);
    const std::string directory = Replaced(start.directory, '/', '\\');
    const std::string& name = start.file;
    const TDialogFilter dialogFilter = DialogFilter(extensions, portable);
    const DWORD filterIndex = dialogFilter.index;
    const std::string& filter = dialogFilter.text;
    if (UseWideApi()) {
        wchar_t file[MAX_PATH] = {0};
        const std::wstring wideName = Win32Wide(name).substr(0, MAX_PATH - 1);
        std::copy(wideName.begin(), wideName.end(), file);
        OPENFILENAMEW record{};
        const std::wstring title = Win32Wide(text), wideFilter = Win32Wide(filter), wideDir = Win32Wide(directory);
        FillFileRecord(record, title, wideFilter, filterIndex, file, wideDir, save != 0);
        const BOOL ok = save ? GetSaveFileNameW(&record) : GetOpenFileNameW(&record);
        return ok ? Win32Utf8(file) : std::string();
    }
    char file[MAX_PATH] = {0};
    const std::string narrowName = Win32Narrow(name).substr(0, MAX_PATH - 1);
    std::copy(narrowName.begin(), narrowName.end(), file);
    OPENFILENAMEA record{};
    const std::string title = Win32Narrow(text), narrowFilter = Win32Narrow(filter), narrowDir = Win32Narrow(directory);
    FillFileRecord(record, title, narrowFilter, filterIndex, file, narrowDir, save != 0);
    const BOOL ok = save ? GetSaveFileNameA(&record) : GetOpenFileNameA(&record);
    return ok ? std::string(file) : std::string();
}

std::string TWin32SystemDriver::RequestDir(const std::string& text, const std::string& path) {
    FocusKeeper keep;
    ComApartment com;
    const std::string native = Replaced(path, '/', '\\');
    if (UseWideApi())
        return Win32Utf8(BrowseForFolder<BROWSEINFOW>(Win32Wide(native), Win32Wide(text), GetFullPathNameW,
                                                      FolderCallbackW, SHBrowseForFolderW, SHGetPathFromIDListW)
                             .c_str());
    return BrowseForFolder<BROWSEINFOA>(Win32Narrow(native), Win32Narrow(text), GetFullPathNameA, FolderCallbackA,
                                        SHBrowseForFolderA, SHGetPathFromIDListA);
}

int32_t TWin32SystemDriver::OpenURL(const std::string& url) {
    // ShellExecute reports success with a value above 32.
    const INT_PTR kShellSuccess = 32;
    HINSTANCE result =
        UseWideApi() ? ShellExecuteW(nullptr, nullptr, Win32Wide(url).c_str(), nullptr, nullptr, SW_SHOWDEFAULT)
                     : ShellExecuteA(nullptr, nullptr, Win32Narrow(url).c_str(), nullptr, nullptr, SW_SHOWDEFAULT);
    return reinterpret_cast<INT_PTR>(result) > kShellSuccess ? 1 : 0;
}
