#include "adapters/settingsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "adapters/privatefiles.h"
#include "session/errors.h"

namespace {

std::optional<std::string> ReadWhole(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return bytes.str();
}

bool WriteNew(const std::string& path, const std::string& bytes) {
    // Only this user may read the settings; a link planted in their place is not followed.
    const int fd = CreatePrivateFile(path);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, bytes) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (written && closed) return true;
    unlink(path.c_str());
    return false;
}

// The new bytes go to a file beside the old one, which they replace only
// once all of them are on disk: a full disk or a crash midway leaves the old
// settings as they were. A link stays a link; the file it names is replaced.
bool Replace(const std::string& path, const std::string& bytes) {
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(path, error);
    struct stat old {};
    if (error || stat(target.c_str(), &old) != 0) return false;
    std::string name = target.string() + ".XXXXXX";
    const int fd = mkstemp(name.data());
    if (fd < 0) return false;
    const bool written = fchmod(fd, old.st_mode & 07777) == 0 && WriteAll(fd, bytes) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (written && closed && rename(name.data(), target.c_str()) == 0) return true;
    unlink(name.data());
    return false;
}

}  // namespace

std::string TSettingsFile::Read() { return ReadWhole(path_).value_or(std::string()); }

void TSettingsFile::Update(const std::function<std::string(const std::string& current)>& update) {
    const EInOutError refused("Unable to write to " + path_);
    // A file that is not there yet starts empty; one that cannot be read must
    // not be replaced by our keys alone.
    std::error_code error;
    const bool exists = std::filesystem::exists(path_, error);
    std::optional<std::string> current = exists ? ReadWhole(path_) : std::string();
    if (!current) throw refused;
    const std::string bytes = update(*current);
    if (bytes == *current) return;
    if (!(exists ? Replace(path_, bytes) : WriteNew(path_, bytes))) throw refused;
}
