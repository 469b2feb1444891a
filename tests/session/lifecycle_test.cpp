// Listen, connect, accept, reject and disconnect, driven through fake
// components: state, log lines, dialogs and refusals.

#include <gtest/gtest.h>

#include "harness.h"

TEST(Listen, GeneratesTheKeyOffTheUiThreadThenListens) {
    Harness h;
    h.session->Listen("1024", "1801");
    // Back at once, busy, with the first line only.
    EXPECT_TRUE((h.State().phase == TPhase::GeneratingKey));
    EXPECT_TRUE(h.view.busy);
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Generating 1024 bit RSA key...please wait"});
    h.worker->RunAll();
    EXPECT_EQ(h.view.log, (std::vector<std::string>{"Generating 1024 bit RSA key...please wait",
                                                    "Generated 1024 bit RSA key ok", "Listening on port 1801"}));
    EXPECT_EQ(h.requestedKeySizes, std::vector<int32_t>{1024});
    EXPECT_NE(h.In().privateKey(), nullptr);
    EXPECT_EQ(h.State().phase, TPhase::Listening);
    EXPECT_TRUE(h.State().isActive);
    EXPECT_FALSE(h.State().isHandshaking);
    EXPECT_EQ(h.view.lastState, h.State());
    EXPECT_TRUE(h.server->Active());
    EXPECT_EQ(h.server->Port(), 1801);
    EXPECT_FALSE(h.view.busy);
    EXPECT_TRUE(h.view.warnings.empty());
    EXPECT_TRUE(h.view.errors.empty());
}

TEST(Listen, WeakKeyWarnsAndStillListens) {
    Harness h;
    h.Listen("512", "1802");
    EXPECT_EQ(h.view.warnings, std::vector<std::string>{"Warning - key size is 512 which is weak, use 1024 at least!"});
    EXPECT_EQ(h.view.log.back(), "Listening on port 1802");
    EXPECT_EQ(h.requestedKeySizes, std::vector<int32_t>{512});
    // The warning comes before the first line.
    EXPECT_EQ(h.view.journal[h.view.journal.size() - 4],
              "warning:Warning - key size is 512 which is weak, use 1024 at least!");
}

TEST(Listen, KeySizeThatIsNoIntegerStopsAfterCleanup) {
    Harness h;
    h.Listen("1k", "1801");
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"'1k' is not a valid integer value"});
    EXPECT_TRUE(h.view.log.empty());
    EXPECT_EQ(h.State().phase, TPhase::Idle);
    EXPECT_FALSE(h.server->Active());
    EXPECT_TRUE(h.requestedKeySizes.empty());
}

TEST(Listen, PortThatIsNoIntegerStopsAfterTheKey) {
    Harness h;
    h.Listen("1024", "port");
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"'port' is not a valid integer value"});
    EXPECT_EQ(h.view.log,
              (std::vector<std::string>{"Generating 1024 bit RSA key...please wait", "Generated 1024 bit RSA key ok"}));
    EXPECT_NE(h.In().privateKey(), nullptr);
    EXPECT_FALSE(h.server->Active());
    EXPECT_FALSE(h.view.busy);
}

TEST(Listen, BindFailureGoesToTheErrorDisplayAndKeepsTheKey) {
    Harness h;
    h.server->bindError = "Windows socket error: Address already in use (98), on API 'bind'";
    h.Listen();
    EXPECT_EQ(h.view.errors, std::vector<std::string>{h.server->bindError});
    EXPECT_NE(h.In().privateKey(), nullptr);
    EXPECT_FALSE(h.State().isActive);
}

TEST(Listen, KeyGenerationErrorGoesToTheErrorDisplay) {
    Harness h;
    h.keyBehaviour = [](int32_t) -> std::unique_ptr<TPrivateKey> {
        throw std::runtime_error("Key size too small: 5 (at least 6 bits)");
    };
    h.Listen("5");
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"Key size too small: 5 (at least 6 bits)"});
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Generating 5 bit RSA key...please wait"});
    EXPECT_FALSE(h.view.busy);
    EXPECT_EQ(h.In().privateKey(), nullptr);
    EXPECT_FALSE((h.State().phase == TPhase::GeneratingKey));
}

TEST(Listen, CommandsAreIgnoredUntilTheKeyExists) {
    Harness h;
    h.session->Listen("2048", "1801");
    ASSERT_TRUE((h.State().phase == TPhase::GeneratingKey));
    h.session->Listen("2048", "1801");
    h.session->Connect("peer.example", "1801");
    h.session->Disconnect();
    EXPECT_EQ(h.client->activations, 0);
    EXPECT_EQ(h.view.log.size(), 1u);
    EXPECT_EQ(h.worker->pending.size(), 1u);
    h.worker->RunAll();
    EXPECT_FALSE((h.State().phase == TPhase::GeneratingKey));
    EXPECT_EQ(h.requestedKeySizes.size(), 1u);
    EXPECT_EQ(h.view.log.back(), "Listening on port 1801");
    EXPECT_EQ(h.State().phase, TPhase::Listening);
}

