#pragma once
// The window's settings file, read but never written: the terminal program
// takes its defaults from there and leaves it as the window wrote it.

#include <string>

#include "adapters/settingsfile.h"
#include "session/environment.h"

class TReadOnlySettingsFile final : public ISettingsStore {
public:
    explicit TReadOnlySettingsFile(std::string path) : file_(std::move(path)) {}

    std::string Read() override { return file_.Read(); }
    void Update(const std::function<std::string(const std::string& current)>&) override {}

private:
    TSettingsFile file_;
};
