#pragma once
// A session wired to fakes, with its settings file in a temporary folder.

#include "support/eventloop.h"
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTimer>

#include "fakes.h"
#include "rsa/privatekey.h"
#include "session/session.h"

inline void Settle()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Tests ask for key sizes the session shows; the pair itself stays small.
constexpr int32_t kTestKeyBits = 64;

class Harness {
public:
    explicit Harness(const std::string& configText = std::string(), bool create = true)
    {
        configPath = dir.filePath("quellmere.conf").toStdString();
        if (!configText.empty())
            std::ofstream(configPath, std::ios::binary) << configText;
        TSessionEnvironment environment;
        auto clientSocket = std::make_unique<FakeClientSocket>();
        auto serverSocket = std::make_unique<FakeServerSocket>();
        auto pauseTimer = std::make_unique<FakePauseTimer>();
        client = clientSocket.get();
        server = serverSocket.get();
        timer = pauseTimer.get();
        environment.client = std::move(clientSocket);
        environment.server = std::move(serverSocket);
        environment.pauseTimer = std::move(pauseTimer);
        environment.generateKey = [this](int32_t keySize) {
            {
                const std::lock_guard<std::mutex> lock(keyMutex);
                requestedKeySizes.push_back(keySize);
            }
            if (keyBehaviour)
                return keyBehaviour(keySize);
            return std::make_unique<TPrivateKey>(kTestKeyBits);
        };
        session = std::make_unique<TChatSession>(view, configPath, std::move(environment));
        auto recording = std::make_unique<RecordingPayloads>();
        payloads = recording.get();
        session->SetPayloadHandler(std::move(recording));
        if (create)
            session->FormCreate();
    }

    ~Harness()
    {
        // A test that left a key being made waits for it here.
        session.reset();
    }

    // Listen with the given field texts, up to and including the listen call.
    void Listen(const std::string& keySize = "1024", const std::string& port = "1801")
    {
        view.fields[TSessionField::RSAKeySize] = keySize;
        view.fields[TSessionField::ListenPort] = port;
        session->btnListenClick();
        RunUntil([this] { return !session->isGeneratingKey(); });
    }

    // Connect pressed and answered by the peer.
    void Connect(const std::string& host = "peer.example", const std::string& port = "1801")
    {
        view.fields[TSessionField::RemoteHost] = host;
        view.fields[TSessionField::RemotePort] = port;
        session->btnConnectClick();
        client->CompleteConnect(host);
    }

    std::vector<int32_t> RequestedKeySizes()
    {
        const std::lock_guard<std::mutex> lock(keyMutex);
        return requestedKeySizes;
    }

    QTemporaryDir dir;
    std::string configPath;
    FakeView view;
    FakeClientSocket* client = nullptr;
    FakeServerSocket* server = nullptr;
    FakePauseTimer* timer = nullptr;
    RecordingPayloads* payloads = nullptr;
    std::function<std::unique_ptr<TPrivateKey>(int32_t)> keyBehaviour;
    std::unique_ptr<TChatSession> session;

private:
    std::mutex keyMutex;
    std::vector<int32_t> requestedKeySizes;
};

inline std::string Frame(const std::string& text)
{
    return text + std::string(1, '\0');
}