TEST(Listen, AgainWhileTheNewKeyIsMadeThePeerWaitsAndIsServed) {
    Harness h;
    h.Listen();
    h.server->Incoming("alice").CloseConnection();
    h.server->ReleaseClosed();
    h.view.log.clear();
    h.session->Listen("1024", "1801");
    ASSERT_TRUE((h.State().phase == TPhase::GeneratingKey));
    // Peers arrive before the key pair exists, and send their first frames.
    FakeConnection& bob = h.server->Incoming("bob");
    h.server->Receive(bob, Frame("1?32"));
    FakeConnection& carol = h.server->Incoming("carol");
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Generating 1024 bit RSA key...please wait"});
    EXPECT_EQ(h.In().keyPartsExpected(), 0);

    h.worker->RunAll();
    EXPECT_EQ(h.view.log,
              (std::vector<std::string>{
                  "Generating 1024 bit RSA key...please wait", "Generated 1024 bit RSA key ok", "Connection from bob",
                  "Sending our public key", "Sent public key to bob, receiving AES key, please wait...",
                  "Connection from carol", "Rejecting incoming connection as already connected to bob"}));
    EXPECT_NE(h.In().privateKey(), nullptr);
    EXPECT_TRUE(h.State().isActive);
    EXPECT_TRUE(h.State().isHandshaking);
    EXPECT_TRUE(bob.Connected());
    EXPECT_FALSE(carol.Connected());
    // What bob sent meanwhile is read now, as the first frame of the connection.
    EXPECT_EQ(h.In().keyPartsExpected(), 32);
    h.server->Receive(bob, Frame("2?0=1"));
    EXPECT_EQ(h.In().keyPartsReceived(), 1);
}

TEST(Listen, APeerThatLeavesWhileTheKeyIsMadeLeavesNoTrace) {
    Harness h;
    h.Listen();
    h.server->Incoming("alice").CloseConnection();
    h.server->ReleaseClosed();
    h.view.log.clear();
    h.session->Listen("1024", "1801");
    h.server->Incoming("bob").CloseConnection();
    h.server->ReleaseClosed();
    h.worker->RunAll();
    EXPECT_EQ(h.view.log,
              (std::vector<std::string>{"Generating 1024 bit RSA key...please wait", "Generated 1024 bit RSA key ok"}));
    EXPECT_FALSE(h.State().isActive);
    // The next peer is served with the new key.
    h.server->Incoming("carol");
    EXPECT_TRUE(h.view.HasLine("Connection from carol"));
    EXPECT_TRUE(h.State().isActive);
}

TEST(Listen, WhenTheNewKeyFailsWaitingPeersAreTurnedAway) {
    Harness h;
    h.Listen();
    h.server->Incoming("alice").CloseConnection();
    h.server->ReleaseClosed();
    h.keyBehaviour = [](int32_t) -> std::unique_ptr<TPrivateKey> { throw std::runtime_error("out of entropy"); };
    h.session->Listen("1024", "1801");
    FakeConnection& bob = h.server->Incoming("bob");
    h.worker->RunAll();
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"out of entropy"});
    const std::vector<std::string> tail(h.view.log.end() - 2, h.view.log.end());
    EXPECT_EQ(tail,
              (std::vector<std::string>{"Connection from bob", "Rejecting incoming connection as no RSA key exists"}));
    EXPECT_FALSE(bob.Connected());
}

TEST(Listen, AgainAfterPeerLeftSamePortMakesANewKeyButNoListenLine) {
    Harness h;
    h.Listen();
    FakeConnection& peer = h.server->Incoming("alice");
    peer.CloseConnection();
    h.server->ReleaseClosed();
    const std::string oldModulus = h.In().privateKey()->GetN().ToString();
    ASSERT_FALSE(h.State().isActive);
    h.view.log.clear();
    h.Listen();
    EXPECT_EQ(h.view.log,
              (std::vector<std::string>{"Generating 1024 bit RSA key...please wait", "Generated 1024 bit RSA key ok"}));
    EXPECT_FALSE(h.State().isActive);
    // A second key was made, and it is the one kept: the freed one's address says nothing.
    EXPECT_EQ(h.requestedKeySizes.size(), 2u);
    ASSERT_NE(h.In().privateKey(), nullptr);
    EXPECT_NE(h.In().privateKey()->GetN().ToString(), oldModulus);
    EXPECT_EQ(h.server->activations, 1);
    EXPECT_TRUE(h.view.errors.empty());
}

