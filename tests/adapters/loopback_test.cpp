// Two and three sessions over 127.0.0.1 with the real transport and real key
// generation (small keys): the lifecycle as the peers see it.

#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "support/loopback.h"

#include "adapters/defaultenvironment.h"
#include "net/sockets.h"
#include "session/fakeview.h"
#include "session/session.h"
#include "support/eventloop.h"

namespace {

class Peer {
public:
    // recordPayloads false lets the session's own key exchange and channel run.
    explicit Peer(bool recordPayloads = true) {
        session =
            std::make_unique<TChatSession>(view, MakeDefaultEnvironment(dir.filePath("quellmere.conf").toStdString()));
        if (recordPayloads) {
            auto recording = std::make_unique<RecordingPayloads>();
            payloads = recording.get();
            session->SetPayloadHandler(std::move(recording));
        }
        session->FormCreate();
        view.fields[TSessionField::RSAKeySize] = "128";
    }

    void Listen(int port) {
        view.fields[TSessionField::ListenPort] = std::to_string(port);
        session->btnListenClick();
        ASSERT_TRUE(RunUntil([this] { return !session->isGeneratingKey(); }));
    }

    void StartConnect(int port) {
        view.fields[TSessionField::RemoteHost] = "127.0.0.1";
        view.fields[TSessionField::RemotePort] = std::to_string(port);
        session->btnConnectClick();
    }

    void Connect(int port) {
        StartConnect(port);
        ASSERT_TRUE(RunUntil([this] { return session->isActive(); }));
    }

    std::vector<std::string> LogFrom(std::size_t first) const {
        return std::vector<std::string>(view.log.begin() + static_cast<std::ptrdiff_t>(first), view.log.end());
    }

    QTemporaryDir dir;
    FakeView view;
    std::unique_ptr<TChatSession> session;
    RecordingPayloads* payloads = nullptr;
};

class TwoPeers : public ::testing::Test {
protected:
    void SetUp() override {
        port = FreePort();
        ASSERT_NE(port, 0);
        server.Listen(port);
        client.Connect(port);
        ASSERT_TRUE(RunUntil([this] { return server.session->isActive() && server.session->isHandshaking(); }));
    }

    // A frame each way, and both arrive.
    void ExpectFramesBothWays(const std::string& tag) {
        client.session->sendTextToPeer("to server " + tag);
        server.session->sendTextToPeer("to client " + tag);
        // The public key, sent at accept, may still be on its way before them.
        const auto arrived = [](const RecordingPayloads& payloads, const std::string& entry) {
            return !payloads.received.empty() && payloads.received.back() == entry;
        };
        EXPECT_TRUE(RunUntil(
            [&] {
                return arrived(*server.payloads, "server:to server " + tag) &&
                       arrived(*client.payloads, "client:to client " + tag);
            },
            10000));
    }

    int port = 0;
    Peer server;
    Peer client;
};

}  // namespace

TEST_F(TwoPeers, ListenAndConnectLogTheirLines) {
    EXPECT_EQ(server.view.warnings,
              std::vector<std::string>{"Warning - key size is 128 which is weak, use 1024 at least!"});
    EXPECT_EQ(server.view.log,
              (std::vector<std::string>{"Generating 128 bit RSA key...please wait", "Generated 128 bit RSA key ok",
                                        "Listening on port " + std::to_string(port), "Connection from localhost",
                                        "Sending our public key",
                                        "Sent public key to localhost, receiving AES key, please wait..."}));
    EXPECT_EQ(client.view.log, std::vector<std::string>{"Connected to localhost:" + std::to_string(port)});
    EXPECT_TRUE(client.session->isHandshaking());
    EXPECT_FALSE(client.session->isServer());
    EXPECT_TRUE(server.session->isServer());
    ExpectFramesBothWays("one");
    ExpectFramesBothWays("two");
    EXPECT_EQ(server.session->receiveSequence(), 2);
    EXPECT_EQ(client.session->sendSequence(), 2);
}

