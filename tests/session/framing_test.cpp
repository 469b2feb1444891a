// Frames on the wire and the receive path: reassembly, sequence checks,
// dispatch by the session flags, and what a broken peer gets.

#include <gtest/gtest.h>

#include "harness.h"
#include "session/convert.h"
#include "session/displaytext.h"
#include "session/framing.h"

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

// ---------------------------------------------------------------- the receive path

class Receiving : public ::testing::Test {
protected:
    // A connected client, still in the key exchange.
    void SetUp() override { h.Connect(); }

    std::vector<std::string> LogAfterConnect() const {
        return std::vector<std::string>(h.view.log.begin() + 1, h.view.log.end());
    }

    Harness h;
};

TEST_F(Receiving, TwoFramesInOneReadAreBothHandledInOrder) {
    h.client->Receive(Frame("1?first") + Frame("2?second"));
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"client:first", "client:second"}));
    EXPECT_EQ(h.session->receiveSequence(), 2);
    EXPECT_EQ(h.session->receiveBuffer(), "");
    EXPECT_TRUE(h.session->isActive());
}

TEST_F(Receiving, FramesFedByteByByteAreHandledAtTheirTerminator) {
    const std::string stream = Frame("1?alpha") + Frame("2?") + Frame("3?be?ta");
    std::vector<std::size_t> countAfterByte;
    for (const char byte : stream) {
        h.client->Receive(std::string(1, byte));
        countAfterByte.push_back(h.payloads->received.size());
    }
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"client:alpha", "client:", "client:be?ta"}));
    // Nothing is handled before its terminator arrives.
    EXPECT_EQ(countAfterByte[6], 0u);
    EXPECT_EQ(countAfterByte[7], 1u);
    EXPECT_EQ(countAfterByte[9], 1u);
    EXPECT_EQ(countAfterByte[10], 2u);
    EXPECT_TRUE(LogAfterConnect().empty());
}

TEST_F(Receiving, FramesSplitTwoBytesAtATime) {
    const std::string stream = Frame("1?ab") + Frame("2?cd") + Frame("3?efg");
    for (std::size_t i = 0; i < stream.size(); i += 2) h.client->Receive(stream.substr(i, 2));
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"client:ab", "client:cd", "client:efg"}));
}

TEST_F(Receiving, FirstFrameNumberedTwoLogsEmptyRestThenSequenceErrorAndDisconnects) {
    h.client->Receive(Frame("2?x"));
    EXPECT_EQ(LogAfterConnect(), (std::vector<std::string>{"", "Expected sequence 1 but received 2", "Disconnected"}));
    EXPECT_TRUE(h.payloads->received.empty());
    EXPECT_FALSE(h.client->Active());
    EXPECT_FALSE(h.session->isActive());
    EXPECT_FALSE(h.session->isHandshaking());
    EXPECT_EQ(h.session->receiveBuffer(), "");
}

TEST_F(Receiving, SequenceErrorShowsThePendingFrameAndStopsThere) {
    h.client->Receive(Frame("1?a") + Frame("3?b") + Frame("4?caf\xe9") + Frame("5?d"));
    EXPECT_EQ(h.payloads->received, std::vector<std::string>{"client:a"});
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
    EXPECT_TRUE(h.payloads->received.empty());
}

TEST_F(Receiving, EightBitBytesInAnErrorTextReachTheLogAsText) {
    h.client->Receive(Frame("\xe9?payload"));
    EXPECT_EQ(LogAfterConnect(), (std::vector<std::string>{"'\xc3\xa9' is not a valid integer value", "Disconnected"}));
}

TEST_F(Receiving, EmptyPayloadAndSeparatorsInsidePayload) {
    h.client->Receive(Frame("1?") + Frame("2???") + Frame("3?a?b"));
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"client:", "client:??", "client:a?b"}));
}

TEST_F(Receiving, ErrorOfAPayloadHandlerIsLoggedAndDisconnects) {
    h.payloads->onPayload = [](const std::string&) { throw std::runtime_error("Cipher not initialized"); };
    h.client->Receive(Frame("1?a") + Frame("2?b"));
    EXPECT_EQ(h.payloads->received, std::vector<std::string>{"client:a"});
    EXPECT_EQ(LogAfterConnect(), (std::vector<std::string>{"Cipher not initialized", "Disconnected"}));
}

TEST_F(Receiving, DispatchFollowsTheFlagsFrameByFrame) {
    // The frame that ends the key exchange sends the next one in the same
    // buffer to the encrypted channel.
    h.payloads->onPayload = [this](const std::string& entry) {
        if (entry == "client:done") h.session->EndHandshake();
    };
    h.client->Receive(Frame("1?key") + Frame("2?done") + Frame("3?hello"));
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"client:key", "client:done", "cipher:hello"}));
}