TEST(Listen, AgainAfterPeerLeftOtherPortIsRefusedByTheTransport) {
    Harness h;
    h.Listen();
    h.server->Incoming("alice").CloseConnection();
    h.server->ReleaseClosed();
    h.Listen("1024", "1900");
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"Can't change value while socket is active"});
    EXPECT_EQ(h.server->Port(), 1801);
}

TEST(Accept, FirstPeerStartsTheHandshakeWithFreshCounters) {
    Harness h;
    h.Listen();
    h.session->Say("before");
    FakeConnection& peer = h.server->Incoming("alice");
    const std::vector<std::string> tail(h.view.log.end() - 3, h.view.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Connection from alice", "Sending our public key",
                                              "Sent public key to alice, receiving AES key, please wait..."}));
    EXPECT_TRUE(h.State().isActive);
    EXPECT_TRUE(h.State().isHandshaking);
    EXPECT_EQ(h.view.lastState, h.State());
    EXPECT_EQ(h.In().receiveSequence(), 0);
    EXPECT_EQ(h.In().keyPartsExpected(), 0);
    // The numbering starts again with the public key: N, then E.
    EXPECT_EQ(h.In().sendSequence(), 2);
    const TPrivateKey& key = *h.In().privateKey();
    EXPECT_EQ(peer.sent, Frame("1?" + key.GetN().ToString()) + Frame("2?" + key.GetE().ToString()));
}

TEST(Accept, SecondPeerIsRejectedAndTheFirstCarriesOn) {
    Harness h;
    h.Listen();
    FakeConnection& first = h.server->Incoming("alice");
    h.server->Receive(first, Frame("1?2"));
    FakeConnection& second = h.server->Incoming("bob");
    const std::vector<std::string> tail(h.view.log.end() - 2, h.view.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Connection from bob",
                                              "Rejecting incoming connection as already connected to alice"}));
    EXPECT_FALSE(second.Connected());
    h.server->ReleaseClosed();
    EXPECT_EQ(h.server->ConnectionCount(), 1);
    // No "Client disconnected" for the rejected one, and the first goes on.
    EXPECT_FALSE(h.view.HasLine("Client disconnected"));
    EXPECT_TRUE(h.State().isActive);
    h.server->Receive(first, Frame("2?0=1"));
    EXPECT_EQ(h.In().keyPartsReceived(), 1);
    first.CloseConnection();
    EXPECT_EQ(std::count(h.view.log.begin(), h.view.log.end(), "Client disconnected"), 1);
}

TEST(Accept, WithoutAKeyPairThePeerIsRejected) {
    Harness h;
    h.Listen();
    h.server->Incoming("alice").CloseConnection();
    h.server->ReleaseClosed();
    // Connect destroys the key while the server keeps listening.
    h.Connect("carol");
    ASSERT_EQ(h.In().privateKey(), nullptr);
    ASSERT_TRUE(h.State().isActive);
    FakeConnection& stranger = h.server->Incoming("mallory");
    const std::vector<std::string> tail(h.view.log.end() - 2, h.view.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Connection from mallory",
                                              "Rejecting incoming connection as no RSA key exists"}));
    EXPECT_FALSE(stranger.Connected());
    // The client connection is untouched.
    EXPECT_TRUE(h.State().isActive);
    EXPECT_TRUE(h.client->Active());
    EXPECT_EQ(h.State().phase, TPhase::ClientHandshake);
}

TEST(PeerLeaves, ServerKeepsListeningAndTheNextPeerIsAccepted) {
    Harness h;
    h.view.applicationActive = false;
    h.Listen();
    FakeConnection& peer = h.server->Incoming("alice");
    const TPrivateKey* key = h.In().privateKey();
    peer.CloseConnection();
    EXPECT_EQ(h.view.log.back(), "Client disconnected");
    EXPECT_FALSE(h.State().isActive);
    // Shown idle, though the listener still listens.
    EXPECT_EQ(h.State().phase, TPhase::ListenerAfterPeer);
    EXPECT_EQ(h.view.lastState, h.State());
    EXPECT_TRUE(h.server->Active());
    EXPECT_EQ(h.In().privateKey(), key);
    EXPECT_EQ(h.view.flashes, 1);
    h.server->ReleaseClosed();
    h.server->Incoming("bob");
    EXPECT_EQ(h.view.log.back(), "Sent public key to bob, receiving AES key, please wait...");
    EXPECT_TRUE(h.State().isActive);
    EXPECT_TRUE(h.State().isHandshaking);
}

