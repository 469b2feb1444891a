#pragma once
// The settings file: one INI section "main", read once at start and written
// once at close. This works on the file's bytes only; reading and writing the
// file itself is someone else's job. Names match without regard to case; a
// missing section or key gives the default; booleans are on only when exactly
// "true".

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// Never fails: bytes that hold no "main" section give every default.
TSessionSettings ParseSessionSettings(std::string_view fileBytes);

// The file's bytes with the five written values replaced in place; every other
// byte stays. Keys the first "main" section lacks are added at its end, and a
// missing section is added at the end of the file.
std::string UpdateSessionSettings(std::string_view fileBytes, const TWrittenSettings& settings);
