// The conductor's port to its features, the trace file, the control rules,
// and senders that pace themselves on the connection's unsent bytes.

#include <gtest/gtest.h>

#include "harness.h"

// ---------------------------------------------------------------- control rules

TEST(ControlRules, EachStateOfTheWindow) {
    struct Row {
        bool active, handshaking, transferring;
        bool setup, disconnect, sending;
    };
    const Row rows[] = {
        {false, false, false, true, false, false},  // idle
        {true, false, false, false, true, true},    // listening, or connected
        {true, true, false, false, true, false},    // handshaking
        {true, false, true, false, true, false},    // sending or receiving a file
        {false, true, false, true, false, false},   // listening after the peer left
    };
    for (const Row& row : rows) {
        TSessionFlags flags;
        flags.isActive = row.active;
        flags.isHandshaking = row.handshaking;
        flags.isTransferring = row.transferring;
        const TControlStates states = FixControlsRules(flags);
        EXPECT_EQ(states.connectionSetupEnabled, row.setup);
        EXPECT_EQ(states.disconnectEnabled, row.disconnect);
        EXPECT_EQ(states.sendingEnabled, row.sending);
        EXPECT_FALSE(states.loggingButtonsVisible);
    }
}

TEST(ControlRules, LogButtonsShowInDebugModeWithExactlyOneEnabled) {
    TSessionFlags flags;
    flags.debugMode = true;
    TControlStates states = FixControlsRules(flags);
    EXPECT_TRUE(states.loggingButtonsVisible);
    EXPECT_TRUE(states.startLoggingEnabled);
    EXPECT_FALSE(states.stopLoggingEnabled);
    flags.isLogging = true;
    states = FixControlsRules(flags);
    EXPECT_FALSE(states.startLoggingEnabled);
    EXPECT_TRUE(states.stopLoggingEnabled);
}

// ---------------------------------------------------------------- the port

TEST(Port, DebugLinesGoToTheLogInDebugModeAndToTheTraceWhileLogging) {
    Harness quiet;
    quiet.session->DebugLine("Sending N: 77");
    EXPECT_TRUE(quiet.view.log.empty());
    quiet.session->btnStartLoggingClick();
    quiet.session->DebugLine("Sending E: 5");
    quiet.session->TraceLine("** HANDSHAKING COMPLETE **");
    EXPECT_TRUE(quiet.view.log.empty());
    EXPECT_EQ(quiet.files->files["quellmere.log"], "Sending E: 5\n** HANDSHAKING COMPLETE **\n");

    Harness debug("[main]\ndebug=true\n");
    debug.session->DebugLine("Received ciphertext: caf\xe9");
    debug.session->TraceLine("not for the log");
    // Peer bytes that are no UTF-8 read as Windows-1252 in the log.
    EXPECT_EQ(debug.view.log, std::vector<std::string>{"Received ciphertext: caf\xc3\xa9"});
    EXPECT_TRUE(debug.files->files.empty());
}

TEST(Port, EndHandshakeSendsTheNextFrameToTheChannelAndFreesTheControls) {
    Harness h;
    h.view.applicationActive = false;
    h.view.toggleDown = false;
    h.session->SpeedButton1Click();
    h.Connect();
    h.payloads->onPayload = [&](const std::string& entry) {
        if (entry == "client:**ACK**") h.session->EndHandshake();
    };
    h.view.busy = true;
    h.client->Receive(Frame("1?**ACK**") + Frame("2?text"));
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"client:**ACK**", "cipher:text"}));
    EXPECT_FALSE(h.session->isHandshaking());
    EXPECT_TRUE(h.view.lastStates.sendingEnabled);
    EXPECT_EQ(h.view.flashes, 1);
    EXPECT_EQ(h.view.focusRequests, 1);
    EXPECT_FALSE(h.view.busy);
}

TEST(Port, EndHandshakeLeavesTheFocusAloneWhileAntiKeyloggingIsOn) {
    Harness h;
    ASSERT_TRUE(h.view.antiKeyloggingActive);
    h.Connect();
    h.session->EndHandshake();
    EXPECT_EQ(h.view.focusRequests, 0);
    EXPECT_EQ(h.view.flashes, 0);
}

