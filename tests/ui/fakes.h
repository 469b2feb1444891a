#pragma once
// Stand-ins for everything the window's session reaches beyond the window:
// sockets that fire their events when a test says so, a pause timer that never
// runs by itself, a key generator that makes tiny keys, and dialogs that
// record instead of opening.

#include <QString>
#include <QStringList>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/socketapi.h"
#include "rsa/privatekey.h"
#include "session/pausetimer.h"
#include "session/session.h"
#include "ui/dialogs.h"

class FakeConnection : public ISocketConnection {
public:
    int SendString(const std::string& bytes) override {
        if (!connected) return 0;
        sent += bytes;
        return static_cast<int>(bytes.size());
    }
    std::string ReceiveAvailable() override { return std::exchange(incoming, {}); }
    std::string RemoteHostName() override { return connected ? hostName : std::string(); }
    int RemotePortNumber() const override { return connected ? port : 0; }
    bool Connected() const override { return connected; }
    void CloseConnection() override {
        if (!connected) return;
        if (onDisconnect) onDisconnect(*this);
        connected = false;
    }

    bool connected = false;
    std::string hostName = "localhost";
    int port = 1801;
    std::string sent;
    std::string incoming;
    std::function<void(ISocketConnection&)> onDisconnect;
};

class FakeClientSocket : public IClientSocket {
public:
    FakeClientSocket() {
        connection.onDisconnect = [this](ISocketConnection& socket) {
            if (OnDisconnect) OnDisconnect(socket);
        };
    }
    std::string Host() const override { return host; }
    void SetHost(const std::string& value) override { host = value; }
    int Port() const override { return port; }
    void SetPort(int value) override { port = value; }
    bool Active() const override { return active; }
    void SetActive(bool value) override {
        if (value && !refusal.empty()) throw ESocketError(refusal);
        if (value == active) return;
        active = value;
        ++activations;
        if (!value) connection.CloseConnection();
    }
    ISocketConnection& Socket() override { return connection; }

    // The connect completes.
    void Connect() {
        connection.connected = true;
        connection.port = port;
        if (OnConnect) OnConnect(connection);
    }

    std::string host;
    int port = 0;
    bool active = false;
    int activations = 0;
    std::string refusal;  // when set, activating throws it
    FakeConnection connection;
};

class FakeServerSocket : public IServerSocket {
public:
    int Port() const override { return port; }
    void SetPort(int value) override { port = value; }
    bool Active() const override { return active; }
    void SetActive(bool value) override {
        if (value == active) return;
        active = value;
        if (value) {
            if (OnListen) OnListen();
        } else {
            for (auto& connection : connections) connection->connected = false;
            connections.clear();
        }
    }
    int ConnectionCount() const override { return static_cast<int>(connections.size()); }
    ISocketConnection* ConnectionAt(int index) override {
        return index >= 0 && index < ConnectionCount() ? connections[static_cast<std::size_t>(index)].get()
                                                       : nullptr;
    }

    // A peer connects.
    void Accept() {
        auto connection = std::make_unique<FakeConnection>();
        connection->connected = true;
        FakeConnection& added = *connection;
        added.onDisconnect = [this](ISocketConnection& socket) {
            if (OnClientDisconnect) OnClientDisconnect(socket);
        };
        connections.push_back(std::move(connection));
        if (OnAccept) OnAccept(added);
    }

    int port = 0;
    bool active = false;
    std::vector<std::unique_ptr<FakeConnection>> connections;
};

class FakePauseTimer : public IPauseTimer {
public:
    void Start(int) override { active = true; }
    void Stop() override { active = false; }
    bool IsActive() const override { return active; }
    bool active = false;
};

// Lets a test hold the key generation until it says go.
class KeyGate {
public:
    void Close() {
        std::lock_guard lock(mutex);
        open = false;
    }
    void Open() {
        {
            std::lock_guard lock(mutex);
            open = true;
        }
        changed.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [this] { return open; });
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool open = true;
};

class RecordingDialogs : public IDialogs {
public:
    void Warning(QWidget*, const QString& text) override { warnings << text; }
    void Error(QWidget*, const QString& text) override { errors << text; }
    QStringList warnings;
    QStringList errors;
};
