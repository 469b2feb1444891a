// The key exchange and the encrypted channel between two sessions joined
// back to back through the fakes: every log line, debug line and trace line,
// the bounds on what a peer sends, and frames that wait while RSA works.

#include <set>

#include <gtest/gtest.h>

#include "harness.h"
#include "session/channel.h"
#include "session/keyexchange.h"
#include "support/testhelpers.h"

namespace {

std::vector<std::string> From(const std::vector<std::string>& lines, const std::string& first) {
    const auto start = std::find(lines.begin(), lines.end(), first);
    return std::vector<std::string>(start, lines.end());
}

std::vector<std::string> Without(std::vector<std::string> lines, const std::string& prefix) {
    lines.erase(
        std::remove_if(lines.begin(), lines.end(), [&](const std::string& line) { return line.rfind(prefix, 0) == 0; }),
        lines.end());
    return lines;
}


}  // namespace

TEST(KeyExchange, WithoutDebugBothSidesLogTheirSteps) {
    SessionPair pair;
    pair.Run();
    EXPECT_EQ(From(pair.server.view.log, "Connection from client.example"),
              (std::vector<std::string>{"Connection from client.example", "Sending our public key",
                                        "Sent public key to client.example, receiving AES key, please wait...",
                                        "Received encrypted AES key...please wait whilst decrypting",
                                        "Decrypted AES key ok", "** HANDSHAKING COMPLETE **"}));
    EXPECT_EQ(
        pair.client.view.log,
        (std::vector<std::string>{
            "Connected to server.example:1801", "Received remote RSA public key ok", "Generating AES key",
            "Generated AES key", "Encrypting AES key with remote RSA public key...please wait", "Transmitting AES key",
            "Transmitted AES key, waiting for peer to decrypt & acknowledge", "** HANDSHAKING COMPLETE **"}));
    for (Harness* side : {&pair.server, &pair.client}) {
        EXPECT_FALSE(side->State().isHandshaking);
        EXPECT_EQ(side->view.lastState, side->State());
        EXPECT_FALSE(side->view.busy);
        EXPECT_TRUE(side->view.errors.empty());
    }
    const std::string key = pair.client.In().sessionKey();
    ASSERT_EQ(key.size(), 32u);
    EXPECT_EQ(pair.server.In().sessionKey(), key);
    for (const char c : key) {
        EXPECT_GE(c, ' ');
        EXPECT_LE(c, '~');
    }
    // 2 frames one way, 33 the other, then the acknowledgement.
    EXPECT_EQ(pair.server.In().sendSequence(), 3);
    EXPECT_EQ(pair.client.In().sendSequence(), 33);
}

TEST(KeyExchange, WithDebugEveryNumberAndTheKeyAreShownAndTraced) {
    SessionPair pair("[main]\ndebug=true\n", kTestKeyBits, false);
    pair.server.session->StartLogging();
    pair.client.session->StartLogging();
    pair.Start();
    pair.Run();
    const TPrivateKey& key = *pair.server.In().privateKey();
    const std::string n = key.GetN().ToString();
    const std::string e = key.GetE().ToString();
    const std::string aes = pair.client.In().sessionKey();

    const std::vector<std::string> server = Without(pair.server.view.log, "Read AES key part ");
    EXPECT_EQ(From(server, "Sending our public key"),
              (std::vector<std::string>{"Sending our public key", "Sending N: " + n, "Sending E: " + e,
                                        "Sent public key to client.example, receiving AES key, please wait...",
                                        "Read AES key header, size=32",
                                        "Received encrypted AES key...please wait whilst decrypting",
                                        "Decrypted AES key ok", "AES key:" + aes, "** HANDSHAKING COMPLETE **"}));
    const std::vector<std::string> client = Without(pair.client.view.log, "Sending AES key part ");
    EXPECT_EQ(
        client,
        (std::vector<std::string>{
            "Connected to server.example:1801", "Received N: " + n, "Received E: " + e,
            "Received remote RSA public key ok", "Generating AES key", "Generated AES key", "AES key:" + aes,
            "Encrypting AES key with remote RSA public key...please wait", "Transmitting AES key", "Sending size 32",
            "Transmitted AES key, waiting for peer to decrypt & acknowledge", "** HANDSHAKING COMPLETE **"}));
    // The parts, 0-based on the wire, in order, the same numbers on both sides.
    std::vector<std::string> sentParts;
    std::vector<std::string> readParts;
    for (const std::string& line : pair.client.view.log)
        if (line.rfind("Sending AES key part ", 0) == 0) sentParts.push_back(line.substr(21));
    for (const std::string& line : pair.server.view.log)
        if (line.rfind("Read AES key part ", 0) == 0) readParts.push_back(line.substr(18));
    ASSERT_EQ(sentParts.size(), 32u);
    EXPECT_EQ(sentParts, readParts);
    EXPECT_EQ(sentParts.front().substr(0, 2), "0=");
    EXPECT_EQ(sentParts.back().substr(0, 3), "31=");

    // The trace holds the detail lines whatever the debug mode; only the
    // listening side traces the completion.
    const std::string serverTrace = pair.server.files->files["quellmere.log"];
    const std::string clientTrace = pair.client.files->files["quellmere.log"];
    EXPECT_EQ(serverTrace.substr(0, serverTrace.find("Read AES key header")),
              "Sending N: " + n + "\nSending E: " + e + "\n");
    EXPECT_NE(serverTrace.find("AES key:" + aes + "\n** HANDSHAKING COMPLETE **\n"), std::string::npos);
    EXPECT_EQ(clientTrace.find("HANDSHAKING"), std::string::npos);
    EXPECT_NE(clientTrace.find("Received N: " + n + "\nReceived E: " + e + "\nAES key:" + aes + "\nSending size 32\n"),
              std::string::npos);
}

