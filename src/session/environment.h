#pragma once
// The outside world of a chat session, behind small interfaces: sockets,
// files on disk, the clock, timers and a worker thread; and the settings
// file, which the front ends read and the window writes. The adapters
// library has the real ones; tests hand in fakes and drive the session with
// bytes alone, without a working folder or an event loop.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/socketapi.h"

class TPrivateKey;

// The settings file's bytes.
class ISettingsStore {
public:
    virtual ~ISettingsStore() = default;
    // Empty when the file is missing or unreadable.
    virtual std::string Read() = 0;
    // Reads the bytes again, hands them to update and writes back what it
    // returns. Throws EInOutError "Unable to write to <path>" when the file is
    // there but cannot be read, or cannot be written.
    virtual void Update(const std::function<std::string(const std::string& current)>& update) = 0;
};

// A text file open for writing; closing it (destruction) leaves it complete on disk.
class ITextFile {
public:
    virtual ~ITextFile() = default;
    virtual void WriteLine(const std::string& line) = 0;
};

// A file open for reading, shared with other readers and writers.
class IInputFile {
public:
    virtual ~IInputFile() = default;
    virtual int64_t Size() = 0;
    // Up to count bytes; fewer (or none) at the end of the file. Throws
    // EInOutError with the system's reason.
    virtual std::string Read(std::size_t count) = 0;
};

// How a received file is created.
enum class TSaveMode {
    // At the path chosen, replacing what is there: the save dialog asked.
    Replace,
    // Never replacing anything: at the first free one of the path's name,
    // "name (1).ext", "name (2).ext", ... in its folder.
    NewName,
    // As a new file beside the path, which takes the path's place only once
    // it has arrived whole; otherwise it stays as "name.part".
    ReplaceWhenWhole,
};

// Where a received file goes; an empty path refuses it.
struct TSaveTarget {
    std::string path;
    TSaveMode mode = TSaveMode::Replace;
};

// A received file being written; closing it (destruction) leaves it on disk.
class IOutputFile {
public:
    virtual ~IOutputFile() = default;
    // Throws EInOutError with the system's reason (a full disk, say).
    virtual void Write(const std::string& bytes) = 0;
    // The file arrived whole: it takes its place. Throws EInOutError.
    virtual void Complete() {}
    // Where the person finds it.
    virtual std::string Path() const = 0;
};

class IFileSystem {
public:
    virtual ~IFileSystem() = default;
    // A file only this user may read: created 0600, or emptied when it is a
    // regular file of this user; never through a link. Throws EInOutError
    // with the system's reason.
    virtual std::unique_ptr<ITextFile> CreateTextFile(const std::string& path) = 0;
    virtual bool FileExists(const std::string& path) = 0;
    // A received file, as the target says, created 0600; never a FIFO or a
    // device. Throws EInOutError.
    virtual std::unique_ptr<IOutputFile> CreateForWriting(const TSaveTarget& target) = 0;
    // Throws EInOutError ("File not found", "File access denied", "I/O error <n>").
    virtual std::unique_ptr<IInputFile> OpenForReading(const std::string& path) = 0;
};

class IClock {
public:
    virtual ~IClock() = default;
    // The time of day in the system's long time format, without a time zone.
    virtual std::string LongTimeText() = 0;
};

// One shot, restartable, stoppable; fires from the event loop.
class ITimer {
public:
    virtual ~ITimer() = default;
    virtual void Start(int milliseconds) = 0;
    virtual void Stop() = 0;
    virtual bool IsActive() const = 0;

    std::function<void()> OnTimeout;
};

// Work that would freeze the window runs here.
class IWorker {
public:
    virtual ~IWorker() = default;
    // Runs work on another thread; the continuation it returns then runs on
    // the session's thread, from its event loop. Destroying the worker waits
    // for work under way and drops continuations that have not run.
    virtual void Run(std::function<std::function<void()>()> work) = 0;
};

// Makes an RSA key pair of the given size; runs on the worker's thread.
using TKeyGenerator = std::function<std::unique_ptr<TPrivateKey>(int32_t keySize)>;

struct TSessionEnvironment {
    std::unique_ptr<IClientSocket> client;
    std::unique_ptr<IServerSocket> server;
    std::unique_ptr<IFileSystem> files;
    std::unique_ptr<IClock> clock;
    std::unique_ptr<ITimer> pauseTimer;
    // Started at 0 ms: the frame loop's next turn, once the event loop has come round.
    std::unique_ptr<ITimer> turnTimer;
    std::unique_ptr<IWorker> worker;
    TKeyGenerator generateKey;
};
