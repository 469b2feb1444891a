// The conversation driver on sessions wired to fakes: options over the
// settings, typed lines held until the key exchange is complete, hanging up
// at the end of input, the exit status of every way a conversation ends, and
// listening again. Two sides are joined back to back; the test carries their
// bytes and runs what they posted to the event loop.

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

#include <gtest/gtest.h>

#include "cli/readonlysettings.h"
#include "driverpair.h"
#include "session/keyexchange.h"

// ---------------------------------------------------------------- options over the settings

TEST(DriverStart, ListenUsesTheSettingsWhenNoOptionIsGiven) {
    Side side({"listen"}, "[main]\nRsaKeySize=2048\nlistenPort=1900\n");
    side.driver->Start();
    side.fakes.worker->RunAll();
    EXPECT_EQ(side.requestedKeySizes, std::vector<int32_t>{2048});
    EXPECT_EQ(side.fakes.server->Port(), 1900);
    EXPECT_EQ(side.Lines(), (std::vector<std::string>{"Generating 2048 bit RSA key...please wait",
                                                      "Generated 2048 bit RSA key ok", "Listening on port 1900"}));
    EXPECT_EQ(side.err.str(), "");
}

TEST(DriverStart, ListenOptionsOverrideTheSettings) {
    Side side({"listen", "--port", "1950", "--key-size", "1536", "--debug", "--sleep", "25"},
              "[main]\nRsaKeySize=2048\nlistenPort=1900\nsleepDuringTransfer=5\n");
    side.driver->Start();
    side.fakes.worker->RunAll();
    EXPECT_EQ(side.requestedKeySizes, std::vector<int32_t>{1536});
    EXPECT_EQ(side.fakes.server->Port(), 1950);
    EXPECT_TRUE(side.State().debugMode);
    EXPECT_EQ(side.In().sleepDuringTransfer(), 25);
    EXPECT_TRUE(side.Shows("Listening on port 1950"));
}

TEST(DriverStart, SettingsFileOptionsStayWithoutOverride) {
    Side side({"connect", "peer.example"}, "[main]\ndebug=true\nsleepDuringTransfer=5\nremotePort=1777\n");
    side.driver->Start();
    EXPECT_TRUE(side.State().debugMode);
    EXPECT_EQ(side.In().sleepDuringTransfer(), 5);
    EXPECT_EQ(side.fakes.client->host, "peer.example");
    EXPECT_EQ(side.fakes.client->port, 1777);
}

TEST(DriverStart, ConnectTakesHostAndPort) {
    Side side({"connect", "10.1.2.3", "--port", "1802"},
              "[main]\nsaveHost=true\nremoteHost=saved.example\nremotePort=1777\n");
    side.driver->Start();
    EXPECT_EQ(side.fakes.client->host, "10.1.2.3");
    EXPECT_EQ(side.fakes.client->port, 1802);
    EXPECT_EQ(side.fakes.client->activations, 1);
    EXPECT_EQ(side.In().phase(), TPhase::Connecting);
}

TEST(DriverStart, LogStartsTheTraceBeforeConnectingAndStopsAtTheEnd) {
    Side side({"connect", "peer.example", "--log"});
    side.driver->Start();
    EXPECT_TRUE(side.State().isLogging);
    EXPECT_EQ(side.fakes.files->openFiles, 1);
    EXPECT_EQ(side.fakes.files->files.count("quellmere.log"), 1u);
    side.fakes.client->FailConnect(10061);
    side.RunPosted();
    EXPECT_FALSE(side.State().isLogging);
    EXPECT_EQ(side.fakes.files->openFiles, 0);
    EXPECT_EQ(side.quits, std::vector<int>{1});
}

TEST(DriverStart, TheSettingsFileIsNeverWritten) {
    Side side({"listen"}, "[main]\nlistenPort=1900\n");
    side.driver->Start();
    side.fakes.worker->RunAll();
    side.driver->Interrupt();
    side.RunPosted();
    EXPECT_EQ(side.quits, std::vector<int>{0});
    EXPECT_EQ(side.settings.writes, 0);
}