TEST_F(Receiving, NestedReceiveKeepsFramesInOrder) {
    // A handler that lets another read event run inside it.
    bool nested = false;
    h.payloads->onPayload = [&](const std::string& entry) {
        if (entry == "client:a" && !nested) {
            nested = true;
            h.client->Receive(Frame("3?c"));
        }
    };
    h.client->Receive(Frame("1?a") + Frame("2?b"));
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"client:a", "client:b", "client:c"}));
    EXPECT_TRUE(h.client->Active());
}

TEST_F(Receiving, AnEndlessFrameIsCutOffAtTheLimitOfTheKeyExchange) {
    // A whole frame and the start of the next: only the open frame counts.
    h.client->Receive(Frame("1?" + std::string(1000, '1')) + "2?");
    const std::string block(1024, 'A');
    while (h.session->receiveBuffer().size() + block.size() <= TChatSession::maxUnframedHandshakeBytes)
        h.client->Receive(block);
    h.client->Receive(std::string(TChatSession::maxUnframedHandshakeBytes - h.session->receiveBuffer().size(), 'A'));
    // Exactly the limit is still waited for.
    EXPECT_TRUE(h.client->Active());
    EXPECT_EQ(h.session->receiveBuffer().size(), TChatSession::maxUnframedHandshakeBytes);
    h.client->Receive("A");
    EXPECT_EQ(LogAfterConnect(),
              (std::vector<std::string>{"Peer sent more than 64 KiB without a frame end", "Disconnected"}));
    EXPECT_FALSE(h.client->Active());
    EXPECT_EQ(h.session->receiveBuffer().size(), 0u);
}

TEST(Conversation, AnEndlessFrameIsCutOffAt16MiB) {
    SessionPair pair;
    pair.Run();
    ASSERT_FALSE(pair.client.session->isHandshaking());
    const std::size_t mark = pair.client.view.log.size();
    // The frame of a long chat line may begin in the read that ends the key exchange.
    const std::string block(1024 * 1024, 'A');
    for (std::size_t i = 0; i < TChatSession::maxUnframedBytes / block.size(); ++i) pair.client.client->Receive(block);
    EXPECT_TRUE(pair.client.client->Active());
    EXPECT_EQ(pair.client.session->receiveBuffer().size(), TChatSession::maxUnframedBytes);
    pair.client.client->Receive("A");
    EXPECT_EQ(std::vector<std::string>(pair.client.view.log.begin() + static_cast<std::ptrdiff_t>(mark),
                                       pair.client.view.log.end()),
              (std::vector<std::string>{"Peer sent more than 16 MiB without a frame end", "Disconnected"}));
}