TEST(KeyExchange, WorksAtTheSmallestAndAtRealKeySizes) {
    for (const int32_t bits : {6, 512}) {
        SessionPair pair(std::string(), bits);
        pair.Run();
        EXPECT_FALSE(pair.client.State().isHandshaking) << bits;
        EXPECT_FALSE(pair.server.State().isHandshaking) << bits;
        // Below 8 bits the modulus cannot carry every character: the keys differ.
        if (bits >= 16) {
            EXPECT_EQ(pair.server.In().sessionKey(), pair.client.In().sessionKey()) << bits;
        }
    }
}

// ---------------------------------------------------------------- the server alone

class ServerSide : public ::testing::Test {
protected:
    void SetUp() override {
        h.Listen();
        peer = &h.server->Incoming("mallory");
        peer->sent.clear();
    }

    void Send(const std::string& payload) {
        h.server->Receive(*peer, Frame(std::to_string(++sequence) + "?" + payload));
    }

    std::string Encrypted(char c) {
        TCiphertextList list;
        h.In().privateKey()->GetPublicKey()->Encrypt(std::string(1, c), list);
        return list[0].Number->ToString();
    }

    std::vector<std::string> Tail(std::size_t count) const {
        return std::vector<std::string>(h.view.log.end() - static_cast<std::ptrdiff_t>(count), h.view.log.end());
    }

    Harness h;
    FakeConnection* peer = nullptr;
    int sequence = 0;
};

TEST_F(ServerSide, PartsOutOfOrderDecryptInIndexOrder) {
    Send("3");
    Send("10=" + Encrypted('c'));
    Send("2=" + Encrypted('b'));
    Send("0=" + Encrypted('a'));
    h.worker->RunAll();
    // "00000002" sorts before "00000010".
    EXPECT_EQ(h.In().sessionKey(), "abc");
    // After N and E, the acknowledgement is the third frame.
    EXPECT_EQ(peer->sent, Frame("3?**ACK**"));
}

TEST_F(ServerSide, ARepeatedIndexLeavesTheKeyOneShort) {
    Send("2");
    Send("0=" + Encrypted('x'));
    Send("0=" + Encrypted('y'));
    h.worker->RunAll();
    EXPECT_EQ(h.In().sessionKey(), "x");
    EXPECT_FALSE(h.State().isHandshaking);
}

TEST_F(ServerSide, AHeaderOfZeroIsReadAgain) {
    Send("0");
    EXPECT_EQ(h.In().keyPartsExpected(), 0);
    Send("1");
    EXPECT_EQ(h.In().keyPartsExpected(), 1);
    Send("0=" + Encrypted('k'));
    h.worker->RunAll();
    EXPECT_EQ(h.In().sessionKey(), "k");
}