TEST(ReadOnlySettingsFile, ReadsButNeverWrites) {
    char name[] = "/tmp/quellmere-cli-conf-XXXXXX";
    const int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    const std::string bytes = "[main]\r\nlistenPort=1900\r\n";
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    TReadOnlySettingsFile settings(name);
    EXPECT_EQ(settings.Read(), bytes);
    bool asked = false;
    settings.Update([&](const std::string&) {
        asked = true;
        return std::string("[main]\nlistenPort=1\n");
    });
    EXPECT_FALSE(asked);
    EXPECT_EQ(settings.Read(), bytes);
    std::remove(name);
    EXPECT_EQ(TReadOnlySettingsFile("/nonexistent/quellmere.conf").Read(), "");
}

// ---------------------------------------------------------------- typed lines

TEST(DriverLines, LinesTypedBeforeTheHandshakeWaitThenGoOutInOrder) {
    Pair pair;
    pair.StartListener();
    pair.listener.driver->TypedLine("first");
    pair.listener.driver->TypedLine("");
    pair.Join();
    pair.connector.driver->TypedLine("from the caller");
    pair.listener.driver->TypedLine("second");
    pair.listener.RunPosted();
    pair.connector.RunPosted();
    // The key exchange has only begun: nothing may go out yet. The listener
    // completes first, so its lines arrive with the acknowledgement.
    EXPECT_EQ(pair.listener.driver->waitingLines(), 3u);
    EXPECT_EQ(pair.connector.driver->waitingLines(), 1u);
    EXPECT_FALSE(pair.listener.ShowsStarting("YOU"));

    pair.Run();
    ASSERT_TRUE(pair.HandshakeComplete());
    EXPECT_EQ(pair.listener.driver->waitingLines(), 0u);
    EXPECT_EQ(pair.connector.driver->waitingLines(), 0u);
    const std::vector<std::string> heard = pair.connector.Lines();
    const auto complete = std::find(heard.begin(), heard.end(), kHandshakeCompleteText);
    EXPECT_EQ(std::vector<std::string>(complete, heard.end()),
              (std::vector<std::string>{kHandshakeCompleteText, "PEER (11:01:04) : first", "PEER (11:01:04) : ",
                                        "PEER (11:01:04) : second", "YOU  (11:01:04) : from the caller"}));
    const std::vector<std::string> said = pair.listener.Lines();
    EXPECT_EQ(std::vector<std::string>(said.end() - 4, said.end()),
              (std::vector<std::string>{"YOU  (11:01:04) : first", "YOU  (11:01:04) : ", "YOU  (11:01:04) : second",
                                        "PEER (11:01:04) : from the caller"}));
    EXPECT_EQ(pair.listener.err.str(), "");
    EXPECT_EQ(pair.connector.err.str(), "");
    EXPECT_TRUE(pair.listener.quits.empty());
    EXPECT_TRUE(pair.connector.quits.empty());
}

TEST(DriverLines, LinesTypedDuringTheConversationGoOutFromTheEventLoop) {
    Pair pair;
    pair.Start();
    pair.Run();
    ASSERT_TRUE(pair.HandshakeComplete());
    pair.connector.driver->TypedLine("now");
    // Not from inside the call: the loop sends it.
    EXPECT_EQ(pair.connector.driver->waitingLines(), 1u);
    EXPECT_EQ(pair.connector.posted.size(), 1u);
    pair.Run();
    EXPECT_TRUE(pair.listener.Shows("PEER (11:01:04) : now"));
    EXPECT_TRUE(pair.connector.Shows("YOU  (11:01:04) : now"));
}

TEST(DriverLines, AListenerWithoutAPeerSendsNothing) {
    Side side({"listen"});
    side.driver->Start();
    side.fakes.worker->RunAll();
    // Listening enables sending in the window's rules; there is nobody to send to.
    side.driver->TypedLine("anyone?");
    side.RunPosted();
    side.RunPosted();
    EXPECT_EQ(side.driver->waitingLines(), 1u);
    EXPECT_EQ(side.Lines().back(), "Listening on port 1801");
    EXPECT_EQ(side.err.str(), "");
}

