#pragma once
// The settings file: one INI section "main", read once at start and written
// once at close. Names match without regard to case; a missing file, section
// or key gives the default; booleans are on only when exactly "true".

#include <cstdint>
#include <stdexcept>
#include <string>

inline constexpr const char* kSettingsSection = "main";
inline constexpr const char* kSettingsFileName = "quellmere.conf";
// The profile reader's limit on one value.
inline constexpr std::size_t kMaxSettingLength = 2047;

struct TSessionSettings {
    std::string RsaKeySize = "1024";
    bool debug = false;
    int32_t sleepDuringTransfer = 0;
    std::string vantrelPath = "vantrel.exe";
    bool antikeylogging = true;
    std::string listenPort = "1801";
    std::string remotePort = "1801";
    bool saveHost = false;
    // Read only when saveHost is on; empty otherwise.
    std::string remoteHost;
};

// What close writes back, in this order.
struct TWrittenSettings {
    std::string RsaKeySize;
    bool antikeylogging = true;
    std::string listenPort;
    std::string remotePort;
    std::string remoteHost;
};

// "Unable to write to <path>".
class ESettingsWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Never fails: an unreadable file gives every default.
TSessionSettings ReadSessionSettings(const std::string& path);

// Keeps every other section and key of the file. Throws ESettingsWriteError.
void WriteSessionSettings(const std::string& path, const TWrittenSettings& settings);