TEST_F(Receiving, ManyTinyFramesCostWorkLinearInTheBytes) {
    // Cutting each frame off the front of the buffer moves the rest every
    // time: 400,000 frames would move about 600 GB. Taken by position, and
    // moved only once as much has been taken as is left, no byte moves twice
    // on average, however the frames are spread over the loop's turns.
    const int frames = 400000;
    std::string stream;
    for (int i = 1; i <= frames; ++i) stream += Frame(std::to_string(i) + "?");
    const std::size_t read = 65536;
    for (std::size_t i = 0; i < stream.size(); i += read) h.client->Receive(stream.substr(i, read));
    ASSERT_EQ(h.payloads->received.size(), static_cast<std::size_t>(frames));
    EXPECT_TRUE(h.client->Active());
    EXPECT_LE(h.session->frameReader().BytesMoved(), stream.size());
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

TEST_F(Receiving, LargeFramesBelowTheLimitAreFine) {
    const std::string payload(3 * 1024 * 1024, 'z');
    h.client->Receive(Frame("1?" + payload) + Frame("2?" + payload));
    ASSERT_EQ(h.payloads->received.size(), 2u);
    EXPECT_EQ(h.payloads->received[1].size(), payload.size() + 7);
}

TEST(ReceivingAsServer, AcceptedPeerFramesGoToTheServerSide) {
    Harness h;
    h.Listen();
    FakeConnection& peer = h.server->Incoming("alice");
    h.server->Receive(peer, Frame("1?N") + Frame("2?E"));
    EXPECT_EQ(h.payloads->received, (std::vector<std::string>{"server:N", "server:E"}));
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
    EXPECT_EQ(h.session->privateKey(), nullptr);
}

// ---------------------------------------------------------------- sending

TEST(Sending, NotConnectedUsesUpTheNumberAndSendsNothing) {
    Harness h;
    h.session->sendTextToPeer("lost");
    EXPECT_EQ(h.view.log, std::vector<std::string>{"Error sending text - not connected"});
    EXPECT_EQ(h.session->sendSequence(), 1);
}

TEST(Sending, ListeningWithoutPeerIsNotConnected) {
    Harness h;
    h.Listen();
    h.session->sendTextToPeer("hello");
    EXPECT_EQ(h.view.log.back(), "Error sending text - not connected");
}

TEST(Sending, ClientFramesAreNumberedFromOne) {
    Harness h;
    h.Connect();
    h.session->sendTextToPeer("a");
    h.session->sendTextToPeer("");
    h.session->sendTextToPeer("b?c");
    EXPECT_EQ(h.client->connection.sent, Frame("1?a") + Frame("2?") + Frame("3?b?c"));
    EXPECT_TRUE(h.timer->started.empty());
}

TEST(Sending, ServerFramesGoToTheFirstAcceptedPeerAndRestartPerConnection) {
    Harness h;
    h.Listen();
    // The public key goes first, as frames 1 and 2.
    FakeConnection& first = h.server->Incoming("alice");
    first.sent.clear();
    h.session->sendTextToPeer("x");
    h.session->sendTextToPeer("y");
    EXPECT_EQ(first.sent, Frame("3?x") + Frame("4?y"));
    first.CloseConnection();
    h.server->ReleaseClosed();
    FakeConnection& second = h.server->Incoming("bob");
    second.sent.clear();
    h.session->sendTextToPeer("z");
    EXPECT_EQ(second.sent, Frame("3?z"));
}

TEST(Sending, PauseBetweenFramesIsATimerNotASleep) {
    Harness h("[main]\nsleepDuringTransfer=0x10\n");
    ASSERT_EQ(h.session->sleepDuringTransfer(), 16);
    h.Connect();
    h.session->sendTextToPeer("a");
    h.session->sendTextToPeer("b");
    h.session->sendTextToPeer("c");
    // The first frame leaves at once; the others wait for the pause.
    EXPECT_EQ(h.client->connection.sent, Frame("1?a"));
    EXPECT_EQ(h.session->pendingFrames(), 2u);
    EXPECT_EQ(h.timer->started, std::vector<int>{16});

    // Frames arriving meanwhile are handled.
    h.client->Receive(Frame("1?in"));
    EXPECT_EQ(h.payloads->received, std::vector<std::string>{"client:in"});

    h.timer->Fire();
    EXPECT_EQ(h.client->connection.sent, Frame("1?a") + Frame("2?b"));
    h.timer->Fire();
    EXPECT_EQ(h.client->connection.sent, Frame("1?a") + Frame("2?b") + Frame("3?c"));
    // A pause follows the last frame too.
    EXPECT_EQ(h.timer->started, (std::vector<int>{16, 16, 16}));
    EXPECT_TRUE(h.timer->IsActive());
    h.session->sendTextToPeer("d");
    EXPECT_EQ(h.session->pendingFrames(), 1u);
    h.timer->Fire();
    h.timer->Fire();
    EXPECT_EQ(h.client->connection.sent, Frame("1?a") + Frame("2?b") + Frame("3?c") + Frame("4?d"));
    EXPECT_EQ(h.session->pendingFrames(), 0u);
}

TEST(Sending, DisconnectDropsFramesWaitingForThePause) {
    Harness h("[main]\nsleepDuringTransfer=50\n");
    h.Connect();
    h.session->sendTextToPeer("a");
    h.session->sendTextToPeer("b");
    h.session->btnDisconnectClick();
    EXPECT_EQ(h.session->pendingFrames(), 0u);
    EXPECT_FALSE(h.timer->IsActive());
    h.timer->Fire();
    EXPECT_EQ(h.client->connection.sent, Frame("1?a"));
}

TEST(Sending, PeerLeavingDropsFramesWaitingForThePause) {
    Harness h("[main]\nsleepDuringTransfer=50\n");
    h.Listen();
    // N leaves at once; E, "a" and "b" wait for the pause.
    FakeConnection& peer = h.server->Incoming("alice");
    h.session->sendTextToPeer("a");
    h.session->sendTextToPeer("b");
    EXPECT_EQ(h.session->pendingFrames(), 3u);
    const std::string sent = peer.sent;
    peer.CloseConnection();
    EXPECT_EQ(h.session->pendingFrames(), 0u);
    h.timer->Fire();
    EXPECT_EQ(peer.sent, sent);
    EXPECT_EQ(sent.rfind("1?", 0), 0u);
}
