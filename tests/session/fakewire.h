#pragma once
// A wire on fakes: one fake socket under it, its events recorded, its
// timers fired by the test.

#include <functional>
#include <string>
#include <vector>

#include "session/session.h"
#include "session/wire.h"
#include "support/fakes.h"

// The connection under a wire: one fake socket, connected unless told otherwise.
class FakeLink : public IWireLink {
public:
    ISocketConnection* Socket() override { return connected ? &connection : nullptr; }
    uint64_t Generation() const override { return generation; }
    bool PeerGone() const override { return gone; }

    FakeConnection connection;
    bool connected = true;
    uint64_t generation = 0;
    bool gone = false;
};

// What the wire hands up, recorded.
class RecordingWireEvents : public IWireEvents {
public:
    bool TakesPayloads() const override { return takes; }
    void Payload(const std::string& payload) override {
        received.push_back(payload);
        if (onPayload) onPayload(payload);
    }
    void ProtocolError(const std::string& reason) override { errors.push_back(reason); }
    std::size_t OpenFrameLimit() const override { return TChatSession::maxUnframedBytes; }
    void Log(const std::string& line) override { log.push_back(line); }
    void AllHeard() override {}
    void Drained() override {}

    bool takes = true;
    std::vector<std::string> received;
    std::vector<std::string> errors;
    std::vector<std::string> log;
    // Runs for every payload after it is recorded; may throw.
    std::function<void(const std::string&)> onPayload;
};

// A wire with its link, events and timers.
struct WireOnFakes {
    WireOnFakes() { link.connection.connected = link.connection.open = true; }

    // One read event, then the turns the event loop runs after it.
    void Receive(const std::string& bytes) {
        link.connection.incoming += bytes;
        wire.Readable();
        while (turnTimer.active) turnTimer.Fire();
    }

    FakeLink link;
    RecordingWireEvents events;
    FakeTimer pauseTimer;
    FakeTimer turnTimer;
    TWire wire{link, events, pauseTimer, turnTimer};
};
