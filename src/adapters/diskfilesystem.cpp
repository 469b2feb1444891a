#include "adapters/diskfilesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "session/errors.h"

namespace {

class TDiskTextFile final : public ITextFile {
public:
    explicit TDiskTextFile(std::ofstream out) : out_(std::move(out)) {}

    void WriteLine(const std::string& line) override { out_ << line << '\n'; }

private:
    std::ofstream out_;
};

// The runtime's file error texts.
EInOutError FileError(int code) {
    if (code == EACCES || code == EPERM || code == EROFS) return EInOutError("File access denied");
    if (code == ENOENT) return EInOutError("File not found");
    if (code == ENOSPC) return EInOutError("Disk full");
    return EInOutError("I/O error " + std::to_string(code));
}

// Plain descriptors: reading only (so read-only files can be offered), and
// the system's own reason for every failure.
class TDiskInputFile final : public IInputFile {
public:
    explicit TDiskInputFile(int handle) : handle_(handle) {}
    ~TDiskInputFile() override { ::close(handle_); }

    int64_t Size() override {
        struct stat status {};
        if (::fstat(handle_, &status) != 0) throw FileError(errno);
        return static_cast<int64_t>(status.st_size);
    }

    std::string Read(std::size_t count) override {
        std::string bytes(count, '\0');
        std::size_t got = 0;
        while (got < count) {
            const ssize_t n = ::read(handle_, bytes.data() + got, count - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw FileError(errno);
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

private:
    int handle_;
};

class TDiskOutputFile final : public IOutputFile {
public:
    explicit TDiskOutputFile(int handle) : handle_(handle) {}
    ~TDiskOutputFile() override { ::close(handle_); }

    void Write(const std::string& bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(handle_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw FileError(errno);
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int handle_;
};

}  // namespace

std::unique_ptr<IInputFile> TDiskFileSystem::OpenForReading(const std::string& path) {
    const int handle = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (handle < 0) throw FileError(errno);
    struct stat status {};
    if (::fstat(handle, &status) == 0 && S_ISDIR(status.st_mode)) {
        ::close(handle);
        throw FileError(EISDIR);
    }
    return std::make_unique<TDiskInputFile>(handle);
}

std::unique_ptr<IOutputFile> TDiskFileSystem::CreateForWriting(const std::string& path) {
    const int handle = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (handle < 0) throw FileError(errno);
    return std::make_unique<TDiskOutputFile>(handle);
}

std::unique_ptr<ITextFile> TDiskFileSystem::CreateTextFile(const std::string& path) {
    errno = 0;
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out) throw FileError(errno);
    return std::make_unique<TDiskTextFile>(std::move(out));
}

bool TDiskFileSystem::FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}