TEST(DriverLines, WhatThePeerSendsIsShownEscaped) {
    Pair pair;
    pair.Start();
    pair.listener.driver->TypedLine(
        "\x1b]0;owned\x07 \xc2\x9b"
        "2J\r done");
    pair.Run();
    EXPECT_TRUE(pair.connector.Shows("PEER (11:01:04) : \\x1b]0;owned\\x07 \\x9b2J\\x0d done"));
}

// ---------------------------------------------------------------- end of input

TEST(DriverEndOfInput, HangsUpOnceEverythingIsSentAndThePeerEndsToo) {
    Pair pair;
    pair.Start();
    pair.connector.driver->TypedLine("last words");
    pair.connector.driver->InputEnded();
    pair.Run();
    EXPECT_TRUE(pair.listener.Shows("PEER (11:01:04) : last words"));
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.connector.fakes.client->Active());
    // The listener sees its peer leave (here by hand, as a socket would tell it).
    EXPECT_TRUE(pair.listener.quits.empty());
    pair.serverEnd->CloseConnection();
    pair.listener.RunPosted();
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.listener.fakes.server->Active());
    EXPECT_EQ(pair.listener.Lines().back(), "Disconnected");
}

TEST(DriverEndOfInput, AnEmptyInputStillWaitsForTheHandshake) {
    Pair pair;
    pair.StartListener();
    pair.listener.driver->InputEnded();
    pair.listener.RunPosted();
    EXPECT_TRUE(pair.listener.quits.empty());
    EXPECT_TRUE(pair.listener.fakes.server->Active());
    pair.Join();
    pair.Run();
    ASSERT_TRUE(pair.HandshakeComplete());
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.listener.fakes.server->Active());
}

TEST(DriverEndOfInput, WaitsForBytesTheSystemHasNotTaken) {
    Pair pair;
    pair.Start();
    pair.Run();
    pair.connector.fakes.client->connection.backlogged = true;
    pair.connector.driver->TypedLine("slow");
    pair.connector.driver->InputEnded();
    pair.connector.RunPosted();
    pair.connector.RunPosted();
    EXPECT_TRUE(pair.connector.quits.empty());
    EXPECT_TRUE(pair.connector.fakes.client->Active());
    pair.connector.fakes.client->connection.Drain(10);
    pair.connector.RunPosted();
    EXPECT_TRUE(pair.connector.quits.empty());
    pair.connector.fakes.client->connection.Drain(1000);
    pair.connector.RunPosted();
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.connector.fakes.client->Active());
}

TEST(DriverEndOfInput, WaitsForFramesPausedBySleep) {
    Pair pair({"listen"}, {"connect", "server.example", "--sleep", "40"});
    pair.Start();
    FakeTimer& pause = *pair.connector.fakes.timer;
    // The key exchange's frames wait for the pause too.
    for (int turn = 0; turn < 100 && !pair.HandshakeComplete(); ++turn) {
        pair.Run();
        if (pause.IsActive()) pause.Fire();
    }
    pair.Run();
    ASSERT_TRUE(pair.HandshakeComplete());
    ASSERT_FALSE(pause.IsActive());
    for (const char* line : {"one", "two", "three"}) pair.connector.driver->TypedLine(line);
    pair.connector.driver->InputEnded();
    pair.Run();
    EXPECT_EQ(pair.connector.In().framesWaitingForThePause(), 2u);
    EXPECT_TRUE(pair.connector.quits.empty());
    pause.Fire();
    pair.Run();
    EXPECT_TRUE(pair.connector.quits.empty());
    pause.Fire();
    pair.Run();
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
    EXPECT_TRUE(pair.listener.Shows("PEER (11:01:04) : three"));
}

TEST(DriverEndOfInput, KeepListeningOnlyStopsReading) {
    Pair pair({"listen", "--keep-listening"});
    pair.Start();
    pair.listener.driver->TypedLine("hello");
    pair.listener.driver->InputEnded();
    pair.Run();
    EXPECT_TRUE(pair.connector.Shows("PEER (11:01:04) : hello"));
    EXPECT_TRUE(pair.listener.quits.empty());
    EXPECT_TRUE(pair.listener.fakes.server->Active());
    EXPECT_TRUE(pair.listener.posted.empty());
}

// ---------------------------------------------------------------- how conversations end

