#include "runtime/win32/win32_text.h"

#include <windows.h>

#include <cwchar>

namespace {

// GetVersionExA reports the platform the program runs on (2: the NT family).
int32_t IsNtPlatform() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info)) return 1;  // only the NT family lacks nothing here
#pragma GCC diagnostic pop
    return info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 0;
}

}  // namespace

int32_t UseWideApi() {
    static const int32_t useWideApi = IsNtPlatform();
    return useWideApi;
}

std::wstring Win32Wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int length = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, nullptr, 0);
    std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), length, wide.data(), n);
    return wide;
}

std::string Win32Utf8(const wchar_t* utf16, size_t length) {
    if (!utf16) return std::string();
    if (length == std::string::npos) length = std::wcslen(utf16);
    if (length == 0) return std::string();
    const int n = WideCharToMultiByte(CP_UTF8, 0, utf16, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0) WideCharToMultiByte(CP_UTF8, 0, utf16, static_cast<int>(length), utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::string Win32Narrow(const std::string& utf8) {
    std::string narrow;
    for (wchar_t unit : Win32Wide(utf8)) narrow.push_back(static_cast<char>(unit & 0xFF));
    return narrow;
}
