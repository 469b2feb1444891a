// Frames on the wire: the wire alone (reassembly, sequence checks, the
// pause, payloads that wait), then a session's receive path (dispatch by
// the phase, and what a broken peer gets).

#include <gtest/gtest.h>

#include "harness.h"
#include "session/convert.h"
#include "session/displaytext.h"
#include "session/framing.h"
#include "fakewire.h"
#include "session/wire.h"
#include "session/keyexchange.h"

TEST(FrameForm, FrameIsNumberSeparatorPayloadTerminator) {
    EXPECT_EQ(MakeFrame(3, "**ACK**"), std::string("3?**ACK**\0", 10));
    EXPECT_EQ(MakeFrame(1, ""), std::string("1?\0", 3));
    EXPECT_EQ(MakeFrame(12, "a?b"), std::string("12?a?b\0", 7));
}

TEST(FrameForm, SequenceCountersWrapInsteadOfOverflowing) {
    EXPECT_EQ(NextSequence(0), 1);
    EXPECT_EQ(NextSequence(2147483647), -2147483647 - 1);
}

TEST(IntegerText, DecimalWithOptionalSign) {
    EXPECT_EQ(StrToInt("1801"), 1801);
    EXPECT_EQ(StrToInt("+5"), 5);
    EXPECT_EQ(StrToInt("-12"), -12);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
}

TEST(IntegerText, AnythingElseIsAConversionErrorWithTheText) {
    for (const std::string text : {"", "abc", "12a", " 1", "1 ", "+", "-", "2147483648", "0x10", "1.5"}) {
        try {
            StrToInt(text);
            ADD_FAILURE() << "'" << text << "' converted";
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), "'" + text + "' is not a valid integer value");
        }
    }
}

