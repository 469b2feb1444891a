#include "adapters/defaultenvironment.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "adapters/diskfilesystem.h"
#include "adapters/qttimer.h"
#include "adapters/systemclock.h"
#include "adapters/threadworker.h"
#include "net/sockets.h"
#include "rsa/privatekey.h"
#include "session/settings.h"

namespace {

std::string EnvironmentText(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

std::string Joined(const std::string& folder, const std::string& name) {
    return (std::filesystem::path(folder) / name).string();
}

// The folder that holds every program's settings; empty when there is none.
std::string ConfigurationRoot(const TSettingsPlaces& places) {
    // A relative $XDG_CONFIG_HOME is to be ignored, as the base directory rules say.
    if (std::filesystem::path(places.configHome).is_absolute()) return places.configHome;
    if (!places.home.empty()) return Joined(places.home, ".config");
    return std::string();
}

}  // namespace

TSessionEnvironment MakeDefaultEnvironment() {
    TSessionEnvironment environment;
    environment.client = std::make_unique<TClientSocket>();
    environment.server = std::make_unique<TServerSocket>();
    environment.files = std::make_unique<TDiskFileSystem>();
    environment.clock = std::make_unique<TSystemClock>();
    environment.pauseTimer = std::make_unique<TQtTimer>();
    environment.turnTimer = std::make_unique<TQtTimer>();
    environment.worker = std::make_unique<TThreadWorker>();
    environment.generateKey = [](int32_t keySize) { return std::make_unique<TPrivateKey>(keySize); };
    return environment;
}

std::string ProjectHomepage() { return QUELLMERE_HOMEPAGE_URL; }

std::string ChooseSettingsPath(const TSettingsPlaces& places) {
    const std::string besideProgram = Joined(places.programFolder, kSettingsFileName);
    if (places.programFolderUsable) return besideProgram;
    const std::string root = ConfigurationRoot(places);
    // With nowhere better, reading still works and writing says why it fails.
    if (root.empty()) return besideProgram;
    return Joined(Joined(root, "quellmere"), kSettingsFileName);
}

std::string DefaultSettingsPath(const std::string& programFolder) {
    TSettingsPlaces places;
    places.programFolder = programFolder;
    std::error_code error;
    places.programFolderUsable = std::filesystem::exists(Joined(programFolder, kSettingsFileName), error) ||
                                 access(programFolder.c_str(), W_OK) == 0;
    places.configHome = EnvironmentText("XDG_CONFIG_HOME");
    places.home = EnvironmentText("HOME");
    return ChooseSettingsPath(places);
}
