#pragma once
// Fakes of a session's environment, shared by the session and window tests:
// transport components that fire their events when the test says so, a timer
// the test fires, a worker that holds its work until the test lets it run
// (the key-generation gate), a settings file, a file system and a clock in
// memory.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "net/socketapi.h"
#include "session/environment.h"
#include "session/errors.h"
#include "session/filenames.h"

class FakeConnection : public ISocketConnection {
public:
    int SendString(const std::string& bytes) override {
        if (!connected) return 0;
        sent += bytes;
        if (backlogged) unsent += bytes.size();
        return static_cast<int>(bytes.size());
    }
    std::size_t UnsentBytes() const override { return unsent; }
    std::string ReceiveAvailable() override { return std::exchange(incoming, {}); }
    std::string RemoteHostName() override { return connected ? hostName : std::string(); }
    int RemotePortNumber() const override { return connected ? port : 0; }
    bool Connected() const override { return connected; }
    void CloseConnection() override {
        if (!open) return;
        const auto before = beforeClose;
        if (before) before();
        open = false;
        connected = false;
    }

    // The system takes up to count of the unsent bytes; the write event fires.
    void Drain(std::size_t count) {
        unsent -= std::min(count, unsent);
        if (onWritten) onWritten();
    }

    std::string hostName = "peer.example";
    int port = 1801;
    bool connected = false;
    bool open = false;
    std::string sent;
    std::string incoming;
    // While set, what is sent stays unsent until drained.
    bool backlogged = false;
    std::size_t unsent = 0;
    std::function<void()> beforeClose;
    std::function<void()> onWritten;
};

// Active from the connect event to the disconnect event, as the real one.
class FakeClientSocket : public IClientSocket {
public:
    FakeClientSocket() {
        connection.beforeClose = [this] {
            active = false;
            if (OnDisconnect) OnDisconnect(connection);
        };
        connection.onWritten = [this] {
            if (OnWrite) OnWrite(connection);
        };
    }
    std::string Host() const override { return host; }
    void SetHost(const std::string& value) override {
        if (active && value != host) throw ESocketError("Can't change value while socket is active");
        host = value;
    }
    int Port() const override { return port; }
    void SetPort(int value) override {
        if (active && value != port) throw ESocketError("Can't change value while socket is active");
        port = value;
    }
    bool Active() const override { return active; }
    void SetActive(bool value) override {
        if (value && !refusal.empty()) throw ESocketError(refusal);
        if (value == active) return;
        if (value) {
            ++activations;
            connection.open = true;
        } else {
            connection.CloseConnection();
        }
    }
    ISocketConnection& Socket() override { return connection; }

    // The peer answered.
    void CompleteConnect(const std::string& peerName = "peer.example") {
        connection.hostName = peerName;
        connection.port = port;
        connection.connected = true;
        active = true;
        if (OnConnect) OnConnect(connection);
    }
    // Bytes from the peer.
    void Receive(const std::string& bytes) {
        connection.incoming += bytes;
        if (OnRead) OnRead(connection);
        if (afterEvent) afterEvent();
    }
    void FailConnect(int code) {
        connection.open = false;
        int errorCode = code;
        if (OnError) OnError(connection, TErrorEvent::eeConnect, errorCode);
        lastErrorCodeAfterHandler = errorCode;
    }

    std::string host;
    int port = 0;
    bool active = false;
    int activations = 0;
    int lastErrorCodeAfterHandler = 0;
    // What the event loop does next, once the read event has returned.
    std::function<void()> afterEvent;
    // When set, activating throws it.
    std::string refusal;
    FakeConnection connection;
};

class FakeServerSocket : public IServerSocket {
public:
    int Port() const override { return port; }
    void SetPort(int value) override {
        if (active && value != port) throw ESocketError("Can't change value while socket is active");
        port = value;
    }
    bool Active() const override { return active; }
    void SetActive(bool value) override {
        if (value == active) return;
        if (value) {
            if (!bindError.empty()) throw ESocketError(bindError);
            active = true;
            ++activations;
            if (OnListen) OnListen();
        } else {
            // Silently: no disconnect event for any connection.
            for (auto& connection : connections) {
                connection->beforeClose = nullptr;
                connection->CloseConnection();
                released.push_back(std::move(connection));
            }
            connections.clear();
            active = false;
        }
    }
    int ConnectionCount() const override { return static_cast<int>(connections.size()); }
    ISocketConnection* ConnectionAt(int index) override {
        if (index < 0 || index >= ConnectionCount()) return nullptr;
        return connections[static_cast<std::size_t>(index)].get();
    }

