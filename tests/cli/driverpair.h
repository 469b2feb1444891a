#pragma once
// Terminal conversations on sessions wired to fakes: one side, or a
// listening and a connecting side joined back to back. The test carries
// their bytes and runs what they posted to the event loop.

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/conversationdriver.h"
#include "rsa/privatekey.h"
#include "session/keyexchange.h"
#include "session/inspection.h"
#include "support/fakes.h"

// Key sizes the session is asked for are recorded; the pair itself stays small.
constexpr int32_t kTestKeyBits = 64;

class Side {
public:
    explicit Side(const std::vector<std::string>& arguments, const std::string& config = std::string()) {
        const TCliParse parse = ParseCliOptions(arguments);
        EXPECT_EQ(parse.error, "");
        session = std::make_unique<TChatSession>(view, fakes.Make([this](int32_t keySize) {
            requestedKeySizes.push_back(keySize);
            return std::make_unique<TPrivateKey>(kTestKeyBits);
        }));
        settings.bytes = config;
        TConversationLoop loop;
        loop.post = [this](std::function<void()> task) { posted.push_back(std::move(task)); };
        loop.quit = [this](int status) { quits.push_back(status); };
        driver = std::make_unique<TConversationDriver>(*session, view, settings, parse.options, std::move(loop));
    }

    // What the event loop would run next; returns whether there was anything.
    bool RunPosted() {
        bool ran = false;
        while (!posted.empty()) {
            std::function<void()> task = std::move(posted.front());
            posted.pop_front();
            task();
            ran = true;
        }
        return ran;
    }

    TSessionState State() const { return session->State(); }
    TSessionInspection In() const { return TSessionInspection(*session); }

    std::vector<std::string> Lines() const { return SplitLines(out.str()); }
    bool Shows(const std::string& line) const {
        const std::vector<std::string> lines = Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool ShowsStarting(const std::string& prefix) const {
        for (const std::string& line : Lines())
            if (line.rfind(prefix, 0) == 0) return true;
        return false;
    }

    static std::vector<std::string> SplitLines(const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);) lines.push_back(line);
        return lines;
    }

    std::ostringstream out;
    std::ostringstream err;
    TTerminalView view{out, err};
    FakeEnvironment fakes;
    FakeSettingsStore settings;
    std::vector<int32_t> requestedKeySizes;
    std::unique_ptr<TChatSession> session;
    std::unique_ptr<TConversationDriver> driver;
    std::deque<std::function<void()>> posted;
    std::vector<int> quits;
};

// A listening and a connecting side.
class Pair {
public:
    explicit Pair(std::vector<std::string> listenArguments = {"listen"},
                  std::vector<std::string> connectArguments = {"connect", "server.example"})
        : listener(listenArguments), connector(connectArguments) {}

    void StartListener() {
        listener.driver->Start();
        listener.fakes.worker->RunAll();
    }
    // The connector calls and the listener accepts; the key exchange begins.
    void Join() {
        serverEnd = &listener.fakes.server->Incoming("client.example");
        connector.driver->Start();
        connector.fakes.client->CompleteConnect("server.example");
    }
    void Start() {
        StartListener();
        Join();
    }

    // Bytes both ways, RSA work and posted tasks, until nothing moves.
    void Run() {
        for (bool moved = true; moved;) {
            moved = false;
            if (serverEnd != nullptr && !serverEnd->sent.empty()) {
                connector.fakes.client->Receive(std::exchange(serverEnd->sent, {}));
                moved = true;
            }
            if (serverEnd != nullptr && !connector.fakes.client->connection.sent.empty()) {
                listener.fakes.server->Receive(*serverEnd, std::exchange(connector.fakes.client->connection.sent, {}));
                moved = true;
            }
            moved = listener.fakes.worker->RunNext() || moved;
            moved = connector.fakes.worker->RunNext() || moved;
            moved = listener.RunPosted() || moved;
            moved = connector.RunPosted() || moved;
        }
    }

    bool HandshakeComplete() {
        for (Side* side : {&listener, &connector})
            if (!side->Shows(kHandshakeCompleteText)) return false;
        return true;
    }

    Side listener;
    Side connector;
    FakeConnection* serverEnd = nullptr;
};