TEST_F(TwoPeers, SecondPeerIsRejectedAndTheFirstIsUndisturbed) {
    Peer intruder;
    const std::size_t serverLines = server.view.log.size();
    intruder.Connect(port);
    ASSERT_TRUE(RunUntil([&] { return intruder.view.HasLine("Disconnected"); }));
    EXPECT_EQ(server.LogFrom(serverLines),
              (std::vector<std::string>{"Connection from localhost",
                                        "Rejecting incoming connection as already connected to localhost"}));
    EXPECT_EQ(intruder.view.log,
              (std::vector<std::string>{"Connected to localhost:" + std::to_string(port), "Disconnected"}));
    EXPECT_TRUE(server.session->isActive());
    ExpectFramesBothWays("after intruder");
    Settle();
    EXPECT_FALSE(server.view.HasLine("Client disconnected"));
}

TEST_F(TwoPeers, PeerLeavesAndComesBack) {
    client.session->btnDisconnectClick();
    EXPECT_EQ(client.view.log.back(), "Disconnected");
    ASSERT_TRUE(RunUntil([&] { return server.view.HasLine("Client disconnected"); }));
    EXPECT_FALSE(server.session->isActive());
    EXPECT_TRUE(server.session->ServerSocket1().Active());
    EXPECT_NE(server.session->privateKey(), nullptr);
    Settle();

    const std::size_t serverLines = server.view.log.size();
    client.Connect(port);
    ASSERT_TRUE(RunUntil([&] { return server.session->isActive(); }));
    EXPECT_EQ(server.LogFrom(serverLines),
              (std::vector<std::string>{"Connection from localhost", "Sending our public key",
                                        "Sent public key to localhost, receiving AES key, please wait..."}));
    EXPECT_TRUE(server.session->isHandshaking());
    ExpectFramesBothWays("again");
    EXPECT_EQ(server.session->receiveSequence(), 1);
}

TEST_F(TwoPeers, DisconnectOnTheConnectingSide) {
    const std::size_t serverLines = server.view.log.size();
    client.session->btnDisconnectClick();
    EXPECT_EQ(client.view.log,
              (std::vector<std::string>{"Connected to localhost:" + std::to_string(port), "Disconnected"}));
    ASSERT_TRUE(RunUntil([&] { return !server.session->isActive(); }));
    Settle();
    EXPECT_EQ(server.LogFrom(serverLines), std::vector<std::string>{"Client disconnected"});
    EXPECT_EQ(std::count(client.view.log.begin(), client.view.log.end(), "Disconnected"), 1);
}

TEST_F(TwoPeers, DisconnectOnTheListeningSideStopsListening) {
    const std::size_t serverLines = server.view.log.size();
    server.session->btnDisconnectClick();
    EXPECT_EQ(server.LogFrom(serverLines), (std::vector<std::string>{"Client disconnected", "Disconnected"}));
    EXPECT_FALSE(server.session->ServerSocket1().Active());
    EXPECT_EQ(server.session->privateKey(), nullptr);
    ASSERT_TRUE(RunUntil([&] { return !client.session->isActive(); }));
    EXPECT_EQ(client.view.log.back(), "Disconnected");

    // Nobody listens any more.
    Peer late;
    late.StartConnect(port);
    ASSERT_TRUE(RunUntil([&] { return !late.view.errors.empty(); }));
    EXPECT_EQ(late.view.log, std::vector<std::string>{"Socket error: 111"});
    EXPECT_EQ(late.view.errors, std::vector<std::string>{"Asynchronous socket error 111"});
    EXPECT_FALSE(late.session->isActive());
}

TEST_F(TwoPeers, ListenAgainOnTheSamePortAfterPeerLeft) {
    client.session->btnDisconnectClick();
    ASSERT_TRUE(RunUntil([&] { return !server.session->isActive(); }));
    Settle();
    const TPrivateKey* oldKey = server.session->privateKey();
    const std::size_t serverLines = server.view.log.size();
    server.Listen(port);
    EXPECT_EQ(server.LogFrom(serverLines),
              (std::vector<std::string>{"Generating 128 bit RSA key...please wait", "Generated 128 bit RSA key ok"}));
    EXPECT_FALSE(server.session->isActive());
    EXPECT_NE(server.session->privateKey(), nullptr);
    EXPECT_NE(server.session->privateKey(), oldKey);
    // The new pair serves the next peer.
    client.Connect(port);
    ASSERT_TRUE(RunUntil([&] { return server.session->isActive(); }));
    EXPECT_EQ(server.view.log.back(), "Sent public key to localhost, receiving AES key, please wait...");
    ExpectFramesBothWays("new key");
}

