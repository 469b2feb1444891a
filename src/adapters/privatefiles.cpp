#include "adapters/privatefiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace {

constexpr mode_t kPrivateFileMode = 0600;
constexpr mode_t kPrivateFolderMode = 0700;

// Closes the descriptor, keeping errno for the caller.
void CloseKeepingErrno(int descriptor) {
    const int code = errno;
    ::close(descriptor);
    errno = code;
}

}  // namespace

EInOutError FileError(int code) {
    // A link where our file belongs is refused as a file we may not touch.
    if (code == EACCES || code == EPERM || code == EROFS || code == ELOOP) return EInOutError("File access denied");
    if (code == ENOENT) return EInOutError("File not found");
    if (code == ENOSPC) return EInOutError("Disk full");
    return EInOutError("I/O error " + std::to_string(code));
}

int OpenRegularFileForWriting(const std::string& path, int flags, TOwner owner) {
    // Non-blocking, so a FIFO without a reader fails at once instead of waiting.
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | flags, kPrivateFileMode);
    // No reader at a FIFO or socket: no file of ours either.
    if (descriptor < 0) throw FileError(errno == ENXIO ? EACCES : errno);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        CloseKeepingErrno(descriptor);
        throw FileError(errno);
    }
    if (!S_ISREG(status.st_mode) || (owner == TOwner::ThisUser && status.st_uid != ::geteuid())) {
        ::close(descriptor);
        throw FileError(EACCES);
    }
    // Emptied only when there is something to empty: ext4 flushes a file
    // truncated to nothing when it is closed, which would stall the closer.
    const int current = ::fcntl(descriptor, F_GETFL);
    if (current < 0 || ::fcntl(descriptor, F_SETFL, current & ~O_NONBLOCK) != 0 ||
        (status.st_size > 0 && ::ftruncate(descriptor, 0) != 0)) {
        CloseKeepingErrno(descriptor);
        throw FileError(errno);
    }
    return descriptor;
}

int OpenPrivateFile(const std::string& path) {
    const int descriptor = OpenRegularFileForWriting(path, O_NOFOLLOW, TOwner::ThisUser);
    if (::fchmod(descriptor, kPrivateFileMode) != 0) {
        CloseKeepingErrno(descriptor);
        throw FileError(errno);
    }
    return descriptor;
}

int CreatePrivateFile(const std::string& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kPrivateFileMode);
}

bool MakePrivateFolders(const std::string& path) {
    std::filesystem::path folder;
    for (const std::filesystem::path& part : std::filesystem::path(path)) {
        folder /= part;
        if (part.empty() || part == folder.root_path()) continue;
        if (::mkdir(folder.c_str(), kPrivateFolderMode) != 0 && errno != EEXIST) return false;
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return false;
    if (!S_ISDIR(status.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

bool WriteAll(int descriptor, const std::string& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t written = ::write(descriptor, bytes.data() + at, bytes.size() - at);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        at += static_cast<std::size_t>(written);
    }
    return true;
}
