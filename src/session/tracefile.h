#pragma once
// The trace file "quellmere.log" in the working folder: protocol details,
// written whether or not debug mode is on, while logging is on.

#include <memory>
#include <string>

#include "session/environment.h"

inline constexpr const char* kTraceFileName = "quellmere.log";

class TTraceFile {
public:
    explicit TTraceFile(IFileSystem& files) : files_(files) {}

    bool isLogging() const { return file_ != nullptr; }
    // Creates the file, or empties it; throws EInOutError and stays off.
    void Start();
    // Closes the file, complete on disk; nothing when not logging.
    void Stop();
    void WriteLine(const std::string& line);
    // A trace file is on disk, from this session or an earlier one.
    bool LeftOnDisk();

private:
    IFileSystem& files_;
    std::unique_ptr<ITextFile> file_;
};
