// Disk files on POSIX systems: open(2) without blocking and fstat before the
// C library gets the descriptor; replacements synced with fsync and moved
// into place with rename, which replaces the target atomically.
#include "stream/native_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string ErrorText(int error) { return std::strerror(error != 0 ? error : EIO); }

// Why a file of this type is not opened as a disk file.
std::string NotRegular(mode_t type) {
    const char* kind = S_ISDIR(type)                    ? "a directory"
                       : S_ISFIFO(type)                 ? "a named pipe (FIFO)"
                       : S_ISCHR(type) || S_ISBLK(type) ? "a device"
                       : S_ISSOCK(type)                 ? "a socket"
                                                        : "something other than a file";
    return std::string("it is ") + kind + ", not a regular file";
}

// The file a name stands for: a symbolic link's target, so that the link
// still leads to the new file; the name itself when it leads nowhere.
std::string Resolved(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* real = realpath(path.c_str(), nullptr);
    if (!real) return path;
    std::string resolved = real;
    std::free(real);
    return resolved;
}

// The folder part of path, with its final "/" ("" for a bare name).
std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

// Makes the rename itself durable; a folder that cannot be synced is no failure
// of the file, which is complete either way.
void SyncFolder(const std::string& path) {
    const std::string folder = FolderOf(path);
    const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);
    close(fd);
}

// Opens temp as the temporary file of made, emptying a regular file left
// there; a link, a pipe or a device of that name is refused, not written into.
TNativeTemp CreateNamedTemp(TNativeTemp& made, const std::string& temp, const struct stat* target, std::string& why) {
    made.temp = temp;
    struct stat left {};
    if (lstat(temp.c_str(), &left) == 0 && !S_ISREG(left.st_mode))
        return why = "its part file " + temp + ": " + NotRegular(left.st_mode), made;
    // Checked again once open: no O_NONBLOCK wait on a pipe, no link followed.
    const int fd =
        open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return why = ErrorText(errno), made;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        why = "its part file " + temp + ": " + NotRegular(info.st_mode);
        close(fd);
        return made;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (target) (void)fchmod(fd, target->st_mode & 07777);
    made.file = fdopen(fd, "wb");
    if (!made.file) {
        why = ErrorText(errno);
        close(fd);
        unlink(temp.c_str());
    }
    return made;
}

}  // namespace

std::FILE* OpenNativeFile(const std::string& path, const char* mode, std::string& why) {
    const bool update = std::strchr(mode, '+') != nullptr;
    // Without O_NONBLOCK, opening a named pipe waits for a writer that may never come.
    const int fd = open(path.c_str(), (update ? O_RDWR : O_RDONLY) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = errno == EISDIR ? NotRegular(S_IFDIR) : ErrorText(errno);
        return nullptr;
    }
    struct stat info {};
    const bool known = fstat(fd, &info) == 0;
    if (!known || !S_ISREG(info.st_mode)) {
        why = known ? NotRegular(info.st_mode) : ErrorText(errno);
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* file = fdopen(fd, mode);
    if (!file) {
        why = ErrorText(errno);
        close(fd);
    }
    return file;
}

TNativeTemp CreateNativeTemp(const std::string& target, std::string& why, const char* suffix) {
    TNativeTemp made;
    made.target = Resolved(target);
    struct stat info {};
    const bool exists = stat(made.target.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) return why = ErrorText(errno), made;
    if (exists && !S_ISREG(info.st_mode)) return why = NotRegular(info.st_mode), made;
    if (suffix) return CreateNamedTemp(made, target + suffix, exists ? &info : nullptr, why);

    static unsigned serial = 0;  // names differ within a process; O_EXCL settles the rest
    const std::string folder = FolderOf(made.target);
    const std::string name = made.target.substr(folder.size());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string unique = std::to_string(getpid()) + "-" + std::to_string(serial++) + ".tmp";
        // Hidden beside the target; a name too long for that falls back to a short one.
        made.temp = folder + "." + (name.size() + unique.size() + 2 < NAME_MAX ? name + "." : "") + unique;
        const int fd = open(made.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) return why = ErrorText(errno), made;
        if (exists) (void)fchmod(fd, info.st_mode & 07777);
        made.file = fdopen(fd, "wb");
        if (!made.file) {
            why = ErrorText(errno);
            close(fd);
            unlink(made.temp.c_str());
        }
        return made;
    }
    why = ErrorText(EEXIST);
    return made;
}

std::string ReplaceWithNativeTemp(const TNativeTemp& temp) {
    // Failed writes are the stream's to report; here only what is left to go out.
    errno = 0;
    int error = std::fflush(temp.file) != 0 ? (errno ? errno : EIO) : 0;
    if (error == 0 && fsync(fileno(temp.file)) != 0) error = errno;
    if (std::fclose(temp.file) != 0 && error == 0) error = errno ? errno : EIO;
    if (error == 0 && rename(temp.temp.c_str(), temp.target.c_str()) != 0) error = errno;
    if (error != 0) {
        unlink(temp.temp.c_str());
        return ErrorText(error);
    }
    SyncFolder(temp.target);
    return "";
}

void DiscardNativeTemp(const TNativeTemp& temp) {
    if (temp.file) std::fclose(temp.file);
    unlink(temp.temp.c_str());
}
