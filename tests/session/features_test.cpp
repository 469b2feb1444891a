// What the session's parts tell the person: protocol details, the end of
// the key exchange, the trace file, and how each kind of connection's end
// is told.

#include <gtest/gtest.h>

#include "harness.h"

// ---------------------------------------------------------------- details and the end of the key exchange

TEST(Details, GoToTheLogInDebugModeAndToTheTraceWhileLogging) {
    Harness quiet;
    quiet.session->StartLogging();
    quiet.Listen();
    quiet.server->Incoming("alice");
    const std::string n = quiet.In().privateKey()->GetN().ToString();
    EXPECT_FALSE(quiet.view.HasLine("Sending N: " + n));
    EXPECT_NE(quiet.files->files["quellmere.log"].find("Sending N: " + n + "\n"), std::string::npos);

    SessionPair debug("[main]\ndebug=true\n");
    debug.Run();
    // Peer bytes that are no UTF-8 read as Windows-1252 in the log.
    debug.client.client->Receive(Frame(std::to_string(debug.server.In().sendSequence() + 1) + "?caf\xe9"));
    EXPECT_TRUE(debug.client.view.HasLine("Received ciphertext: caf\xc3\xa9"));
    EXPECT_TRUE(debug.client.files->files.empty());
}

TEST(KeyAgreed, TheControlsAreFreedAndTheFieldGetsTheFocus) {
    SessionPair pair;
    pair.client.view.applicationActive = false;
    pair.client.view.busy = true;
    pair.Run();
    EXPECT_FALSE(pair.client.State().isHandshaking);
    EXPECT_EQ(pair.client.view.lastState, pair.client.State());
    EXPECT_EQ(pair.client.view.flashes, 1);
    EXPECT_EQ(pair.client.view.focusRequests, 1);
    EXPECT_FALSE(pair.client.view.busy);
}

TEST(KeyAgreed, TheFocusIsLeftAloneWhileAntiKeyloggingIsOn) {
    SessionPair pair;
    pair.client.view.antiKeyloggingActive = true;
    pair.server.view.antiKeyloggingActive = true;
    pair.Run();
    EXPECT_EQ(pair.client.view.focusRequests, 0);
    EXPECT_EQ(pair.server.view.focusRequests, 0);
    EXPECT_EQ(pair.client.view.flashes, 0);
}

// ---------------------------------------------------------------- the trace file

TEST(TraceFile, StartingAgainEmptiesItAndStoppingClosesIt) {
    Harness h("[main]\ndebug=true\n");
    h.session->StartLogging();
    EXPECT_TRUE(h.State().isLogging);
    EXPECT_EQ(h.files->openFiles, 1);
    h.session->Say("first");
    h.session->StopLogging();
    EXPECT_FALSE(h.State().isLogging);
    EXPECT_EQ(h.files->openFiles, 0);
    EXPECT_EQ(h.view.lastState, h.State());
    h.session->Say("not traced");
    EXPECT_EQ(h.files->files["quellmere.log"],
              "Sending plaintext: first\nSending ciphertext: " + SealUnder("", "first") + "\n");
    h.session->StartLogging();
    EXPECT_EQ(h.files->files["quellmere.log"], "");
    // Stop when not logging does nothing.
    h.session->StopLogging();
    const int fixes = h.view.stateChanges;
    h.session->StopLogging();
    EXPECT_EQ(h.view.stateChanges, fixes);
}

TEST(TraceFile, AFileThatCannotBeCreatedIsShownAndLoggingStaysOff) {
    Harness h;
    h.files->refusal = "File access denied";
    h.session->StartLogging();
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"File access denied"});
    EXPECT_FALSE(h.State().isLogging);
}

// ---------------------------------------------------------------- how connections end

TEST(ConnectionEnds, EachWayAConversationEndsIsToldOnce) {
    using E = TConnectionEnd;
    Harness peerLeaves;
    peerLeaves.Connect();
    peerLeaves.client->connection.CloseConnection();
    EXPECT_EQ(peerLeaves.view.ends, std::vector<E>{E::PeerLeft});

    Harness serverPeerLeaves;
    serverPeerLeaves.Listen();
    serverPeerLeaves.server->Incoming("alice").CloseConnection();
    EXPECT_EQ(serverPeerLeaves.view.ends, std::vector<E>{E::PeerLeft});

    Harness local;
    local.Listen();
    local.server->Incoming("alice");
    local.session->Disconnect();
    EXPECT_EQ(local.view.ends, std::vector<E>{E::LocalDisconnect});
    // Nothing left to end.
    local.session->Disconnect();
    EXPECT_EQ(local.view.ends.size(), 1u);

    Harness broken;
    broken.Connect();
    broken.client->Receive(Frame("9?x"));
    EXPECT_EQ(broken.view.ends, std::vector<E>{E::ReceiveError});
}

TEST(ConnectionEnds, AConnectionThatIsNeverMadeIsAFailure) {
    using E = TConnectionEnd;
    Harness refused;
    refused.session->Connect("peer.example", "1801");
    refused.client->FailConnect(111);
    EXPECT_EQ(refused.view.ends, std::vector<E>{E::ConnectFailed});

    Harness badPort;
    badPort.session->Connect("", "x");
    EXPECT_EQ(badPort.view.ends, std::vector<E>{E::ConnectFailed});

    Harness portInUse;
    portInUse.server->bindError = "Windows socket error: Address already in use (98), on API 'bind'";
    portInUse.Listen();
    EXPECT_EQ(portInUse.view.ends, std::vector<E>{E::ConnectFailed});

    Harness noKey;
    noKey.keyBehaviour = [](int32_t) -> std::unique_ptr<TPrivateKey> { throw std::runtime_error("no"); };
    noKey.Listen();
    EXPECT_EQ(noKey.view.ends, std::vector<E>{E::ConnectFailed});

    Harness badSize;
    badSize.Listen("big");
    EXPECT_EQ(badSize.view.ends, std::vector<E>{E::ConnectFailed});
}