    // A peer connects; returns its connection.
    FakeConnection& Incoming(const std::string& peerName = "peer.example") {
        auto connection = std::make_unique<FakeConnection>();
        FakeConnection* raw = connection.get();
        raw->hostName = peerName;
        raw->connected = true;
        raw->open = true;
        raw->beforeClose = [this, raw] {
            if (OnClientDisconnect) OnClientDisconnect(*raw);
            pendingRelease.push_back(raw);
        };
        raw->onWritten = [this, raw] {
            if (OnClientWrite) OnClientWrite(*raw);
        };
        connections.push_back(std::move(connection));
        if (OnAccept) OnAccept(*raw);
        return *raw;
    }
    void Receive(FakeConnection& connection, const std::string& bytes) {
        connection.incoming += bytes;
        if (OnClientRead) OnClientRead(connection);
        if (afterEvent) afterEvent();
    }
    // The deferred release of closed connections, as the event loop would run it.
    void ReleaseClosed() {
        for (FakeConnection* connection : pendingRelease) {
            auto found = std::find_if(connections.begin(), connections.end(),
                                      [connection](const auto& entry) { return entry.get() == connection; });
            if (found != connections.end()) {
                released.push_back(std::move(*found));
                connections.erase(found);
            }
        }
        pendingRelease.clear();
    }

    int port = 0;
    bool active = false;
    int activations = 0;
    std::string bindError;
    // What the event loop does next, once the read event has returned.
    std::function<void()> afterEvent;
    std::vector<std::unique_ptr<FakeConnection>> connections;
    std::vector<std::unique_ptr<FakeConnection>> released;
    std::vector<FakeConnection*> pendingRelease;
};

class FakeTimer : public ITimer {
public:
    void Start(int milliseconds) override {
        active = true;
        started.push_back(milliseconds);
    }
    void Stop() override { active = false; }
    bool IsActive() const override { return active; }
    // The time is up.
    void Fire() {
        active = false;
        if (OnTimeout) OnTimeout();
    }

    bool active = false;
    std::vector<int> started;
};

// Holds work until the test lets it run: the key-generation gate.
class FakeWorker : public IWorker {
public:
    void Run(std::function<std::function<void()>()> work) override { pending.push_back(std::move(work)); }
    // Runs the oldest piece of work, then its continuation, as the event loop would.
    bool RunNext() {
        if (pending.empty()) return false;
        auto work = std::move(pending.front());
        pending.pop_front();
        const std::function<void()> continuation = work();
        if (continuation) continuation();
        if (afterEvent) afterEvent();
        return true;
    }
    void RunAll() {
        while (RunNext()) {}
    }

    std::deque<std::function<std::function<void()>()>> pending;
    // What the event loop does next, once the continuation has returned.
    std::function<void()> afterEvent;
};

class FakeSettingsStore : public ISettingsStore {
public:
    std::string Read() override { return readable ? bytes : std::string(); }
    void Update(const std::function<std::string(const std::string&)>& update) override {
        if (!readable || !writable) throw EInOutError("Unable to write to " + path);
        bytes = update(bytes);
        ++writes;
    }

    std::string path = "/home/user/quellmere.conf";
    std::string bytes;
    bool readable = true;
    bool writable = true;
    int writes = 0;
};

class FakeFileSystem : public IFileSystem {
public:
    class File : public ITextFile {
    public:
        File(FakeFileSystem& owner, std::string path) : owner_(owner), path_(std::move(path)) { ++owner_.openFiles; }
        ~File() override { --owner_.openFiles; }
        void WriteLine(const std::string& line) override { owner_.files[path_] += line + "\n"; }

    private:
        FakeFileSystem& owner_;
        std::string path_;
    };

    // Reads the file's current bytes from where it got to, so a test can
    // shrink or grow the file under a transfer.
    class Input : public IInputFile {
    public:
        Input(FakeFileSystem& owner, std::string path) : owner_(owner), path_(std::move(path)) { ++owner_.openFiles; }
        ~Input() override { --owner_.openFiles; }
        int64_t Size() override { return static_cast<int64_t>(owner_.files[path_].size()); }
        std::string Read(std::size_t count) override {
            if (!owner_.readFailure.empty()) throw EInOutError(owner_.readFailure);
            const std::string& bytes = owner_.files[path_];
            const std::string piece = offset_ < bytes.size() ? bytes.substr(offset_, count) : std::string();
            offset_ += piece.size();
            return piece;
        }

