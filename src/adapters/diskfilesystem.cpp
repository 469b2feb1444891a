#include "adapters/diskfilesystem.h"

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
    if (code == EACCES || code == EPERM || code == EROFS)
        return EInOutError("File access denied");
    if (code == ENOENT)
        return EInOutError("File not found");
    return EInOutError("I/O error " + std::to_string(code));
}

}  // namespace

std::unique_ptr<ITextFile> TDiskFileSystem::CreateTextFile(const std::string& path) {
    errno = 0;
    std::ofstream out(path, std::ios::out | std::ios::trunc);
    if (!out)
        throw FileError(errno);
    return std::make_unique<TDiskTextFile>(std::move(out));
}

bool TDiskFileSystem::FileExists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(path, error);
}
