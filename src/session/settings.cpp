#include "session/settings.h"

#include <filesystem>

// Bytes are kept as they are; only the narrow, case-blind variant is used.
#define SI_NO_CONVERSION
// This file holds the one copy of the library's code.
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include "session/convert.h"

namespace {

std::string Trimmed(const std::string& text)
{
    const char* const blanks = " \t\r\n";
    const std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos)
        return {};
    const std::size_t last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

class TSettingsReader {
public:
    explicit TSettingsReader(const std::string& path)
    {
        ini_.SetMultiKey(false);
        loaded_ = ini_.LoadFile(path.c_str()) >= 0;
    }

    std::string Text(const char* key, const std::string& fallback) const
    {
        const char* value = loaded_ ? ini_.GetValue(kSettingsSection, key, nullptr) : nullptr;
        if (value == nullptr)
            return fallback;
        std::string text = Trimmed(value);
        if (text.size() > kMaxSettingLength)
            text.resize(kMaxSettingLength);
        return text;
    }

    bool Flag(const char* key, bool fallback) const { return Text(key, fallback ? "true" : "false") == "true"; }

private:
    CSimpleIniA ini_;
    bool loaded_ = false;
};

} // namespace

TSessionSettings ReadSessionSettings(const std::string& path)
{
    const TSettingsReader reader(path);
    TSessionSettings settings;
    const TSessionSettings defaults;
    settings.RsaKeySize = reader.Text("RsaKeySize", defaults.RsaKeySize);
    settings.debug = reader.Flag("debug", defaults.debug);
    settings.sleepDuringTransfer = ConfigStrToInt(reader.Text("sleepDuringTransfer", "0"));
    settings.vantrelPath = reader.Text("vantrelPath", defaults.vantrelPath);
    settings.antikeylogging = reader.Flag("antikeylogging", defaults.antikeylogging);
    settings.listenPort = reader.Text("listenPort", defaults.listenPort);
    settings.remotePort = reader.Text("remotePort", defaults.remotePort);
    settings.saveHost = reader.Flag("saveHost", defaults.saveHost);
    if (settings.saveHost)
        settings.remoteHost = reader.Text("remoteHost", "");
    return settings;
}

void WriteSessionSettings(const std::string& path, const TWrittenSettings& settings)
{
    CSimpleIniA ini;
    ini.SetMultiKey(false);
    ini.SetSpaces(false);
    // A file that is not there yet starts empty; one that cannot be read
    // must not be replaced by our five keys alone.
    std::error_code error;
    if (std::filesystem::exists(path, error) && ini.LoadFile(path.c_str()) < 0)
        throw ESettingsWriteError("Unable to write to " + path);
    const auto set = [&](const char* key, const std::string& value) {
        if (ini.SetValue(kSettingsSection, key, value.c_str()) < 0)
            throw ESettingsWriteError("Unable to write to " + path);
    };
    set("RsaKeySize", settings.RsaKeySize);
    set("antikeylogging", settings.antikeylogging ? "true" : "false");
    set("listenPort", settings.listenPort);
    set("remotePort", settings.remotePort);
    set("remoteHost", settings.remoteHost);
    if (ini.SaveFile(path.c_str(), false) < 0)
        throw ESettingsWriteError("Unable to write to " + path);
}
