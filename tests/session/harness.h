#pragma once
// A session wired to fakes: no sockets, no files, no event loop.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fakeview.h"
#include "rsa/privatekey.h"
#include "session/session.h"
#include "support/fakes.h"

// Tests ask for key sizes the session shows; the pair itself stays small.
constexpr int32_t kTestKeyBits = 64;

class Harness {
public:
    // recordPayloads false leaves the payloads to the session's own features.
    explicit Harness(const std::string& configText = std::string(), bool create = true, bool recordPayloads = true) {
        session = std::make_unique<TChatSession>(view, fakes.Make([this](int32_t keySize) {
            requestedKeySizes.push_back(keySize);
            if (keyBehaviour) return keyBehaviour(keySize);
            return std::make_unique<TPrivateKey>(kTestKeyBits);
        }));
        client = fakes.client;
        server = fakes.server;
        settings = fakes.settings;
        files = fakes.files;
        timer = fakes.timer;
        worker = fakes.worker;
        settings->bytes = configText;
        if (recordPayloads) {
            auto recording = std::make_unique<RecordingPayloads>();
            payloads = recording.get();
            session->SetPayloadHandler(std::move(recording));
        }
        if (create) session->FormCreate();
    }

    // Listen with the given field texts, up to and including the listen call.
    void Listen(const std::string& keySize = "1024", const std::string& port = "1801") {
        view.fields[TSessionField::RSAKeySize] = keySize;
        view.fields[TSessionField::ListenPort] = port;
        session->btnListenClick();
        worker->RunAll();
    }

    // Connect pressed and answered by the peer.
    void Connect(const std::string& host = "peer.example", const std::string& port = "1801") {
        view.fields[TSessionField::RemoteHost] = host;
        view.fields[TSessionField::RemotePort] = port;
        session->btnConnectClick();
        client->CompleteConnect(host);
    }

    FakeView view;
    FakeEnvironment fakes;
    FakeClientSocket* client = nullptr;
    FakeServerSocket* server = nullptr;
    FakeSettingsStore* settings = nullptr;
    FakeFileSystem* files = nullptr;
    FakeTimer* timer = nullptr;
    FakeWorker* worker = nullptr;
    RecordingPayloads* payloads = nullptr;
    std::function<std::unique_ptr<TPrivateKey>(int32_t)> keyBehaviour;
    std::vector<int32_t> requestedKeySizes;
    std::unique_ptr<TChatSession> session;
};

// A listening and a connecting session whose bytes the test carries across.
class SessionPair {
public:
    explicit SessionPair(const std::string& config = std::string(), int32_t keyBits = kTestKeyBits, bool start = true)
        : server(config, true, false), client(config, true, false) {
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

    void Type(Harness& side, const std::string& line) {
        side.view.fields[TSessionField::TextToSend] = line;
        side.session->txtTextToSendKeyPress('\r');
    }

    Harness server;
    Harness client;
    FakeConnection* serverEnd = nullptr;
};

inline std::string Frame(const std::string& text) { return text + std::string(1, '\0'); }
