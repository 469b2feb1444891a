#pragma once
// The settings file on disk.

#include <string>

#include "session/environment.h"

class TSettingsFile final : public ISettingsStore {
public:
    explicit TSettingsFile(std::string path) : path_(std::move(path)) {}

    std::string Read() override;
    void Update(const std::function<std::string(const std::string& current)>& update) override;

private:
    std::string path_;
};