TEST(Port, DisconnectEndsTheConnectionAsTheButtonDoes) {
    Harness h;
    h.Connect();
    h.payloads->onPayload = [&](const std::string&) { h.session->Disconnect(); };
    h.client->Receive(Frame("1?a") + Frame("2?b"));
    // The frame after the one that disconnected is not handled.
    EXPECT_EQ(h.payloads->received, std::vector<std::string>{"client:a"});
    EXPECT_EQ(h.view.log.back(), "Disconnected");
    EXPECT_FALSE(h.session->isActive());
    EXPECT_EQ(h.session->receiveBuffer(), "");
}

// ---------------------------------------------------------------- the trace file

TEST(TraceFile, StartingAgainEmptiesItAndStoppingClosesIt) {
    Harness h("[main]\ndebug=true\n");
    h.session->btnStartLoggingClick();
    EXPECT_TRUE(h.session->isLogging());
    EXPECT_EQ(h.files->openFiles, 1);
    h.session->DebugLine("first");
    h.session->btnStopLoggingClick();
    EXPECT_FALSE(h.session->isLogging());
    EXPECT_EQ(h.files->openFiles, 0);
    EXPECT_FALSE(h.view.lastStates.stopLoggingEnabled);
    h.session->DebugLine("not traced");
    EXPECT_EQ(h.files->files["quellmere.log"], "first\n");
    h.session->btnStartLoggingClick();
    EXPECT_EQ(h.files->files["quellmere.log"], "");
    // Stop when not logging does nothing.
    h.session->btnStopLoggingClick();
    const int fixes = h.view.fixControlsCalls;
    h.session->btnStopLoggingClick();
    EXPECT_EQ(h.view.fixControlsCalls, fixes);
}

TEST(TraceFile, AFileThatCannotBeCreatedIsShownAndLoggingStaysOff) {
    Harness h;
    h.files->refusal = "File access denied";
    h.session->btnStartLoggingClick();
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"File access denied"});
    EXPECT_FALSE(h.session->isLogging());
}

// ---------------------------------------------------------------- paced senders

namespace {

// Hands out numbered payloads of a fixed size until it has given count.
class CountingSource : public IFrameSource {
public:
    CountingSource(int count, std::size_t size) : count_(count), size_(size) {}
    bool NextPayload(std::string& payload) override {
        if (given == count_) return false;
        ++given;
        payload = std::string(size_, 'x');
        return true;
    }
    int given = 0;

private:
    int count_;
    std::size_t size_;
};

}  // namespace

TEST(PacedSending, ASenderStopsAtTheUnsentBoundAndGoesOnWhenBytesAreWritten) {
    Harness h;
    h.Connect();
    FakeConnection& connection = h.client->connection;
    connection.backlogged = true;
    CountingSource source(100, 4000);
    h.session->SetFrameSource(&source);
    // About 4003 bytes a frame: the 17th brings the unsent bytes to the bound.
    EXPECT_EQ(source.given, 17);
    EXPECT_GE(connection.UnsentBytes(), TChatSession::sendRoomBytes);
    EXPECT_FALSE(h.session->HasSendRoom());

    // Half the bytes go out: the sender fills up to the bound again.
    connection.Drain(connection.UnsentBytes() / 2);
    EXPECT_GT(source.given, 17);
    EXPECT_LT(connection.UnsentBytes(), TChatSession::sendRoomBytes + 4006);
    while (source.given < 100) {
        const int before = source.given;
        connection.Drain(connection.UnsentBytes());
        ASSERT_GT(source.given, before);
        ASSERT_LT(connection.UnsentBytes(), TChatSession::sendRoomBytes + 4006);
    }
    EXPECT_EQ(h.session->sendSequence(), 100);
    EXPECT_EQ(connection.sent.size(), 100u * 4000u + 9u * 3u + 90u * 4u + 1u * 5u);
}