TEST_F(TwoPeers, APeerConnectingWhileTheNewKeyIsMadeIsServedWithIt) {
    client.session->btnDisconnectClick();
    ASSERT_TRUE(RunUntil([&] { return !server.session->isActive(); }));
    Settle();
    server.view.fields[TSessionField::RSAKeySize] = "2048";
    server.session->btnListenClick();
    ASSERT_TRUE(server.session->isGeneratingKey());
    client.Connect(port);
    const bool heldWhileKeyWasMade = server.session->isGeneratingKey();
    // The peer is not turned away for want of a key; it waits for the new one.
    ASSERT_TRUE(RunUntil([&] { return !server.session->isGeneratingKey() && server.session->isActive(); }));
    EXPECT_FALSE(server.view.HasLine("Rejecting incoming connection as no RSA key exists"));
    EXPECT_EQ(server.view.log.back(), "Sent public key to localhost, receiving AES key, please wait...");
    ExpectFramesBothWays("after the new key");
    if (!heldWhileKeyWasMade) GTEST_SKIP() << "the key pair was ready before the peer connected";
}

TEST_F(TwoPeers, ListenAgainOnAnotherPortIsRefused) {
    client.session->btnDisconnectClick();
    ASSERT_TRUE(RunUntil([&] { return !server.session->isActive(); }));
    server.Listen(port + 1 == 65536 ? port - 1 : port + 1);
    EXPECT_EQ(server.view.errors, std::vector<std::string>{"Can't change value while socket is active"});
    EXPECT_FALSE(server.session->isActive());
    EXPECT_TRUE(server.session->ServerSocket1().Active());
}

TEST(Loopback, ListenOnAPortInUseShowsTheBindError) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, 0));
    Peer peer;
    peer.Listen(occupant.serverPort());
    EXPECT_EQ(peer.view.errors,
              std::vector<std::string>{"Windows socket error: Address already in use (98), on API 'bind'"});
    EXPECT_FALSE(peer.session->isActive());
    EXPECT_NE(peer.session->privateKey(), nullptr);
}

TEST(Loopback, ProtocolErrorFromThePeerEndsBothSides) {
    const int port = FreePort();
    Peer server;
    server.Listen(port);
    // A raw peer that sends a frame out of order.
    TClientSocket raw;
    bool closed = false;
    raw.OnDisconnect = [&](ISocketConnection&) { closed = true; };
    raw.SetHost("127.0.0.1");
    raw.SetPort(port);
    raw.SetActive(true);
    ASSERT_TRUE(RunUntil([&] { return raw.Active() && server.session->isActive(); }));
    raw.Socket().SendString(std::string("7?bad\0", 6));
    ASSERT_TRUE(RunUntil([&] { return closed; }));
    const std::vector<std::string> tail(server.view.log.end() - 4, server.view.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"", "Expected sequence 1 but received 7", "Client disconnected",
                                              "Disconnected"}));
}

TEST(Loopback, ConversationsAtEveryKeySizeInBothDirections) {
    for (const char* bits : {"6", "512", "1024", "2048"}) {
        SCOPED_TRACE(bits);
        const int port = FreePort();
        Peer server(false);
        Peer client(false);
        server.view.fields[TSessionField::RSAKeySize] = bits;
        server.Listen(port);
        client.Connect(port);
        ASSERT_TRUE(RunUntil([&] {
            return !server.session->isHandshaking() && !client.session->isHandshaking() && server.session->isActive();
        }));
        if (std::string(bits) == "6") continue;  // too small to carry every character: the two keys differ
        EXPECT_EQ(server.session->sessionKey(), client.session->sessionKey());
        for (Peer* from : {&client, &server}) {
            Peer* to = from == &client ? &server : &client;
            from->view.fields[TSessionField::TextToSend] = std::string("line from ") + (from == &client ? "c" : "s");
            from->session->txtTextToSendKeyPress('\r');
            const std::string expected = std::string(") : line from ") + (from == &client ? "c" : "s");
            ASSERT_TRUE(RunUntil([&] {
                const std::string& last = to->view.log.back();
                return last.rfind("PEER (", 0) == 0 && last.find(expected) != std::string::npos;
            }));
        }
        client.session->btnDisconnectClick();
        ASSERT_TRUE(RunUntil([&] { return server.view.HasLine("Client disconnected"); }));
    }
}