    private:
        FakeFileSystem& owner_;
        std::string path_;
        std::size_t offset_ = 0;
    };

    // Written at writtenPath; Complete moves it to path when the two differ.
    class Output : public IOutputFile {
    public:
        Output(FakeFileSystem& owner, std::string path, std::string writtenPath)
            : owner_(owner), path_(std::move(path)), writtenPath_(std::move(writtenPath)) {
            ++owner_.openFiles;
        }
        ~Output() override { --owner_.openFiles; }
        void Write(const std::string& bytes) override {
            std::string& file = owner_.files[writtenPath_];
            if (file.size() + bytes.size() > owner_.diskSpace) throw EInOutError("Disk full");
            file += bytes;
        }
        void Complete() override {
            if (writtenPath_ == path_) return;
            owner_.files[path_] = std::move(owner_.files[writtenPath_]);
            owner_.files.erase(writtenPath_);
        }
        std::string Path() const override { return path_; }

    private:
        FakeFileSystem& owner_;
        std::string path_;
        std::string writtenPath_;
    };

    std::unique_ptr<ITextFile> CreateTextFile(const std::string& path) override {
        if (!refusal.empty()) throw EInOutError(refusal);
        files[path].clear();
        return std::make_unique<File>(*this, path);
    }
    bool FileExists(const std::string& path) override { return files.count(path) != 0; }
    std::unique_ptr<IInputFile> OpenForReading(const std::string& path) override {
        if (files.count(path) == 0) throw EInOutError("File not found");
        return std::make_unique<Input>(*this, path);
    }
    // As the disk does it: a free numbered name, or a ".part" file beside.
    std::unique_ptr<IOutputFile> CreateForWriting(const TSaveTarget& target) override {
        if (!refusal.empty()) throw EInOutError(refusal);
        ++creations;
        const std::size_t slash = target.path.find_last_of('/');
        const std::string folder = slash == std::string::npos ? std::string() : target.path.substr(0, slash + 1);
        const std::string name = target.path.substr(folder.size());
        std::string path = target.path;
        std::string written = target.path;
        if (target.mode == TSaveMode::NewName) {
            for (int number = 1; files.count(path) != 0; ++number) path = folder + NumberedFileName(name, number);
            written = path;
        } else if (target.mode == TSaveMode::ReplaceWhenWhole) {
            written = folder + NameWithSuffix(name, ".part");
        }
        files[written].clear();
        return std::make_unique<Output>(*this, path, written);
    }

    std::map<std::string, std::string> files;
    int openFiles = 0;
    // Received files created.
    int creations = 0;
    // When set, creating a file throws it.
    std::string refusal;
    // When set, reading throws it.
    std::string readFailure;
    // Writing beyond this many bytes in one file fails as a full disk does.
    std::size_t diskSpace = static_cast<std::size_t>(-1);
};

class FakeClock : public IClock {
public:
    std::string LongTimeText() override { return time; }
    std::string time = "11:01:04";
};

// The fakes of one session's environment, with pointers the test keeps.
struct FakeEnvironment {
    FakeClientSocket* client = nullptr;
    FakeServerSocket* server = nullptr;
    FakeFileSystem* files = nullptr;
    FakeClock* clock = nullptr;
    FakeTimer* timer = nullptr;
    FakeTimer* turnTimer = nullptr;
    FakeWorker* worker = nullptr;

    // keyGenerator runs when the worker is let run.
    TSessionEnvironment Make(TKeyGenerator keyGenerator) {
        TSessionEnvironment environment;
        environment.client = Keep(client);
        environment.server = Keep(server);
        environment.files = Keep(files);
        environment.clock = Keep(clock);
        environment.pauseTimer = Keep(timer);
        environment.turnTimer = Keep(turnTimer);
        environment.worker = Keep(worker);
        environment.generateKey = std::move(keyGenerator);
        // After each event the test plays, the event loop comes round and
        // runs the frame loop's turns, as many as it asks for.
        const auto turns = [timer = turnTimer] {
            while (timer->active) timer->Fire();
        };
        client->afterEvent = server->afterEvent = worker->afterEvent = turns;
        return environment;
    }

    // A fake made here and handed over, its pointer kept.
    template <class T>
    static std::unique_ptr<T> Keep(T*& pointer) {
        auto made = std::make_unique<T>();
        pointer = made.get();
        return made;
    }
};
