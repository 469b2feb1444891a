// The QtNetwork transport over 127.0.0.1: event orders, error kinds and texts,
// and that bytes arrive whole and in order.

#include "support/eventloop.h"
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include "support/loopback.h"

#include "net/sockets.h"

namespace {

std::string Kind(TErrorEvent event) {
    switch (event) {
        case TErrorEvent::eeGeneral: return "general";
        case TErrorEvent::eeSend: return "send";
        case TErrorEvent::eeReceive: return "receive";
        case TErrorEvent::eeConnect: return "connect";
        case TErrorEvent::eeDisconnect: return "disconnect";
        case TErrorEvent::eeAccept: return "accept";
        case TErrorEvent::eeLookup: return "lookup";
    }
    return "?";
}

// A listening server and a client, each writing what it sees into one log.
class Loopback : public ::testing::Test {
protected:
    void SetUp() override {
        port = FreePort();
        ASSERT_NE(port, 0);
        server.OnListen = [this] { events.push_back(std::string("listen active=") + (server.Active() ? "1" : "0")); };
        server.OnAccept = [this](ISocketConnection& socket) {
            events.push_back("accept count=" + std::to_string(server.ConnectionCount()));
            accepted.push_back(&socket);
        };
        server.OnClientRead = [this](ISocketConnection& socket) { serverReceived += socket.ReceiveAvailable(); };
        server.OnClientDisconnect = [this](ISocketConnection& socket) {
            events.push_back("client disconnect count=" + std::to_string(server.ConnectionCount()) +
                             " first=" + (server.ConnectionAt(0) == &socket ? "1" : "0"));
        };
        server.OnClientError = [this](ISocketConnection&, TErrorEvent event, int& code) {
            events.push_back("client error " + Kind(event) + " " + std::to_string(code));
        };
        server.OnException = [this](const std::string& text) { events.push_back("server raises " + text); };

        client.OnConnect = [this](ISocketConnection& socket) {
            events.push_back(std::string("connect active=") + (client.Active() ? "1" : "0") +
                             " port=" + std::to_string(socket.RemotePortNumber()));
        };
        client.OnDisconnect = [this](ISocketConnection& socket) {
            events.push_back(std::string("disconnect active=") + (client.Active() ? "1" : "0") +
                             " host=" + socket.RemoteHostName());
        };
        client.OnRead = [this](ISocketConnection& socket) { clientReceived += socket.ReceiveAvailable(); };
        client.OnError = [this](ISocketConnection&, TErrorEvent event, int& code) {
            events.push_back("error " + Kind(event) + " " + std::to_string(code));
            code = clientErrorCodeAfter(code);
        };
        client.OnException = [this](const std::string& text) { events.push_back("client raises " + text); };
    }

    void Listen() {
        server.SetPort(port);
        server.SetActive(true);
    }

    void Connect() {
        client.SetHost("127.0.0.1");
        client.SetPort(port);
        client.SetActive(true);
        ASSERT_TRUE(RunUntil([this] { return client.Active() && server.ConnectionCount() >= 1; }));
    }

    bool Seen(const std::string& event) const { return std::find(events.begin(), events.end(), event) != events.end(); }

    int port = 0;
    TServerSocket server;
    TClientSocket client;
    std::vector<std::string> events;
    std::vector<ISocketConnection*> accepted;
    std::string serverReceived;
    std::string clientReceived;
    std::function<int(int)> clientErrorCodeAfter = [](int code) { return code; };
};

}  // namespace

TEST_F(Loopback, ListenFiresOnListenWithinTheCallWhileAlreadyActive) {
    Listen();
    EXPECT_TRUE(server.Active());
    EXPECT_EQ(events, std::vector<std::string>{"listen active=1"});
    EXPECT_EQ(server.LocalPort(), port);
    // Setting Active to the value it has does nothing, and fires nothing.
    server.SetActive(true);
    EXPECT_EQ(events.size(), 1u);
}

TEST_F(Loopback, PortZeroListensWhereTheSystemChoseAndSaysWhereFromTheListenEventOn) {
    int portInListenEvent = -1;
    server.OnListen = [&] { portInListenEvent = server.Port(); };
    server.SetPort(0);
    server.SetActive(true);
    ASSERT_GT(portInListenEvent, 0);
    EXPECT_EQ(server.Port(), portInListenEvent);
    EXPECT_EQ(server.LocalPort(), portInListenEvent);
    port = portInListenEvent;
    Connect();
    // Port 0 again is no change of port; closed, it is 0 again.
    server.SetPort(0);
    server.SetActive(false);
    EXPECT_EQ(server.Port(), 0);
}