TEST(Connect, ResetsCountersAndWaitsForTheConnectEvent) {
    Harness h;
    h.session->Connect("peer.example", "1900");
    EXPECT_EQ(h.State().phase, TPhase::Connecting);
    EXPECT_FALSE(h.State().isActive);
    EXPECT_EQ(h.client->Host(), "peer.example");
    EXPECT_EQ(h.client->Port(), 1900);
    EXPECT_EQ(h.client->activations, 1);
    h.client->CompleteConnect("peer.example");
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Connected to peer.example:1900"});
    EXPECT_TRUE(h.State().isActive);
    EXPECT_TRUE(h.State().isHandshaking);
}

TEST(Connect, PeerWithoutNameLeavesTheHostEmpty) {
    Harness h;
    h.Connect("", "1801");
    EXPECT_EQ(h.view.log.back(), "Connected to :1801");
}

TEST(Connect, PortThatIsNoIntegerIsShownAndNothingStarts) {
    Harness h;
    h.session->Connect("peer.example", "18o1");
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"'18o1' is not a valid integer value"});
    EXPECT_EQ(h.client->activations, 0);
}

TEST(Connect, FailedConnectLogsTheCodeAndLeavesItForTheTransport) {
    Harness h;
    h.view.applicationActive = false;
    h.session->Connect("peer.example", "1801");
    h.client->FailConnect(111);
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Socket error: 111"});
    EXPECT_EQ(h.client->lastErrorCodeAfterHandler, 111);
    EXPECT_FALSE(h.State().isActive);
    EXPECT_EQ(h.view.flashes, 1);
}

TEST(Connect, NewConnectionStartsNumberingAgain) {
    Harness h;
    h.Connect();
    h.client->Receive(Frame("1?12"));
    h.session->Say("x");
    h.session->Disconnect();
    h.client->connection.sent.clear();
    h.Connect();
    h.client->Receive(Frame("1?34"));
    h.session->Say("y");
    EXPECT_EQ(h.client->connection.sent, Frame("1?" + SealUnder(std::string(), "y")));
    EXPECT_EQ(h.In().remoteModulus()->ToString(), "34");
}

TEST(Disconnect, ListeningSideWhileConnectedLogsBothLinesAndStopsListening) {
    Harness h;
    h.Listen();
    h.server->Incoming("alice");
    h.view.log.clear();
    h.session->Disconnect();
    EXPECT_EQ(h.view.log, (std::vector<std::string>{"Client disconnected", "Disconnected"}));
    EXPECT_FALSE(h.server->Active());
    EXPECT_FALSE(h.State().isActive);
    EXPECT_FALSE(h.State().isHandshaking);
    EXPECT_EQ(h.In().privateKey(), nullptr);
    EXPECT_EQ(h.view.lastState, h.State());
}

TEST(Disconnect, ListeningSideWithoutPeerLogsDisconnectedOnly) {
    Harness h;
    h.Listen();
    h.view.log.clear();
    h.session->Disconnect();
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Disconnected"});
}

TEST(Disconnect, ConnectingSideLogsDisconnectedOnce) {
    Harness h;
    h.Connect();
    h.view.log.clear();
    h.session->Disconnect();
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Disconnected"});
    EXPECT_FALSE(h.client->Active());
    EXPECT_FALSE(h.State().isActive);
}

TEST(Disconnect, IdleDoesNothingVisibleButCleansUp) {
    Harness h;
    const int before = h.view.stateChanges;
    h.session->Disconnect();
    EXPECT_TRUE(h.view.log.empty());
    EXPECT_EQ(h.view.stateChanges, before + 1);
    EXPECT_FALSE(h.State().isTransferring);
}

TEST(Disconnect, PeerClosingTheClientConnection) {
    Harness h;
    h.Connect();
    h.view.applicationActive = false;
    h.client->connection.CloseConnection();
    EXPECT_EQ(h.view.log.back(), "Disconnected");
    EXPECT_FALSE(h.State().isActive);
    EXPECT_FALSE(h.State().isHandshaking);
    EXPECT_EQ(h.view.flashes, 1);
}

TEST(Errors, ServerClientErrorLogsAndKeepsTheCode) {
    Harness h;
    h.Listen();
    FakeConnection& peer = h.server->Incoming("alice");
    int code = 104;
    h.server->OnClientError(peer, TErrorEvent::eeReceive, code);
    EXPECT_EQ(h.view.log.back(), "Socket error: 104");
    EXPECT_EQ(code, 104);
    EXPECT_TRUE(h.State().isActive);
    EXPECT_EQ(h.view.flashes, 0);
}

TEST(Errors, TransportRaisesReachTheErrorDisplay) {
    Harness h;
    h.client->OnException("Asynchronous socket error 111");
    h.server->OnException("Asynchronous socket error 104");
    EXPECT_EQ(h.view.errors,
              (std::vector<std::string>{"Asynchronous socket error 111", "Asynchronous socket error 104"}));
}
