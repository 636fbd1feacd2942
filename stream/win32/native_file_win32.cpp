// Disk files on Windows: the wide calls with the path as UTF-16 on the NT
// family, else the narrow ones with each character's low 8 bits. A
// replacement is flushed to the disk (FlushFileBuffers through _commit) and
// moved over its target with MoveFileEx, replacing it in one step.
#include "stream/native_file.h"

#include "runtime/win32/win32_text.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

namespace {

std::string ErrorText(int error) { return std::strerror(error != 0 ? error : EIO); }

// The system's text for a Win32 error code, without its line end.
std::string Win32ErrorText(DWORD error) {
    wchar_t* text = nullptr;
    const DWORD n =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string utf8 = n > 0 ? Win32Utf8(text, n) : "Windows error " + std::to_string(error);
    if (text) LocalFree(text);
    while (!utf8.empty() && (utf8.back() == '\n' || utf8.back() == '\r' || utf8.back() == ' ')) utf8.pop_back();
    return utf8;
}

DWORD Attributes(const std::string& path) {
    return UseWideApi() ? GetFileAttributesW(Win32Wide(path).c_str()) : GetFileAttributesA(Win32Narrow(path).c_str());
}

const char* const kDirectory = "it is a directory, not a regular file";
const char* const kNotDisk = "it is a device or a pipe, not a regular file";

// Whether an existing path is a file on a disk (not a device such as NUL or
// CON, nor a pipe); opened without any access, so nothing waits or changes.
bool IsDiskFile(const std::string& path) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE handle = UseWideApi() ? CreateFileW(Win32Wide(path).c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr)
                                 : CreateFileA(Win32Narrow(path).c_str(), 0, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return true;  // the move will say what is wrong
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace

std::FILE* OpenNativeFile(const std::string& path, const char* mode, std::string& why) {
    std::FILE* file = UseWideApi() ? _wfopen(Win32Wide(path).c_str(), Win32Wide(mode).c_str())
                                   : std::fopen(Win32Narrow(path).c_str(), mode);
    if (!file) {
        const DWORD attributes = Attributes(path);
        why = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? kDirectory
                                                                                               : ErrorText(errno);
        return nullptr;
    }
    // Devices (CON, NUL) and pipes are no disk files.
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)))) != FILE_TYPE_DISK) {
        std::fclose(file);
        why = kNotDisk;
        return nullptr;
    }
    return file;
}

namespace {

// A new handle for writing the temporary file at path, created as disposition
// says; others may read it meanwhile (a recording's part file is read as it grows).
HANDLE CreateTempHandle(const std::string& path, DWORD disposition) {
    return UseWideApi() ? CreateFileW(Win32Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr)
                        : CreateFileA(Win32Narrow(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Makes handle the C library's file of made; on failure why, and the file removed.
void AdoptTempHandle(TNativeTemp& made, HANDLE handle, std::string& why) {
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_WRONLY);
    made.file = fd < 0 ? nullptr : _fdopen(fd, "wb");
    if (!made.file) {
        why = ErrorText(errno);
        if (fd < 0)
            CloseHandle(handle);
        else
            _close(fd);
        DiscardNativeTemp(made);
    }
}

}  // namespace

TNativeTemp CreateNativeTemp(const std::string& target, std::string& why, const char* suffix) {
    TNativeTemp made;
    made.target = target;
    const DWORD attributes = Attributes(target);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return why = kDirectory, made;
    if (attributes != INVALID_FILE_ATTRIBUTES && !IsDiskFile(target)) return why = kNotDisk, made;

    if (suffix) {
        // A part file left by a run that died is emptied; anything else of that name is refused.
        made.temp = target + suffix;
        const DWORD left = Attributes(made.temp);
        if (left != INVALID_FILE_ATTRIBUTES && ((left & FILE_ATTRIBUTE_DIRECTORY) || !IsDiskFile(made.temp)))
            return why = "its part file " + made.temp + ": " +
                         ((left & FILE_ATTRIBUTE_DIRECTORY) ? kDirectory : kNotDisk),
                   made;
        HANDLE handle = CreateTempHandle(made.temp, CREATE_ALWAYS);
        if (handle == INVALID_HANDLE_VALUE) return why = Win32ErrorText(GetLastError()), made;
        AdoptTempHandle(made, handle, why);
        return made;
    }
    static unsigned serial = 0;  // names differ within a process; CREATE_NEW settles the rest
    const std::string folder = FolderOf(target);
    const std::string name = target.substr(folder.size());
    for (int attempt = 0; attempt < 100; ++attempt) {
        made.temp =
            folder + "." + name + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(serial++) + ".tmp";
        HANDLE handle = CreateTempHandle(made.temp, CREATE_NEW);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return why = Win32ErrorText(error), made;
        }
        AdoptTempHandle(made, handle, why);
        return made;
    }
    why = Win32ErrorText(ERROR_FILE_EXISTS);
    return made;
}

std::string ReplaceWithNativeTemp(const TNativeTemp& temp) {
    // Failed writes are the stream's to report; here only what is left to go out.
    errno = 0;
    int error = std::fflush(temp.file) != 0 ? (errno ? errno : EIO) : 0;
    if (error == 0 && _commit(_fileno(temp.file)) != 0) error = errno ? errno : EIO;
    if (std::fclose(temp.file) != 0 && error == 0) error = errno ? errno : EIO;
    std::string why = error != 0 ? ErrorText(error) : "";
    const DWORD how = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (why.empty() &&
        !(UseWideApi() ? MoveFileExW(Win32Wide(temp.temp).c_str(), Win32Wide(temp.target).c_str(), how)
                       : MoveFileExA(Win32Narrow(temp.temp).c_str(), Win32Narrow(temp.target).c_str(), how)))
        why = Win32ErrorText(GetLastError());
    if (!why.empty()) {
        TNativeTemp closed = temp;
        closed.file = nullptr;
        DiscardNativeTemp(closed);
    }
    return why;
}

void DiscardNativeTemp(const TNativeTemp& temp) {
    if (temp.file) std::fclose(temp.file);
    if (UseWideApi())
        DeleteFileW(Win32Wide(temp.temp).c_str());
    else
        DeleteFileA(Win32Narrow(temp.temp).c_str());
}