TEST_F(Loopback, BindFailureNamesTheCallAndLeavesTheServerInactive) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::Any, static_cast<quint16>(port)));
    server.SetPort(port);
    try {
        server.SetActive(true);
        FAIL() << "bind on a used port succeeded";
    } catch (const ESocketError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "Windows socket error: Address already in use (" + std::to_string(EADDRINUSE) + "), on API 'bind'");
    }
    EXPECT_FALSE(server.Active());
    EXPECT_TRUE(events.empty());
}

TEST_F(Loopback, PortOutsideSixteenBitsIsRefused) {
    server.SetPort(70000);
    EXPECT_THROW(server.SetActive(true), ESocketError);
    EXPECT_FALSE(server.Active());
    client.SetHost("127.0.0.1");
    client.SetPort(-1);
    EXPECT_THROW(client.SetActive(true), ESocketError);
    EXPECT_FALSE(client.Active());
}

TEST_F(Loopback, ValuesCannotChangeWhileActiveUnlessEqual) {
    Listen();
    try {
        server.SetPort(port + 1);
        FAIL() << "port changed while listening";
    } catch (const ESocketError& error) {
        EXPECT_STREQ(error.what(), "Can't change value while socket is active");
    }
    EXPECT_NO_THROW(server.SetPort(port));
    EXPECT_EQ(server.Port(), port);

    Connect();
    EXPECT_THROW(client.SetPort(port + 1), ESocketError);
    EXPECT_THROW(client.SetHost("127.0.0.2"), ESocketError);
    // Host names compare without regard to case.
    client.SetHost("127.0.0.1");
    EXPECT_NO_THROW(client.SetPort(port));
}

TEST_F(Loopback, ConnectIsAsynchronousAndBothSidesSeeTheirPeer) {
    Listen();
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.SetActive(true);
    EXPECT_FALSE(client.Active());
    ASSERT_TRUE(RunUntil([this] { return client.Active() && !accepted.empty(); }));
    EXPECT_TRUE(Seen("connect active=1 port=" + std::to_string(port)));
    EXPECT_TRUE(Seen("accept count=1"));
    ASSERT_EQ(server.ConnectionCount(), 1);
    EXPECT_EQ(server.ConnectionAt(0), accepted[0]);
    EXPECT_EQ(server.ConnectionAt(1), nullptr);
    EXPECT_EQ(accepted[0]->RemoteHostName(), "localhost");
    EXPECT_GT(accepted[0]->RemotePortNumber(), 0);
    EXPECT_EQ(client.Socket().RemoteHostName(), "localhost");
}

