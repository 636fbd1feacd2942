#pragma once
// Text between the library's UTF-8 strings and the UTF-16 of the wide Win32
// calls, and the runtime's choice between the wide and the 8-bit calls.
// Only win32/ folders include this header.

#include <cstdint>
#include <string>

// useWideApi: 1 when the wide-character Win32 calls are used (the Windows NT
// family), else 0. Decided on first use, so static constructors see it too.
int32_t UseWideApi();

// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::wstring Win32Wide(const std::string& utf8);
// UTF-16 (NUL-terminated or of the given length) to UTF-8.
std::string Win32Utf8(const wchar_t* utf16, size_t length = std::string::npos);
// 8-bit text for the narrow calls: each character's low 8 bits.
std::string Win32Narrow(const std::string& utf8);