TEST(DriverEnd, PeerLeavingAListenerStopsListeningAndExitsZero) {
    Pair pair;
    pair.Start();
    pair.Run();
    pair.serverEnd->CloseConnection();
    EXPECT_TRUE(pair.listener.driver->finished());
    EXPECT_TRUE(pair.listener.fakes.server->Active());
    pair.listener.RunPosted();
    EXPECT_FALSE(pair.listener.fakes.server->Active());
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
    EXPECT_EQ(pair.listener.driver->exitStatus(), 0);
}

TEST(DriverEnd, PeerLeavingACallerExitsZero) {
    Pair pair;
    pair.Start();
    pair.Run();
    pair.connector.fakes.client->connection.CloseConnection();
    pair.connector.RunPosted();
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
    EXPECT_EQ(pair.connector.Lines().back(), "Disconnected");
}

TEST(DriverEnd, PeerLeavingDuringTheHandshakeAlsoEnds) {
    Pair pair;
    pair.Start();
    pair.connector.driver->TypedLine("never sent");
    pair.connector.fakes.client->connection.CloseConnection();
    pair.connector.RunPosted();
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
    EXPECT_EQ(pair.connector.driver->waitingLines(), 1u);
}

TEST(DriverEnd, AReceiveErrorExitsOne) {
    Pair pair;
    pair.Start();
    pair.Run();
    pair.listener.fakes.server->Receive(*pair.serverEnd, std::string("99?junk\0", 8));
    pair.listener.RunPosted();
    EXPECT_EQ(pair.listener.quits, std::vector<int>{1});
    EXPECT_FALSE(pair.listener.fakes.server->Active());
    // The caller sent 33 frames in the key exchange.
    EXPECT_TRUE(pair.listener.Shows("Expected sequence 34 but received 99"));
}

TEST(DriverEnd, AFailedConnectExitsOne) {
    Side side({"connect", "nowhere.example"});
    side.driver->Start();
    side.fakes.client->FailConnect(10061);
    side.RunPosted();
    EXPECT_EQ(side.quits, std::vector<int>{1});
    EXPECT_EQ(side.Lines(), std::vector<std::string>{"Socket error: 10061"});
}

TEST(DriverEnd, AConnectRefusedAtOnceExitsOne) {
    Side side({"connect", "bad host"});
    side.fakes.client->refusal = "Host not found";
    side.driver->Start();
    side.RunPosted();
    EXPECT_EQ(side.quits, std::vector<int>{1});
    EXPECT_EQ(side.err.str(), "Host not found\n");
}

TEST(DriverEnd, AListenThatFailsExitsOne) {
    Side badSize({"listen"}, "[main]\nRsaKeySize=big\n");
    badSize.driver->Start();
    badSize.RunPosted();
    EXPECT_EQ(badSize.quits, std::vector<int>{1});
    EXPECT_EQ(badSize.err.str(), "'big' is not a valid integer value\n");

    Side portInUse({"listen", "--keep-listening"});
    portInUse.fakes.server->bindError = "Address already in use";
    portInUse.driver->Start();
    portInUse.fakes.worker->RunAll();
    portInUse.RunPosted();
    EXPECT_EQ(portInUse.quits, std::vector<int>{1});
    EXPECT_EQ(portInUse.err.str(), "Address already in use\n");
}

TEST(DriverEnd, OurOwnDisconnectExitsZero) {
    Pair pair;
    pair.Start();
    pair.Run();
    pair.connector.session->Disconnect();
    pair.connector.RunPosted();
    EXPECT_EQ(pair.connector.quits, std::vector<int>{0});
}

TEST(DriverEnd, InterruptHangsUpStopsTheTraceAndExitsZero) {
    Pair pair({"listen", "--log", "--keep-listening"});
    pair.Start();
    pair.Run();
    pair.listener.driver->TypedLine("unsent");
    pair.listener.driver->Interrupt();
    EXPECT_TRUE(pair.listener.State().isLogging);
    pair.listener.RunPosted();
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
    EXPECT_FALSE(pair.listener.fakes.server->Active());
    EXPECT_FALSE(pair.listener.State().isLogging);
    EXPECT_EQ(pair.listener.fakes.files->openFiles, 0);
    // A second signal changes nothing.
    pair.listener.driver->Interrupt();
    pair.listener.RunPosted();
    EXPECT_EQ(pair.listener.quits, std::vector<int>{0});
}

