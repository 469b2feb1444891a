#include "adapters/diskfilesystem.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "adapters/privatefiles.h"
#include "secure/securewipe.h"
#include "session/errors.h"
#include "session/filenames.h"

namespace {

constexpr mode_t kReceivedFileMode = 0600;
constexpr const char* kPartSuffix = ".part";

// Its lines hold keys and plaintexts: they pass through a buffer of ours,
// which is wiped once the file is closed.
class TDiskTextFile final : public ITextFile {
public:
    explicit TDiskTextFile(std::FILE* file) : file_(file), buffer_(kBufferBytes, '\0') {
        std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
    }
    ~TDiskTextFile() override {
        std::fclose(file_);
        SecureWipe(buffer_);
    }
    TDiskTextFile(const TDiskTextFile&) = delete;
    TDiskTextFile& operator=(const TDiskTextFile&) = delete;

    void WriteLine(const std::string& line) override {
        std::fwrite(line.data(), 1, line.size(), file_);
        std::fputc('\n', file_);
    }

private:
    static constexpr std::size_t kBufferBytes = 64 * 1024;
    std::FILE* file_;
    std::string buffer_;
};

// A descriptor that closes itself.
class TDescriptor {
public:
    explicit TDescriptor(int handle = -1) : handle_(handle) {}
    ~TDescriptor() {
        if (handle_ >= 0) ::close(handle_);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int get() const { return handle_; }
    int release() { return std::exchange(handle_, -1); }

private:
    int handle_;
};

// Plain descriptors: reading only (so read-only files can be offered), and
// the system's own reason for every failure.
class TDiskInputFile final : public IInputFile {
public:
    explicit TDiskInputFile(int handle) : handle_(handle) {}

    int64_t Size() override {
        struct stat status {};
        if (::fstat(handle_.get(), &status) != 0) throw FileError(errno);
        return static_cast<int64_t>(status.st_size);
    }

    std::string Read(std::size_t count) override {
        std::string bytes(count, '\0');
        std::size_t got = 0;
        while (got < count) {
            const ssize_t n = ::read(handle_.get(), bytes.data() + got, count - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw FileError(errno);
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

private:
    TDescriptor handle_;
};

// A received file. One written under a ".part" name takes the real name's
// place in its folder when complete.
class TDiskOutputFile final : public IOutputFile {
public:
    TDiskOutputFile(int handle, std::string path) : handle_(handle), path_(std::move(path)) {}
    TDiskOutputFile(int handle, std::string path, int folder, std::string partName, std::string name)
        : handle_(handle), path_(std::move(path)), folder_(folder), partName_(std::move(partName)), name_(std::move(name)) {}

    void Write(const std::string& bytes) override {
        if (!WriteAll(handle_.get(), bytes)) throw FileError(errno);
    }

    void Complete() override {
        if (folder_.get() < 0) return;
        // rename replaces whatever is at the name, a link too, never what a link points to.
        if (::renameat(folder_.get(), partName_.c_str(), folder_.get(), name_.c_str()) != 0) throw FileError(errno);
    }

    std::string Path() const override { return path_; }

private:
    TDescriptor handle_;
    std::string path_;
    TDescriptor folder_;
    std::string partName_;
    std::string name_;
};

struct TFolderAndName {
    std::string folder;
    std::string name;
};

TFolderAndName Split(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string Joined(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

int OpenFolder(const std::string& folder) {
    const int handle = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (handle < 0) throw FileError(errno);
    return handle;
}

// A new file in the folder, never through a link, never over anything there.
int CreateIn(int folder, const std::string& name) {
    return ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kReceivedFileMode);
}

// The path as the person chose it, replacing a regular file there.
std::unique_ptr<IOutputFile> CreateReplacing(const std::string& path) {
    return std::make_unique<TDiskOutputFile>(OpenRegularFileForWriting(path, 0, TOwner::Anyone), path);
}

std::unique_ptr<IOutputFile> CreateWithNewName(const std::string& path) {
    const TFolderAndName where = Split(path);
    const TDescriptor folder(OpenFolder(where.folder));
    for (int number = 0; number <= kMaxNumberedNames; ++number) {
        const std::string name = number == 0 ? where.name : NumberedFileName(where.name, number);
        const int handle = CreateIn(folder.get(), name);
        if (handle >= 0) return std::make_unique<TDiskOutputFile>(handle, Joined(where.folder, name));
        if (errno != EEXIST) throw FileError(errno);
    }
    throw FileError(EEXIST);
}

std::unique_ptr<IOutputFile> CreateBeside(const std::string& path) {
    const TFolderAndName where = Split(path);
    TDescriptor folder(OpenFolder(where.folder));
    const std::string partName = NameWithSuffix(where.name, kPartSuffix);
    // A part left by an earlier transfer goes; a link of that name goes as a link.
    if (::unlinkat(folder.get(), partName.c_str(), 0) != 0 && errno != ENOENT) throw FileError(errno);
    const int handle = CreateIn(folder.get(), partName);
    if (handle < 0) throw FileError(errno);
    return std::make_unique<TDiskOutputFile>(handle, path, folder.release(), partName, where.name);
}

}  // namespace

std::unique_ptr<IInputFile> TDiskFileSystem::OpenForReading(const std::string& path) {
    TDescriptor handle(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (handle.get() < 0) throw FileError(errno);
    struct stat status {};
    if (::fstat(handle.get(), &status) == 0 && S_ISDIR(status.st_mode)) throw FileError(EISDIR);
    const int flags = ::fcntl(handle.get(), F_GETFL);
    if (flags >= 0) ::fcntl(handle.get(), F_SETFL, flags & ~O_NONBLOCK);
    return std::make_unique<TDiskInputFile>(handle.release());
}

std::unique_ptr<IOutputFile> TDiskFileSystem::CreateForWriting(const TSaveTarget& target) {
    switch (target.mode) {
        case TSaveMode::NewName: return CreateWithNewName(target.path);
        case TSaveMode::ReplaceWhenWhole: return CreateBeside(target.path);
        case TSaveMode::Replace: break;
    }
    return CreateReplacing(target.path);
}

std::unique_ptr<ITextFile> TDiskFileSystem::CreateTextFile(const std::string& path) {
    const int handle = OpenPrivateFile(path);
    std::FILE* file = ::fdopen(handle, "w");
    if (file == nullptr) {
        const int code = errno;
        ::close(handle);
        throw FileError(code);
    }
    return std::make_unique<TDiskTextFile>(file);
}

bool TDiskFileSystem::FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}
