#include "adapters/settingsfile.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

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
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) throw refused;
}
