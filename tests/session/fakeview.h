#pragma once
// Fakes of everything a session is handed: a view that records, transport
// components driven by the test, a pause timer the test fires, and a payload
// handler that records what it was given.

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "net/socketapi.h"
#include "session/payloadhandler.h"
#include "session/pausetimer.h"
#include "session/sessionview.h"

class FakeView : public ISessionView {
public:
    void AppendLog(const std::string& line) override
    {
        log.push_back(line);
        journal.push_back("log:" + line);
    }
    int LogLineCount() const override { return static_cast<int>(log.size()); }
    void ClearLog() override
    {
        log.clear();
        journal.push_back("clear");
    }
    void FixControls(const TSessionFlags& flags) override
    {
        lastFlags = flags;
        ++fixControlsCalls;
        busy = false;
    }
    std::string FieldText(TSessionField field) const override
    {
        const auto found = fields.find(field);
        return found == fields.end() ? std::string() : found->second;
    }
    void SetFieldText(TSessionField field, const std::string& text) override { fields[field] = text; }
    bool AntiKeyloggingToggleDown() const override { return toggleDown; }
    void SetAntiKeyloggingToggleDown(bool down) override { toggleDown = down; }
    void ApplyAntiKeylogging(bool active, const std::string& toggleHint) override
    {
        antiKeyloggingActive = active;
        hint = toggleHint;
        ++applyCalls;
    }
    bool TextToSendAntiKeyloggingActive() const override { return antiKeyloggingActive; }
    void FocusTextToSend() override {}
    void ShowWarning(const std::string& text) override
    {
        warnings.push_back(text);
        journal.push_back("warning:" + text);
    }
    void ShowError(const std::string& text) override
    {
        errors.push_back(text);
        journal.push_back("error:" + text);
    }
    void SetBusyCursor(bool isBusy) override
    {
        busy = isBusy;
        cursor.push_back(isBusy);
    }
    bool IsApplicationActive() const override { return applicationActive; }
    void FlashTaskBar() override { ++flashes; }

    bool HasLine(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }

    std::vector<std::string> log;
    std::vector<std::string> journal;
    std::vector<std::string> warnings;
    std::vector<std::string> errors;
    std::vector<bool> cursor;
    std::map<TSessionField, std::string> fields;
    TSessionFlags lastFlags;
    int fixControlsCalls = 0;
    bool toggleDown = false;
    bool antiKeyloggingActive = false;
    std::string hint;
    int applyCalls = 0;
    bool busy = false;
    bool applicationActive = true;
    int flashes = 0;
};

class FakeConnection : public ISocketConnection {
public:
    int SendString(const std::string& bytes) override
    {
        if (!connected)
            return 0;
        sent += bytes;
        return static_cast<int>(bytes.size());
    }
    std::string ReceiveAvailable() override
    {
        std::string data;
        data.swap(incoming);
        return data;
    }
    std::string RemoteHostName() override { return connected ? hostName : std::string(); }
    int RemotePortNumber() const override { return connected ? port : 0; }
    bool Connected() const override { return connected; }
    void CloseConnection() override
    {
        if (!open)
            return;
        const auto before = beforeClose;
        if (before)
            before();
        open = false;
        connected = false;
    }

    std::string hostName = "peer.example";
    int port = 1801;
    bool connected = false;
    bool open = false;
    std::string sent;
    std::string incoming;
    std::function<void()> beforeClose;
};

class FakeClientSocket : public IClientSocket {
public:
    FakeClientSocket()
    {
        connection.beforeClose = [this] {
            active = false;
            if (OnDisconnect)
                OnDisconnect(connection);
        };
    }
    std::string Host() const override { return host; }
    void SetHost(const std::string& value) override
    {
        if (active && value != host)
            throw ESocketError("Can't change value while socket is active");
        host = value;
    }
    int Port() const override { return port; }
    void SetPort(int value) override
    {
        if (active && value != port)
            throw ESocketError("Can't change value while socket is active");
        port = value;
    }
    bool Active() const override { return active; }
    void SetActive(bool value) override
    {
        if (value == active)
            return;
        if (value) {
            ++activations;
            connection.open = true;
        } else {
            connection.CloseConnection();
        }
    }
    ISocketConnection& Socket() override { return connection; }

    // The peer answered.
    void CompleteConnect(const std::string& peerName = "peer.example")
    {
        connection.hostName = peerName;
        connection.port = port;
        connection.connected = true;
        active = true;
        OnConnect(connection);
    }
    // Bytes from the peer.
    void Receive(const std::string& bytes)
    {
        connection.incoming += bytes;
        OnRead(connection);
    }
    void FailConnect(int code)
    {
        connection.open = false;
        int errorCode = code;
        OnError(connection, TErrorEvent::eeConnect, errorCode);
        lastErrorCodeAfterHandler = errorCode;
    }

    std::string host;
    int port = 0;
    bool active = false;
    int activations = 0;
    int lastErrorCodeAfterHandler = 0;
    FakeConnection connection;
};

class FakeServerSocket : public IServerSocket {
public:
    int Port() const override { return port; }
    void SetPort(int value) override
    {
        if (active && value != port)
            throw ESocketError("Can't change value while socket is active");
        port = value;
    }
    bool Active() const override { return active; }
    void SetActive(bool value) override
    {
        if (value == active)
            return;
        if (value) {
            if (!bindError.empty())
                throw ESocketError(bindError);
            active = true;
            ++activations;
            if (OnListen)
                OnListen();
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
    ISocketConnection* ConnectionAt(int index) override
    {
        if (index < 0 || index >= ConnectionCount())
            return nullptr;
        return connections[static_cast<std::size_t>(index)].get();
    }

    // A peer connects; returns its connection.
    FakeConnection& Incoming(const std::string& peerName)
    {
        auto connection = std::make_unique<FakeConnection>();
        FakeConnection* raw = connection.get();
        raw->hostName = peerName;
        raw->connected = true;
        raw->open = true;
        raw->beforeClose = [this, raw] {
            if (OnClientDisconnect)
                OnClientDisconnect(*raw);
            pendingRelease.push_back(raw);
        };
        connections.push_back(std::move(connection));
        OnAccept(*raw);
        return *raw;
    }
    void Receive(FakeConnection& connection, const std::string& bytes)
    {
        connection.incoming += bytes;
        OnClientRead(connection);
    }
    // The deferred release of closed connections, as the event loop would run it.
    void ReleaseClosed()
    {
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
    std::vector<std::unique_ptr<FakeConnection>> connections;
    std::vector<std::unique_ptr<FakeConnection>> released;
    std::vector<FakeConnection*> pendingRelease;
};

class FakePauseTimer : public IPauseTimer {
public:
    void Start(int milliseconds) override
    {
        active = true;
        started.push_back(milliseconds);
    }
    void Stop() override { active = false; }
    bool IsActive() const override { return active; }
    // The pause is over.
    void Fire()
    {
        active = false;
        if (OnTimeout)
            OnTimeout();
    }

    bool active = false;
    std::vector<int> started;
};

class RecordingPayloads : public IPayloadHandler {
public:
    void doServerHandshaking(const std::string& payload) override { Record("server:" + payload); }
    void doClientHandshaking(const std::string& payload) override { Record("client:" + payload); }
    void handleReceivedCiphertext(const std::string& payload) override { Record("cipher:" + payload); }

    std::vector<std::string> received;
    // Runs for every payload after it is recorded; may throw.
    std::function<void(const std::string&)> onPayload;

private:
    void Record(const std::string& entry)
    {
        received.push_back(entry);
        if (onPayload)
            onPayload(entry);
    }
};