TEST(IntegerText, FileSizesTake64Bits) {
    EXPECT_EQ(StrToInt64("4294967296"), 4294967296LL);
    EXPECT_EQ(StrToInt64("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(StrToInt64("-9223372036854775808"), INT64_MIN);
    EXPECT_EQ(StrToInt64("+7"), 7);
    for (const char* bad : {"9223372036854775808", "-9223372036854775809", "", "-", "1 ", "0x10"}) {
        try {
            StrToInt64(bad);
            ADD_FAILURE() << bad;
        } catch (const EConvertError& error) {
            EXPECT_EQ(std::string(error.what()), std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

TEST(IntegerText, SettingsIntegersTakeHexAndFallBackToZero) {
    EXPECT_EQ(ConfigStrToInt("0x10"), 16);
    EXPECT_EQ(ConfigStrToInt("0XfF"), 255);
    EXPECT_EQ(ConfigStrToInt("250"), 250);
    EXPECT_EQ(ConfigStrToInt("abc"), 0);
    EXPECT_EQ(ConfigStrToInt("0x"), 0);
    EXPECT_EQ(ConfigStrToInt("0xg1"), 0);
    EXPECT_EQ(ConfigStrToInt("0x1FFFFFFFF"), 0);
    EXPECT_EQ(ConfigStrToInt(""), 0);
}

TEST(ReceivedText, Utf8StaysAndEightBitTextReadsAsWindows1252) {
    EXPECT_EQ(ReceivedTextForView("caf\xc3\xa9"), "caf\xc3\xa9");
    EXPECT_EQ(ReceivedTextForView("caf\xe9"), "caf\xc3\xa9");
    EXPECT_EQ(ReceivedTextForView("\x80"), "\xe2\x82\xac");
    EXPECT_EQ(ReceivedTextForView("\x81"), "\xc2\x81");
    // Overlong and surrogate forms are not UTF-8.
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));
    EXPECT_FALSE(IsValidUtf8("\xe2\x82"));
    EXPECT_TRUE(IsValidUtf8("\xf0\x9f\x98\x80"));
}

// ---------------------------------------------------------------- the wire alone

class Wire : public ::testing::Test {
protected:
    // One read event, then the turns the event loop runs after it.
    void Receive(const std::string& bytes) { onFakes.Receive(bytes); }

    WireOnFakes onFakes;
    FakeLink& link = onFakes.link;
    RecordingWireEvents& events = onFakes.events;
    FakeTimer& pauseTimer = onFakes.pauseTimer;
    FakeTimer& turnTimer = onFakes.turnTimer;
    TWire& wire = onFakes.wire;

    TWireInspection WireIn() const { return TWireInspection(wire); }
};

TEST_F(Wire, TwoFramesInOneReadAreBothHandledInOrder) {
    Receive(Frame("1?first") + Frame("2?second"));
    EXPECT_EQ(events.received, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(WireIn().receiveSequence(), 2);
    EXPECT_EQ(WireIn().receiveBuffer().Unframed(), "");
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(Wire, FramesFedByteByByteAreHandledAtTheirTerminator) {
    const std::string stream = Frame("1?alpha") + Frame("2?") + Frame("3?be?ta");
    std::vector<std::size_t> countAfterByte;
    for (const char byte : stream) {
        Receive(std::string(1, byte));
        countAfterByte.push_back(events.received.size());
    }
    EXPECT_EQ(events.received, (std::vector<std::string>{"alpha", "", "be?ta"}));
    // Nothing is handled before its terminator arrives.
    EXPECT_EQ(countAfterByte[6], 0u);
    EXPECT_EQ(countAfterByte[7], 1u);
    EXPECT_EQ(countAfterByte[9], 1u);
    EXPECT_EQ(countAfterByte[10], 2u);
    EXPECT_TRUE(events.log.empty());
}

TEST_F(Wire, FramesSplitTwoBytesAtATime) {
    const std::string stream = Frame("1?ab") + Frame("2?cd") + Frame("3?efg");
    for (std::size_t i = 0; i < stream.size(); i += 2) Receive(stream.substr(i, 2));
    EXPECT_EQ(events.received, (std::vector<std::string>{"ab", "cd", "efg"}));
}

TEST_F(Wire, SequenceErrorShowsThePendingFrameAndStopsThere) {
    Receive(Frame("1?a") + Frame("3?b") + Frame("4?caf\xe9") + Frame("5?d"));
    EXPECT_EQ(events.received, std::vector<std::string>{"a"});
    EXPECT_EQ(events.log, std::vector<std::string>{"4?caf\xe9"});
    EXPECT_EQ(events.errors, std::vector<std::string>{"Expected sequence 2 but received 3"});
}

TEST_F(Wire, EmptyPayloadAndSeparatorsInsidePayload) {
    Receive(Frame("1?") + Frame("2???") + Frame("3?a?b"));
    EXPECT_EQ(events.received, (std::vector<std::string>{"", "??", "a?b"}));
}

TEST_F(Wire, ErrorOfAPayloadHandlerEndsTheTurnAndIsReported) {
    events.onPayload = [](const std::string&) { throw std::runtime_error("Cipher not initialized"); };
    Receive(Frame("1?a") + Frame("2?b"));
    EXPECT_EQ(events.received, std::vector<std::string>{"a"});
    EXPECT_EQ(events.errors, std::vector<std::string>{"Cipher not initialized"});
}

TEST_F(Wire, AConnectionThatEndsUnderAHandlerTakesNoMoreFrames) {
    events.onPayload = [this](const std::string&) {
        ++link.generation;
        wire.Forget();
    };
    Receive(Frame("1?a") + Frame("2?b"));
    EXPECT_EQ(events.received, std::vector<std::string>{"a"});
    EXPECT_EQ(WireIn().receiveBuffer().Unframed(), "");
}

TEST_F(Wire, PayloadsWaitWhileTheyAreNotTakenAndComeInOrderAfter) {
    events.onPayload = [this](const std::string& payload) {
        if (payload == "work") events.takes = false;
    };
    Receive(Frame("1?work") + Frame("2?b") + Frame("3?c"));
    EXPECT_EQ(events.received, std::vector<std::string>{"work"});
    events.takes = true;
    wire.MoreToDo();
    while (turnTimer.active) turnTimer.Fire();
    EXPECT_EQ(events.received, (std::vector<std::string>{"work", "b", "c"}));
}

TEST_F(Wire, NestedReceiveKeepsFramesInOrder) {
    // A handler that lets another read event run inside it.
    bool nested = false;
    events.onPayload = [&](const std::string& payload) {
        if (payload == "a" && !nested) {
            nested = true;
            Receive(Frame("3?c"));
        }
    };
    Receive(Frame("1?a") + Frame("2?b"));
    EXPECT_EQ(events.received, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_TRUE(events.errors.empty());
}

TEST_F(Wire, ManyTinyFramesCostWorkLinearInTheBytes) {
    // Cutting each frame off the front of the buffer moves the rest every
    // time: 400,000 frames would move about 600 GB. Taken by position, and
    // moved only once as much has been taken as is left, no byte moves twice
    // on average, however the frames are spread over the loop's turns.
    const int frames = 400000;
    std::string stream;
    for (int i = 1; i <= frames; ++i) stream += Frame(std::to_string(i) + "?");
    const std::size_t read = 65536;
    for (std::size_t i = 0; i < stream.size(); i += read) Receive(stream.substr(i, read));
    ASSERT_EQ(events.received.size(), static_cast<std::size_t>(frames));
    EXPECT_TRUE(events.errors.empty());
    EXPECT_LE(WireIn().receiveBuffer().BytesMoved(), stream.size());
}

TEST_F(Wire, LargeFramesBelowTheLimitAreFine) {
    const std::string payload(3 * 1024 * 1024, 'z');
    Receive(Frame("1?" + payload) + Frame("2?" + payload));
    ASSERT_EQ(events.received.size(), 2u);
    EXPECT_EQ(events.received[1].size(), payload.size());
}

TEST_F(Wire, NotConnectedUsesUpTheNumberAndSendsNothing) {
    link.connected = false;
    wire.sendTextToPeer("lost");
    EXPECT_EQ(events.log, std::vector<std::string>{"Error sending text - not connected"});
    EXPECT_EQ(WireIn().sendSequence(), 1);
}

TEST_F(Wire, FramesAreNumberedFromOneAndAgainForANewConnection) {
    wire.sendTextToPeer("a");
    wire.sendTextToPeer("");
    wire.sendTextToPeer("b?c");
    EXPECT_EQ(link.connection.sent, Frame("1?a") + Frame("2?") + Frame("3?b?c"));
    EXPECT_TRUE(pauseTimer.started.empty());
    wire.StartCounting();
    wire.sendTextToPeer("z");
    EXPECT_EQ(link.connection.sent, Frame("1?a") + Frame("2?") + Frame("3?b?c") + Frame("1?z"));
}

TEST_F(Wire, PauseBetweenFramesIsATimerNotASleep) {
    wire.SetPause(16);
    wire.sendTextToPeer("a");
    wire.sendTextToPeer("b");
    wire.sendTextToPeer("c");
    // The first frame leaves at once; the others wait for the pause.
    EXPECT_EQ(link.connection.sent, Frame("1?a"));
    EXPECT_TRUE(wire.HasUnsentFrames());
    EXPECT_EQ(pauseTimer.started, std::vector<int>{16});

    // Frames arriving meanwhile are handled.
    Receive(Frame("1?in"));
    EXPECT_EQ(events.received, std::vector<std::string>{"in"});

    pauseTimer.Fire();
    EXPECT_EQ(link.connection.sent, Frame("1?a") + Frame("2?b"));
    pauseTimer.Fire();
    EXPECT_EQ(link.connection.sent, Frame("1?a") + Frame("2?b") + Frame("3?c"));
    // A pause follows the last frame too.
    EXPECT_EQ(pauseTimer.started, (std::vector<int>{16, 16, 16}));
    EXPECT_TRUE(pauseTimer.IsActive());
    wire.sendTextToPeer("d");
    EXPECT_TRUE(wire.HasUnsentFrames());
    pauseTimer.Fire();
    pauseTimer.Fire();
    EXPECT_EQ(link.connection.sent, Frame("1?a") + Frame("2?b") + Frame("3?c") + Frame("4?d"));
    EXPECT_FALSE(wire.HasUnsentFrames());
}

// ---------------------------------------------------------------- the receive path of a session

class Receiving : public ::testing::Test {
protected:
    // A connected client, still in the key exchange.
    void SetUp() override { h.Connect(); }

    std::vector<std::string> LogAfterConnect() const {
        return std::vector<std::string>(h.view.log.begin() + 1, h.view.log.end());
    }

    Harness h;
};

TEST_F(Receiving, FirstFrameNumberedTwoLogsEmptyRestThenSequenceErrorAndDisconnects) {
    h.client->Receive(Frame("2?x"));
    EXPECT_EQ(LogAfterConnect(), (std::vector<std::string>{"", "Expected sequence 1 but received 2", "Disconnected"}));
    EXPECT_EQ(h.In().remoteModulus(), nullptr);
    EXPECT_FALSE(h.client->Active());
    EXPECT_FALSE(h.State().isActive);
    EXPECT_FALSE(h.State().isHandshaking);
    EXPECT_EQ(h.In().receiveBuffer(), "");
}

TEST_F(Receiving, TheRestOfAFrameShownBeforeASequenceErrorReadsAsText) {
    h.client->Receive(Frame("1?12") + Frame("3?b") + Frame("4?caf\xe9") + Frame("5?d"));
    EXPECT_EQ(LogAfterConnect(),
              (std::vector<std::string>{"4?caf\xc3\xa9", "Expected sequence 2 but received 3", "Disconnected"}));
}

TEST_F(Receiving, FrameWithoutSeparatorIsAnError) {
    h.client->Receive(Frame("1"));
    EXPECT_EQ(LogAfterConnect(), (std::vector<std::string>{"Missing sequence separator", "Disconnected"}));
    EXPECT_FALSE(h.client->Active());
}

TEST_F(Receiving, NonIntegerSequenceNumberIsTheConversionError) {
    h.client->Receive(Frame("x1?payload"));
    EXPECT_EQ(LogAfterConnect(), (std::vector<std::string>{"'x1' is not a valid integer value", "Disconnected"}));
    EXPECT_EQ(h.In().remoteModulus(), nullptr);
}

TEST_F(Receiving, EightBitBytesInAnErrorTextReachTheLogAsText) {
    h.client->Receive(Frame("\xe9?payload"));
    EXPECT_EQ(LogAfterConnect(), (std::vector<std::string>{"'\xc3\xa9' is not a valid integer value", "Disconnected"}));
}

TEST_F(Receiving, AnEndlessFrameIsCutOffAtTheLimitOfTheKeyExchange) {
    // A whole frame and the start of the next: only the open frame counts.
    h.client->Receive(Frame("1?" + std::string(1000, '1')) + "2?");
    const std::string block(1024, 'A');
    while (h.In().receiveBuffer().size() + block.size() <= TChatSession::maxUnframedHandshakeBytes)
        h.client->Receive(block);
    h.client->Receive(std::string(TChatSession::maxUnframedHandshakeBytes - h.In().receiveBuffer().size(), 'A'));
    // Exactly the limit is still waited for.
    EXPECT_TRUE(h.client->Active());
    EXPECT_EQ(h.In().receiveBuffer().size(), TChatSession::maxUnframedHandshakeBytes);
    h.client->Receive("A");
    EXPECT_EQ(LogAfterConnect(),
              (std::vector<std::string>{"Peer sent more than 64 KiB without a frame end", "Disconnected"}));
    EXPECT_FALSE(h.client->Active());
    EXPECT_EQ(h.In().receiveBuffer().size(), 0u);
}

TEST(Conversation, AnEndlessFrameIsCutOffAt16MiB) {
    SessionPair pair;
    pair.Run();
    ASSERT_FALSE(pair.client.State().isHandshaking);
    const std::size_t mark = pair.client.view.log.size();
    // The frame of a long chat line may begin in the read that ends the key exchange.
    const std::string block(1024 * 1024, 'A');
    for (std::size_t i = 0; i < TChatSession::maxUnframedBytes / block.size(); ++i) pair.client.client->Receive(block);
    EXPECT_TRUE(pair.client.client->Active());
    EXPECT_EQ(pair.client.In().receiveBuffer().size(), TChatSession::maxUnframedBytes);
    pair.client.client->Receive("A");
    EXPECT_EQ(std::vector<std::string>(pair.client.view.log.begin() + static_cast<std::ptrdiff_t>(mark),
                                       pair.client.view.log.end()),
              (std::vector<std::string>{"Peer sent more than 16 MiB without a frame end", "Disconnected"}));
}

TEST(Conversation, TheFrameThatEndsTheKeyExchangeSendsTheNextToTheChannel) {
    SessionPair pair;
    // The listener's key reaches the client, whose parts reach the listener.
    pair.client.client->Receive(std::exchange(pair.serverEnd->sent, {}));
    pair.client.worker->RunAll();
    pair.server.server->Receive(*pair.serverEnd, std::exchange(pair.client.client->connection.sent, {}));
    pair.server.worker->RunAll();
    // The acknowledgement and a first line, in one read.
    pair.Type(pair.server, "hello");
    pair.client.client->Receive(std::exchange(pair.serverEnd->sent, {}));
    const std::vector<std::string>& log = pair.client.view.log;
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], kHandshakeCompleteText);
    EXPECT_EQ(log.back(), "PEER (11:01:04) : hello");
}

TEST(FrameReader, TakesFramesByPositionAndMovesOnlyTheUnfinishedTail) {
    TFrameReader reader;
    reader.Append(Frame("1?a") + Frame("2?bc") + "3?de");
    EXPECT_EQ(reader.Next(), "1?a");
    EXPECT_EQ(reader.PendingFrameText(), "2?bc");
    EXPECT_EQ(reader.Next(), "2?bc");
    EXPECT_EQ(reader.Next(), std::nullopt);
    EXPECT_EQ(reader.Unframed(), "3?de");
    reader.Compact();
    EXPECT_EQ(reader.BytesMoved(), 4u);
    reader.Append("f");
    reader.Append(std::string(1, '\0'));
    EXPECT_EQ(reader.Next(), "3?def");
    reader.Compact();
    EXPECT_EQ(reader.BytesMoved(), 4u);
    EXPECT_EQ(reader.Unframed(), "");
}

TEST(ReceivingAsServer, AcceptedPeerFramesGoToTheServerSide) {
    Harness h;
    h.Listen();
    FakeConnection& peer = h.server->Incoming("alice");
    h.server->Receive(peer, Frame("1?32") + Frame("2?0=1"));
    EXPECT_EQ(h.In().keyPartsExpected(), 32);
    EXPECT_EQ(h.In().keyPartsReceived(), 1);
}

TEST(ReceivingAsServer, ASequenceErrorEndsTheConnectionAndTheListening) {
    Harness h;
    h.Listen();
    FakeConnection& peer = h.server->Incoming("alice");
    h.server->Receive(peer, Frame("5?x"));
    const std::vector<std::string> tail(h.view.log.end() - 4, h.view.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"", "Expected sequence 1 but received 5", "Client disconnected",
                                              "Disconnected"}));
    EXPECT_FALSE(h.server->Active());
    EXPECT_EQ(h.In().privateKey(), nullptr);
}

// ---------------------------------------------------------------- sending from a session

TEST(Sending, ListeningWithoutPeerIsNotConnectedAndTheLineIsStillOurs) {
    Harness h;
    h.Listen();
    h.session->Say("hello");
    const std::vector<std::string> tail(h.view.log.end() - 2, h.view.log.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"Error sending text - not connected", "YOU  (11:01:04) : hello"}));
}

TEST(Sending, ServerFramesGoToTheServedPeerAndRestartPerConnection) {
    Harness h;
    h.Listen();
    // The public key goes first, as frames 1 and 2.
    FakeConnection& first = h.server->Incoming("alice");
    first.sent.clear();
    h.session->Say("x");
    h.session->Say("y");
    EXPECT_EQ(first.sent, Frame("3?" + SealUnder("", "x")) + Frame("4?" + SealUnder("", "y")));
    first.CloseConnection();
    h.server->ReleaseClosed();
    FakeConnection& second = h.server->Incoming("bob");
    second.sent.clear();
    h.session->Say("z");
    EXPECT_EQ(second.sent, Frame("3?" + SealUnder("", "z")));
}

TEST(Sending, DisconnectDropsFramesWaitingForThePause) {
    Harness h("[main]\nsleepDuringTransfer=50\n");
    h.Connect();
    h.session->Say("a");
    h.session->Say("b");
    h.session->Disconnect();
    EXPECT_FALSE(h.session->HasUnsentFrames());
    EXPECT_FALSE(h.timer->IsActive());
    h.timer->Fire();
    EXPECT_EQ(h.client->connection.sent, Frame("1?" + SealUnder("", "a")));
}

TEST(Sending, PeerLeavingDropsFramesWaitingForThePause) {
    Harness h("[main]\nsleepDuringTransfer=50\n");
    h.Listen();
    // N leaves at once; E, "a" and "b" wait for the pause.
    FakeConnection& peer = h.server->Incoming("alice");
    h.session->Say("a");
    h.session->Say("b");
    EXPECT_TRUE(h.session->HasUnsentFrames());
    const std::string sent = peer.sent;
    peer.CloseConnection();
    EXPECT_FALSE(h.session->HasUnsentFrames());
    h.timer->Fire();
    EXPECT_EQ(peer.sent, sent);
    EXPECT_EQ(sent.rfind("1?", 0), 0u);
}
