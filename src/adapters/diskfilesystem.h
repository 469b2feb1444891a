#pragma once
// Files on disk, relative paths from the working folder.

#include "session/environment.h"

class TDiskFileSystem final : public IFileSystem {
public:
    std::unique_ptr<ITextFile> CreateTextFile(const std::string& path) override;
    bool FileExists(const std::string& path) override;
    std::unique_ptr<IInputFile> OpenForReading(const std::string& path) override;
    std::unique_ptr<IOutputFile> CreateForWriting(const TSaveTarget& target) override;
};

// A received name, "name (1)", "name (2)", ... are tried up to this number.
inline constexpr int kMaxNumberedNames = 1000;
