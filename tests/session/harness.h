#pragma once
// A session wired to fakes: no sockets, no files, no event loop. Tests drive
// it through its verbs, as the front ends do, and read its insides only
// through the inspection header.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakeview.h"
#include "rsa/privatekey.h"
#include "session/inspection.h"
#include "session/session.h"
#include "session/settings.h"
#include "support/fakes.h"
#include "support/sealing.h"

// Tests ask for key sizes the session shows; the pair itself stays small.
constexpr int32_t kTestKeyBits = 64;

class Harness {
public:
    // The settings text gives the debug mode and the pause, as the front ends
    // take them from the settings file.
    explicit Harness(const std::string& settingsText = std::string()) {
        session = std::make_unique<TChatSession>(view, fakes.Make([this](int32_t keySize) {
            requestedKeySizes.push_back(keySize);
            if (keyBehaviour) return keyBehaviour(keySize);
            return std::make_unique<TPrivateKey>(kTestKeyBits);
        }));
        client = fakes.client;
        server = fakes.server;
        files = fakes.files;
        timer = fakes.timer;
        worker = fakes.worker;
        const TSessionSettings settings = ParseSessionSettings(settingsText);
        session->SetDebugMode(settings.debug);
        session->SetSleepDuringTransfer(settings.sleepDuringTransfer);
        view.answer = [this](const TSaveTarget& target) { session->AnswerOffer(target); };
    }

    // Listen, up to and including the listen event.
    void Listen(const std::string& keySize = "1024", const std::string& port = "1801") {
        session->Listen(keySize, port);
        worker->RunAll();
    }

    // Connect pressed and answered by the peer.
    void Connect(const std::string& host = "peer.example", const std::string& port = "1801") {
        session->Connect(host, port);
        client->CompleteConnect(host);
    }

    TSessionInspection In() const { return TSessionInspection(*session); }
    TSessionState State() const { return session->State(); }

    FakeView view;
    FakeEnvironment fakes;
    FakeClientSocket* client = nullptr;
    FakeServerSocket* server = nullptr;
    FakeFileSystem* files = nullptr;
    FakeTimer* timer = nullptr;
    FakeWorker* worker = nullptr;
    std::function<std::unique_ptr<TPrivateKey>(int32_t)> keyBehaviour;
    std::vector<int32_t> requestedKeySizes;
    std::unique_ptr<TChatSession> session;
};

// A listening and a connecting session whose bytes the test carries across.
class SessionPair {
public:
    explicit SessionPair(const std::string& settings = std::string(), int32_t keyBits = kTestKeyBits,
                         bool start = true)
        : server(settings), client(settings) {
        server.keyBehaviour = [keyBits](int32_t) { return std::make_unique<TPrivateKey>(keyBits); };
        if (start) Start();
    }

    // The server listens, the client connects.
    void Start() {
        server.Listen();
        serverEnd = &server.server->Incoming("client.example");
        client.Connect("server.example", "1801");
    }

    // Carries bytes both ways and lets RSA work finish until nothing moves.
    void Run() {
        for (bool moved = true; moved;) {
            moved = false;
            if (!serverEnd->sent.empty()) {
                client.client->Receive(std::exchange(serverEnd->sent, {}));
                moved = true;
            }
            if (!client.client->connection.sent.empty()) {
                server.server->Receive(*serverEnd, std::exchange(client.client->connection.sent, {}));
                moved = true;
            }
            moved = server.worker->RunNext() || moved;
            moved = client.worker->RunNext() || moved;
        }
    }

    void Type(Harness& side, const std::string& line) { side.session->Say(line); }

    Harness server;
    Harness client;
    FakeConnection* serverEnd = nullptr;
};

inline std::string Frame(const std::string& text) { return text + std::string(1, '\0'); }