TEST_F(ServerSide, WhatAPeerMayNotSendEndsTheConnectionWithItsReason) {
    struct Case {
        std::vector<std::string> payloads;
        std::string reason;
    };
    const std::string tooLong(4934, '7');
    const std::vector<Case> cases = {
        {{"-1"}, "Invalid number of AES key parts: -1"},
        {{"1025"}, "Invalid number of AES key parts: 1025"},
        {{"lots"}, "'lots' is not a valid integer value"},
        {{"1", "0=" + tooLong}, "Peer's AES key part is longer than 16384 bits"},
        {{"1", "0=+5"}, "Invalid Char: +"},
        {{"1", "0="}, "Zero-length string"},
        {{"1", "noequals"}, "Invalid Char: n"},
    };
    for (const Case& c : cases) {
        Harness h;
        h.Listen();
        FakeConnection& peer = h.server->Incoming("mallory");
        int number = 0;
        for (const std::string& payload : c.payloads)
            h.server->Receive(peer, Frame(std::to_string(++number) + "?" + payload));
        EXPECT_EQ(std::vector<std::string>(h.view.log.end() - 3, h.view.log.end()),
                  (std::vector<std::string>{c.reason, "Client disconnected", "Disconnected"}))
            << c.payloads.back();
        EXPECT_EQ(h.In().privateKey(), nullptr);
        EXPECT_FALSE(h.server->Active());
    }
}

TEST_F(ServerSide, APartNotBelowTheModulusIsRefused) {
    Send("1");
    const std::string n = h.In().privateKey()->GetN().ToString();
    Send("0=" + n);
    EXPECT_EQ(Tail(3), (std::vector<std::string>{"AES key part 0 is not below the modulus", "Client disconnected",
                                                 "Disconnected"}));
}

TEST_F(ServerSide, FramesArrivingWhileDecryptingWaitAndComeInOrder) {
    Send("1");
    Send("0=" + Encrypted('q'));
    ASSERT_TRUE(h.In().keyWorkUnderWay());
    // Sent under the key the server is still decrypting.
    h.server->Receive(*peer, Frame("3?" + SealUnder("q", "hi")) + Frame("4?" + SealUnder("q", "there")));
    EXPECT_FALSE(h.view.HasLine("PEER (11:01:04) : hi"));
    EXPECT_TRUE(h.State().isHandshaking);
    h.worker->RunAll();
    EXPECT_EQ(Tail(2), (std::vector<std::string>{"PEER (11:01:04) : hi", "PEER (11:01:04) : there"}));
}

TEST_F(ServerSide, ADisconnectWhileDecryptingStopsTheStep) {
    Send("1");
    Send("0=" + Encrypted('q'));
    h.session->Disconnect();
    h.worker->RunAll();
    EXPECT_EQ(h.In().sessionKey(), "");
    EXPECT_FALSE(h.view.HasLine("Decrypted AES key ok"));
    EXPECT_EQ(peer->sent, "");
}

// ---------------------------------------------------------------- the client alone

TEST(ClientSide, NumbersTooLongForAnyKeyAreRefusedBeforeReading) {
    for (int which = 0; which < 2; ++which) {
        Harness h;
        h.Connect();
        if (which == 1) h.client->Receive(Frame("1?77"));
        h.client->Receive(Frame(std::to_string(which + 1) + "?" + std::string(4934, '9')));
        const std::string expected = which == 0 ? "Peer's RSA modulus is longer than 16384 bits"
                                                : "Peer's RSA exponent is longer than 16384 bits";
        EXPECT_EQ(std::vector<std::string>(h.view.log.end() - 2, h.view.log.end()),
                  (std::vector<std::string>{expected, "Disconnected"}));
    }
}

TEST(ClientSide, AfterTheKeyIsSentOnlyTheAcknowledgementCounts) {
    Harness h;
    h.Connect();
    h.client->Receive(Frame("1?3233") + Frame("2?17"));
    h.worker->RunAll();
    h.client->Receive(Frame("3?ACK") + Frame("4?**ack**"));
    EXPECT_TRUE(h.State().isHandshaking);
    EXPECT_TRUE(h.view.busy);
    h.client->Receive(Frame("5?**ACK**"));
    EXPECT_FALSE(h.State().isHandshaking);
    EXPECT_FALSE(h.view.busy);
}

TEST(ClientSide, ADisconnectWhileEncryptingSendsNothing) {
    Harness h;
    h.Connect();
    h.client->Receive(Frame("1?3233") + Frame("2?17"));
    const std::string sentBefore = h.client->connection.sent;
    h.session->Disconnect();
    h.worker->RunAll();
    EXPECT_EQ(h.client->connection.sent, sentBefore);
    EXPECT_FALSE(h.view.HasLine("Transmitting AES key"));
}

