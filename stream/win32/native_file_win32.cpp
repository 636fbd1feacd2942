// Disk files on Windows: the wide open with the path and mode as UTF-16 on
// the NT family, else the narrow open with each character's low 8 bits.
#include "stream/native_file.h"

#include "runtime/win32/win32_text.h"

std::FILE* OpenNativeFile(const std::string& path, const char* mode) {
    if (UseWideApi()) return _wfopen(Win32Wide(path).c_str(), Win32Wide(mode).c_str());
    return std::fopen(Win32Narrow(path).c_str(), mode);
}