TEST(PacedSending, WithAPauseOneFrameLeavesPerTick) {
    Harness h("[main]\nsleepDuringTransfer=5\n");
    h.Connect();
    FakeConnection& peer = h.client->connection;
    CountingSource source(3, 1);
    h.session->SetFrameSource(&source);
    EXPECT_EQ(source.given, 1);
    EXPECT_EQ(h.session->pendingFrames(), 0u);
    h.timer->Fire();
    EXPECT_EQ(source.given, 2);
    h.timer->Fire();
    h.timer->Fire();
    EXPECT_EQ(source.given, 3);
    EXPECT_EQ(peer.sent, Frame("1?x") + Frame("2?x") + Frame("3?x"));
    // The queue never held more than what callers put there themselves.
    EXPECT_EQ(h.session->pendingFrames(), 0u);
}

TEST(PacedSending, TheSourceIsDroppedWhenTheConnectionEnds) {
    Harness h;
    h.Connect();
    h.client->connection.backlogged = true;
    CountingSource source(1000, 8000);
    h.session->SetFrameSource(&source);
    const int given = source.given;
    h.session->btnDisconnectClick();
    h.client->connection.Drain(1u << 30);
    EXPECT_EQ(source.given, given);
}

// ---------------------------------------------------------------- how connections end

TEST(ConnectionEnds, EachWayAConversationEndsIsToldOnce) {
    using E = TConnectionEnd;
    std::vector<E> ends;
    const auto watch = [&](Harness& h) { h.session->OnConnectionEnded = [&](E end) { ends.push_back(end); }; };

    Harness peerLeaves;
    watch(peerLeaves);
    peerLeaves.Connect();
    peerLeaves.client->connection.CloseConnection();
    EXPECT_EQ(ends, std::vector<E>{E::PeerLeft});

    ends.clear();
    Harness serverPeerLeaves;
    watch(serverPeerLeaves);
    serverPeerLeaves.Listen();
    serverPeerLeaves.server->Incoming("alice").CloseConnection();
    EXPECT_EQ(ends, std::vector<E>{E::PeerLeft});

    ends.clear();
    Harness local;
    watch(local);
    local.Listen();
    local.server->Incoming("alice");
    local.session->btnDisconnectClick();
    EXPECT_EQ(ends, std::vector<E>{E::LocalDisconnect});
    // Nothing left to end.
    local.session->btnDisconnectClick();
    EXPECT_EQ(ends.size(), 1u);

    ends.clear();
    Harness broken;
    watch(broken);
    broken.Connect();
    broken.client->Receive(Frame("9?x"));
    EXPECT_EQ(ends, std::vector<E>{E::ReceiveError});
}

TEST(ConnectionEnds, AConnectionThatIsNeverMadeIsAFailure) {
    using E = TConnectionEnd;
    std::vector<E> ends;
    const auto watch = [&](Harness& h) { h.session->OnConnectionEnded = [&](E end) { ends.push_back(end); }; };

    Harness refused;
    watch(refused);
    refused.view.fields[TSessionField::RemoteHost] = "peer.example";
    refused.view.fields[TSessionField::RemotePort] = "1801";
    refused.session->btnConnectClick();
    refused.client->FailConnect(111);
    EXPECT_EQ(ends, std::vector<E>{E::ConnectFailed});

    ends.clear();
    Harness badPort;
    watch(badPort);
    badPort.view.fields[TSessionField::RemotePort] = "x";
    badPort.session->btnConnectClick();
    EXPECT_EQ(ends, std::vector<E>{E::ConnectFailed});

    ends.clear();
    Harness portInUse;
    watch(portInUse);
    portInUse.server->bindError = "Windows socket error: Address already in use (98), on API 'bind'";
    portInUse.Listen();
    EXPECT_EQ(ends, std::vector<E>{E::ConnectFailed});

    ends.clear();
    Harness noKey;
    watch(noKey);
    noKey.keyBehaviour = [](int32_t) -> std::unique_ptr<TPrivateKey> { throw std::runtime_error("no"); };
    noKey.Listen();
    EXPECT_EQ(ends, std::vector<E>{E::ConnectFailed});

    ends.clear();
    Harness badSize;
    watch(badSize);
    badSize.Listen("big");
    EXPECT_EQ(ends, std::vector<E>{E::ConnectFailed});
}