TEST(ClientSide, EachConversationGetsAKeyOfItsOwn) {
    std::set<std::string> keys;
    for (int i = 0; i < 4; ++i) {
        SessionPair pair;
        pair.Run();
        keys.insert(pair.client.In().sessionKey());
    }
    EXPECT_EQ(keys.size(), 4u);
}

TEST(KeyText, LPadFillsWithZerosUpToTheWidth) {
    EXPECT_EQ(LPad("7", 8), "00000007");
    EXPECT_EQ(LPad("", 8), "00000000");
    EXPECT_EQ(LPad("123456789", 8), "123456789");
}

// ---------------------------------------------------------------- the channel

TEST(Channel, ChatLinesBothWaysWithTheirEchoes) {
    SessionPair pair("[main]\ndebug=true\n");
    pair.Run();
    pair.server.view.log.clear();
    pair.client.view.log.clear();
    pair.client.view.applicationActive = false;
    pair.Type(pair.client, "hi");
    pair.Run();
    const std::string cipher = SealUnder(pair.client.In().sessionKey(), "hi");
    ASSERT_EQ(cipher.size(), 4u);
    EXPECT_EQ(pair.client.view.log, (std::vector<std::string>{"Sending plaintext: hi", "Sending ciphertext: " + cipher,
                                                              "YOU  (11:01:04) : hi"}));
    EXPECT_EQ(pair.server.view.log, (std::vector<std::string>{"Received ciphertext: " + cipher,
                                                              "Received plaintext: hi", "PEER (11:01:04) : hi"}));
    EXPECT_EQ(pair.server.view.flashes, 0);

    pair.server.view.applicationActive = false;
    pair.server.fakes.clock->time = "9:05:00 PM";
    pair.Type(pair.server, "");
    pair.Run();
    EXPECT_EQ(pair.server.view.log.back(), "YOU  (9:05:00 PM) : ");
    EXPECT_EQ(pair.client.view.log.back(), "PEER (11:01:04) : ");
    EXPECT_EQ(pair.client.view.flashes, 1);
}

TEST(Channel, TheSameLineTwiceIsTheSameCiphertextOnTheWire) {
    SessionPair pair;
    pair.Run();
    pair.Type(pair.client, "again");
    const std::string first = pair.client.client->connection.sent;
    pair.client.client->connection.sent.clear();
    pair.Type(pair.client, "again");
    EXPECT_EQ(first.substr(first.find('?')), pair.client.client->connection.sent.substr(2));
}

TEST(Channel, EightBitTextFromAnOlderPeerReadsAsWindows1252) {
    SessionPair pair;
    pair.Run();
    pair.Type(pair.client, "caf\xe9");
    pair.Run();
    EXPECT_EQ(pair.server.view.log.back(), "PEER (11:01:04) : caf\xc3\xa9");
}

TEST(Channel, ReturnWhileListeningAloneSaysNotConnectedAndStillEchoes) {
    Harness h;
    h.Listen();
    h.session->Say("anyone?");
    EXPECT_EQ(std::vector<std::string>(h.view.log.end() - 2, h.view.log.end()),
              (std::vector<std::string>{"Error sending text - not connected", "YOU  (11:01:04) : anyone?"}));
}

TEST(Channel, ReceivedTextsAreClassifiedByTheFirstRuleThatMatches) {
    struct Case {
        const char* text;
        bool receiving;
        TChannelText kind;
    };
    const Case cases[] = {
        {"FILE_OK", false, TChannelText::FileAccepted},
        {"FILE_NOK", false, TChannelText::FileRefused},
        {"say FILE_OK", false, TChannelText::ChatLine},
        {"a **FILE_START**b?3 c", false, TChannelText::FileOffered},
        {"FILE_OK ", false, TChannelText::ChatLine},
        // While a file arrives every other text is file data, but answers stay answers.
        {"41424", true, TChannelText::FileData},
        {"FILE_NOK", true, TChannelText::FileRefused},
        {"hello", true, TChannelText::FileData},
        {"**FILE_START**x?1", true, TChannelText::FileData},
    };
    for (const Case& c : cases) EXPECT_EQ(ClassifyPlaintext(c.text, c.receiving), c.kind) << c.text;
}

TEST(Channel, ChatLinesAreTheirsOrOurs) {
    EXPECT_EQ(OwnChatLine("11:01:04", "hi"), "YOU  (11:01:04) : hi");
    EXPECT_EQ(PeerChatLine("9:05:00 PM", ""), "PEER (9:05:00 PM) : ");
}