TEST(DriverEnd, InterruptWhileOnlyListening) {
    Side side({"listen"});
    side.driver->Start();
    side.fakes.worker->RunAll();
    side.driver->Interrupt();
    side.RunPosted();
    EXPECT_EQ(side.quits, std::vector<int>{0});
    EXPECT_FALSE(side.fakes.server->Active());
    EXPECT_EQ(side.Lines().back(), "Disconnected");
}

TEST(DriverEnd, OnlyTheFirstEndCounts) {
    Pair pair;
    pair.Start();
    pair.Run();
    pair.listener.fakes.server->Receive(*pair.serverEnd, std::string("99?junk\0", 8));
    pair.listener.driver->Interrupt();
    pair.listener.RunPosted();
    EXPECT_EQ(pair.listener.quits, std::vector<int>{1});
}

// ---------------------------------------------------------------- keep listening

TEST(DriverKeepListening, AfterThePeerLeftTheSameKeyServesTheNext) {
    Pair pair({"listen", "--keep-listening"});
    pair.Start();
    pair.Run();
    pair.serverEnd->CloseConnection();
    pair.listener.fakes.server->ReleaseClosed();
    EXPECT_TRUE(pair.listener.posted.empty());
    EXPECT_FALSE(pair.listener.driver->finished());
    EXPECT_TRUE(pair.listener.fakes.server->Active());

    Side next({"connect", "server.example"});
    pair.serverEnd = &pair.listener.fakes.server->Incoming("second.example");
    next.driver->Start();
    next.fakes.client->CompleteConnect("server.example");
    pair.listener.driver->TypedLine("welcome back");
    for (bool moved = true; moved;) {
        moved = false;
        if (!pair.serverEnd->sent.empty()) {
            next.fakes.client->Receive(std::exchange(pair.serverEnd->sent, {}));
            moved = true;
        }
        if (!next.fakes.client->connection.sent.empty()) {
            pair.listener.fakes.server->Receive(*pair.serverEnd, std::exchange(next.fakes.client->connection.sent, {}));
            moved = true;
        }
        moved = next.fakes.worker->RunNext() || pair.listener.fakes.worker->RunNext() || moved;
        moved = next.RunPosted() || pair.listener.RunPosted() || moved;
    }
    EXPECT_TRUE(next.Shows("PEER (11:01:04) : welcome back"));
    EXPECT_EQ(pair.listener.requestedKeySizes.size(), 1u);
    EXPECT_TRUE(pair.listener.quits.empty());
}

TEST(DriverKeepListening, AfterAReceiveErrorItListensAgainWithANewKey) {
    Pair pair({"listen", "--keep-listening"});
    pair.Start();
    pair.Run();
    pair.listener.fakes.server->Receive(*pair.serverEnd, std::string("99?junk\0", 8));
    EXPECT_FALSE(pair.listener.fakes.server->Active());
    EXPECT_EQ(pair.listener.posted.size(), 1u);
    pair.listener.RunPosted();
    pair.listener.fakes.worker->RunAll();
    EXPECT_TRUE(pair.listener.fakes.server->Active());
    EXPECT_EQ(pair.listener.requestedKeySizes.size(), 2u);
    EXPECT_EQ(pair.listener.fakes.server->activations, 2);
    EXPECT_EQ(pair.listener.Lines().back(), "Listening on port 1801");
    EXPECT_TRUE(pair.listener.quits.empty());
}

TEST(DriverKeepListening, AfterALocalDisconnectItListensAgain) {
    Pair pair({"listen", "--keep-listening"});
    pair.Start();
    pair.Run();
    pair.listener.session->Disconnect();
    pair.listener.RunPosted();
    pair.listener.fakes.worker->RunAll();
    EXPECT_TRUE(pair.listener.fakes.server->Active());
    EXPECT_EQ(pair.listener.fakes.server->activations, 2);
    EXPECT_TRUE(pair.listener.quits.empty());
}