TEST_F(Loopback, BytesOfAnyValueArriveWholeAndInOrder) {
    Listen();
    Connect();
    std::string message("1?a\0b\xff", 6);
    EXPECT_EQ(client.Socket().SendString(message), 6);
    ASSERT_TRUE(RunUntil([&] { return serverReceived.size() >= message.size(); }));
    EXPECT_EQ(serverReceived, message);

    // Far more than one system send takes: nothing is cut or dropped.
    std::string large(6 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
    EXPECT_EQ(accepted[0]->SendString(large), static_cast<int>(large.size()));
    EXPECT_EQ(accepted[0]->SendString("tail"), 4);
    ASSERT_TRUE(RunUntil([&] { return clientReceived.size() >= large.size() + 4; }));
    EXPECT_TRUE(clientReceived == large + "tail");
}

TEST_F(Loopback, ReceiveAvailableWithNothingReadableIsEmpty) {
    Listen();
    Connect();
    EXPECT_EQ(client.Socket().ReceiveAvailable(), "");
    EXPECT_EQ(accepted[0]->ReceiveAvailable(), "");
}

TEST_F(Loopback, SecondConnectionIsCountedWhenItsAcceptFires) {
    Listen();
    Connect();
    TClientSocket second;
    second.SetHost("127.0.0.1");
    second.SetPort(port);
    second.SetActive(true);
    ASSERT_TRUE(RunUntil([this] { return accepted.size() == 2; }));
    EXPECT_TRUE(Seen("accept count=2"));
    EXPECT_EQ(server.ConnectionAt(0), accepted[0]);
    EXPECT_EQ(server.ConnectionAt(1), accepted[1]);
}

TEST_F(Loopback, ClosingAnAcceptedConnectionFiresFirstAndReleasesLater) {
    Listen();
    Connect();
    events.clear();
    accepted[0]->CloseConnection();
    // The event fired inside the call, with the connection still listed.
    EXPECT_EQ(events, std::vector<std::string>{"client disconnect count=1 first=1"});
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_FALSE(accepted[0]->Connected());
    Settle();
    EXPECT_EQ(server.ConnectionCount(), 0);
    ASSERT_TRUE(RunUntil([this] { return !client.Active(); }));
    EXPECT_TRUE(Seen("disconnect active=0 host=localhost"));
    // Closing twice fires nothing more.
    EXPECT_TRUE(server.Active());
}

TEST_F(Loopback, PeerClosingFiresTheServerDisconnectOnce) {
    Listen();
    Connect();
    events.clear();
    client.SetActive(false);
    EXPECT_EQ(events, std::vector<std::string>{"disconnect active=0 host=localhost"});
    EXPECT_FALSE(client.Active());
    ASSERT_TRUE(RunUntil([this] { return server.ConnectionCount() == 0; }));
    EXPECT_EQ(std::count(events.begin(), events.end(), "client disconnect count=1 first=1"), 1);
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(Loopback, DeactivatingTheServerReleasesConnectionsSilently) {
    Listen();
    Connect();
    events.clear();
    server.SetActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.ConnectionCount(), 0);
    ASSERT_TRUE(RunUntil([this] { return !client.Active(); }));
    for (const std::string& event : events) EXPECT_EQ(event.rfind("client disconnect", 0), std::string::npos) << event;
    // It can listen again on the same port at once.
    EXPECT_NO_THROW(server.SetActive(true));
    EXPECT_TRUE(server.Active());
}

TEST_F(Loopback, RefusedConnectReportsConnectErrorThenAsynchronousError) {
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.SetActive(true);
    ASSERT_TRUE(RunUntil([this] { return events.size() >= 2; }));
    EXPECT_EQ(events,
              (std::vector<std::string>{"error connect " + std::to_string(ECONNREFUSED),
                                        "client raises Asynchronous socket error " + std::to_string(ECONNREFUSED)}));
    EXPECT_FALSE(client.Active());

    // The next activation starts afresh.
    events.clear();
    Listen();
    client.SetActive(true);
    ASSERT_TRUE(RunUntil([this] { return client.Active(); }));
    EXPECT_TRUE(Seen("connect active=1 port=" + std::to_string(port)));
}

TEST_F(Loopback, AHandlerThatClearsTheCodeStopsTheRaise) {
    clientErrorCodeAfter = [](int) { return 0; };
    client.SetHost("127.0.0.1");
    client.SetPort(port);
    client.SetActive(true);
    ASSERT_TRUE(RunUntil([this] { return !events.empty(); }));
    Settle();
    EXPECT_EQ(events, std::vector<std::string>{"error connect " + std::to_string(ECONNREFUSED)});
}

TEST_F(Loopback, NoHostIsALookupErrorThenDisconnectThenRaise) {
    client.SetPort(port);
    try {
        client.SetActive(true);
        FAIL() << "activation without a host succeeded";
    } catch (const ESocketError& error) {
        EXPECT_STREQ(error.what(), "No address specified");
    }
    EXPECT_EQ(events, (std::vector<std::string>{"error lookup 1110", "disconnect active=0 host="}));
    EXPECT_FALSE(client.Active());

    events.clear();
    clientErrorCodeAfter = [](int) { return 0; };
    EXPECT_NO_THROW(client.SetActive(true));
    EXPECT_EQ(events, (std::vector<std::string>{"error lookup 1110", "disconnect active=0 host="}));
}

TEST_F(Loopback, HostNamesAreLookedUpAndTheirIPv4AddressUsed) {
    Listen();
    client.SetHost("LocalHost");
    client.SetPort(port);
    client.SetActive(true);
    ASSERT_TRUE(RunUntil([this] { return client.Active(); }));
    EXPECT_EQ(server.ConnectionCount(), 1);
    EXPECT_EQ(client.Socket().RemotePortNumber(), port);
}

TEST_F(Loopback, AnAddressWithoutNameGivesAnEmptyHostName) {
    Listen();
    client.SetHost("127.0.0.2");
    client.SetPort(port);
    client.SetActive(true);
    ASSERT_TRUE(RunUntil([this] { return client.Active(); }));
    EXPECT_EQ(client.Socket().RemoteHostName(), "");
    EXPECT_EQ(client.Socket().RemotePortNumber(), port);
}

TEST_F(Loopback, ANotConnectedClientSendsNothingAndKnowsNoPeer) {
    EXPECT_EQ(client.Socket().SendString("x"), 0);
    EXPECT_EQ(client.Socket().RemoteHostName(), "");
    EXPECT_EQ(client.Socket().RemotePortNumber(), 0);
    EXPECT_FALSE(client.Socket().Connected());
}

TEST_F(Loopback, ANotConnectedClientHasNothingUnsent) { EXPECT_EQ(client.Socket().UnsentBytes(), 0u); }

namespace {

constexpr std::size_t kPiece = 64 * 1024;
constexpr std::size_t kStreamSize = 64 * 1024 * 1024;
constexpr std::size_t kPaceBound = 256 * 1024;

// Byte i of a stream is byte i % 4 of the 32-bit count i / 4, so a piece that
// goes missing, comes twice or out of place shows.
char StreamByte(std::size_t offset) {
    const auto count = static_cast<std::uint32_t>(offset / 4);
    return static_cast<char>(count >> (8 * (offset % 4)));
}

std::string StreamPiece(std::size_t offset, std::size_t size) {
    std::string piece(size, '\0');
    for (std::size_t i = 0; i < size; ++i) piece[i] = StreamByte(offset + i);
    return piece;
}

// Checks a stream as it arrives, without keeping it.
struct TStreamCheck {
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    void Take(const std::string& bytes) {
        for (const char byte : bytes) {
            if (firstWrong == kNone && byte != StreamByte(received)) firstWrong = received;
            ++received;
        }
    }

    std::size_t received = 0;
    std::size_t firstWrong = kNone;
};

void RunFor(int milliseconds) {
    const QDeadlineTimer until(milliseconds);
    RunUntil([&] { return until.hasExpired(); });
}

enum class TDirection { ClientToServer, ServerToClient };

// One connection carrying a stream one way. The receiver holds at most one
// piece until it reads, so while it does not read the sender stalls; left
// unlimited, Qt would drain the system's buffers into memory on its own.
class Backpressure : public Loopback, public ::testing::WithParamInterface<TDirection> {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(Loopback::SetUp());
        Listen();
        ASSERT_NO_FATAL_FAILURE(Connect());
        events.clear();
        const bool clientSends = GetParam() == TDirection::ClientToServer;
        sender = clientSends ? &client.Socket() : accepted[0];
        receiver = clientSends ? accepted[0] : &client.Socket();
        senderName = clientSends ? "client" : "server";
        auto* qtReceiver = dynamic_cast<TQtSocketConnection*>(receiver);
        ASSERT_NE(qtReceiver, nullptr);
        qtReceiver->Socket()->setReadBufferSize(static_cast<qint64>(kPiece));

        client.OnRead = [this](ISocketConnection& socket) { Read(socket); };
        server.OnClientRead = [this](ISocketConnection& socket) { Read(socket); };
        client.OnWrite = [this](ISocketConnection& socket) { Written(socket); };
        server.OnClientWrite = [this](ISocketConnection& socket) { Written(socket); };
    }

    void Read(ISocketConnection& socket) {
        if (&socket == receiver && reading) stream.Take(socket.ReceiveAvailable());
    }

    void Written(ISocketConnection& socket) {
        if (&socket != sender) {
            ++receiverWriteEvents;
            return;
        }
        ++writeEvents;
        unsentAtLastWrite = socket.UnsentBytes();
        if (paced) SendPaced();
        if (throwOnWrite) throw ESocketError("write handler failed");
    }

    void StartReading() {
        reading = true;
        // Nothing more arrives until what the receiver holds is taken.
        stream.Take(receiver->ReceiveAvailable());
    }

    void SendPiece() {
        ASSERT_EQ(sender->SendString(StreamPiece(sent, kPiece)), static_cast<int>(kPiece));
        sent += kPiece;
        maxUnsent = std::max(maxUnsent, sender->UnsentBytes());
    }

    // Tops the queue up while it is below the bound.
    void SendPaced() {
        while (sent < kStreamSize && sender->UnsentBytes() < kPaceBound) SendPiece();
    }

    ISocketConnection* sender = nullptr;
    ISocketConnection* receiver = nullptr;
    std::string senderName;
    TStreamCheck stream;
    bool reading = false;
    bool paced = false;
    bool throwOnWrite = false;
    std::size_t sent = 0;
    std::size_t maxUnsent = 0;
    std::size_t unsentAtLastWrite = 0;
    int writeEvents = 0;
    int receiverWriteEvents = 0;
};

std::string DirectionName(const ::testing::TestParamInfo<TDirection>& info) {
    return info.param == TDirection::ClientToServer ? "ClientToServer" : "ServerToClient";
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(BothWays, Backpressure,
                         ::testing::Values(TDirection::ClientToServer, TDirection::ServerToClient), DirectionName);

TEST_P(Backpressure, BytesTheStalledPeerCannotTakeStayQueuedUntilItReads) {
    while (sent < kStreamSize) ASSERT_NO_FATAL_FAILURE(SendPiece());
    // Nothing reaches the system before the event loop runs.
    EXPECT_EQ(sender->UnsentBytes(), kStreamSize);
    EXPECT_EQ(maxUnsent, kStreamSize);

    ASSERT_TRUE(RunUntil([this] { return writeEvents > 0; }));
    RunFor(200);
    // The system took what its buffers hold; the rest waits for the peer.
    const std::size_t stalled = sender->UnsentBytes();
    EXPECT_GT(stalled, 0u);
    EXPECT_LT(stalled, kStreamSize);
    EXPECT_EQ(unsentAtLastWrite, stalled);
    const int eventsWhileStalled = writeEvents;

    StartReading();
    ASSERT_TRUE(RunUntil([this] { return stream.received >= kStreamSize; }));
    EXPECT_EQ(stream.received, kStreamSize);
    EXPECT_EQ(stream.firstWrong, TStreamCheck::kNone);
    EXPECT_GT(writeEvents, eventsWhileStalled);
    EXPECT_EQ(unsentAtLastWrite, 0u);
    EXPECT_EQ(sender->UnsentBytes(), 0u);
    EXPECT_EQ(receiverWriteEvents, 0);
    EXPECT_TRUE(events.empty());
}

TEST_P(Backpressure, APacedSenderKeepsItsQueueBoundedAndDeliversAllInOrder) {
    paced = true;
    ASSERT_NO_FATAL_FAILURE(SendPaced());
    EXPECT_EQ(sent, kPaceBound);
    ASSERT_TRUE(RunUntil([this] { return writeEvents > 0; }));
    RunFor(200);
    // The peer does not read: the sender waits instead of queueing the stream.
    EXPECT_LT(sent, kStreamSize);
    EXPECT_GE(sender->UnsentBytes(), kPaceBound);
    EXPECT_LT(sender->UnsentBytes(), kPaceBound + kPiece);

    StartReading();
    ASSERT_TRUE(RunUntil([this] { return stream.received >= kStreamSize; }));
    EXPECT_EQ(sent, kStreamSize);
    EXPECT_EQ(stream.received, kStreamSize);
    EXPECT_EQ(stream.firstWrong, TStreamCheck::kNone);
    EXPECT_LT(maxUnsent, kPaceBound + kPiece);
    EXPECT_EQ(sender->UnsentBytes(), 0u);
    EXPECT_EQ(receiverWriteEvents, 0);
    EXPECT_TRUE(events.empty());
}

TEST_P(Backpressure, AnExceptionFromTheWriteHandlerIsReportedAndSendingGoesOn) {
    throwOnWrite = true;
    reading = true;
    ASSERT_EQ(sender->SendString(StreamPiece(0, 16)), 16);
    ASSERT_TRUE(RunUntil([this] { return stream.received >= 16; }));
    Settle();
    ASSERT_GT(writeEvents, 0);
    EXPECT_EQ(events, std::vector<std::string>(static_cast<std::size_t>(writeEvents),
                                               senderName + " raises write handler failed"));

    ASSERT_EQ(sender->SendString(StreamPiece(16, 16)), 16);
    ASSERT_TRUE(RunUntil([this] { return stream.received >= 32; }));
    EXPECT_EQ(stream.received, 32u);
    EXPECT_EQ(stream.firstWrong, TStreamCheck::kNone);
}

TEST_P(Backpressure, NothingIsUnsentOnceTheSenderCloses) {
    for (int i = 0; i < 16; ++i) ASSERT_NO_FATAL_FAILURE(SendPiece());
    EXPECT_EQ(sender->UnsentBytes(), 16 * kPiece);
    sender->CloseConnection();
    EXPECT_EQ(sender->UnsentBytes(), 0u);
    Settle();
    EXPECT_EQ(writeEvents, 0);
}
