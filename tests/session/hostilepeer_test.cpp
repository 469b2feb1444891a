// What a hostile peer does to the session through its frames: floods of
// offers behind a key exchange that holds the frames, peers that leave with
// work under way, dialogs that outlive their connection, fields of any
// size. Frames are taken by one loop, in turns, never one inside another;
// nothing made for one connection reaches the next.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"
#include "session/channel.h"
#include "session/framing.h"
#include "session/keyexchange.h"

namespace {

constexpr const char* kPeerKey = "A hostile peer's key, 32 chars!!";

// A listening session and the peers that connect to it, played by hand.
class Listener : public ::testing::Test {
protected:
    Listener() { side.Listen(); }

    struct Peer {
        FakeConnection* connection = nullptr;
        int32_t sequence = 0;
    };

    Peer Connect(const std::string& name = "client.example") { return {&side.server->Incoming(name), 0}; }

    // The header and the parts of a key text under the listener's public key.
    std::vector<std::string> KeyPayloads(const std::string& key = kPeerKey) const {
        TCiphertextList parts;
        side.In().privateKey()->GetPublicKey()->Encrypt(key, parts);
        std::vector<std::string> payloads{std::to_string(parts.Count())};
        for (std::size_t i = 0; i < parts.Count(); ++i)
            payloads.push_back(std::to_string(i) + "=" + parts[i].Number->ToString());
        return payloads;
    }

    static std::string Encrypted(const std::string& plaintext) { return SealUnder(kPeerKey, plaintext); }

    // The payloads as frames, numbered on from the peer's count.
    static std::string Frames(Peer& peer, const std::vector<std::string>& payloads) {
        std::string bytes;
        for (const std::string& payload : payloads) bytes += MakeFrame(peer.sequence = NextSequence(peer.sequence), payload);
        return bytes;
    }

    void Send(Peer& peer, const std::vector<std::string>& payloads) {
        side.server->Receive(*peer.connection, Frames(peer, payloads));
    }

    // As the system hands them over: a read at a time.
    void SendInReads(Peer& peer, const std::vector<std::string>& payloads) {
        const std::string bytes = Frames(peer, payloads);
        for (std::size_t at = 0; at < bytes.size() && peer.connection->open; at += kReadBytes)
            side.server->Receive(*peer.connection, bytes.substr(at, kReadBytes));
    }
    static constexpr std::size_t kReadBytes = 16 * 1024;

    static std::size_t FramesSent(const FakeConnection& connection) {
        return static_cast<std::size_t>(std::count(connection.sent.begin(), connection.sent.end(), '\0'));
    }

    Harness side;
};

std::vector<std::string> Repeated(const std::string& payload, std::size_t count) {
    return std::vector<std::string>(count, payload);
}

}  // namespace

TEST_F(Listener, AnOfferStormBehindTheKeyPartsIsTakenInTurnsNeverOneInsideAnother) {
    side.view.answerYes = false;
    Peer peer = Connect();
    const std::size_t offers = 20000;
    std::vector<std::string> payloads = KeyPayloads();
    const std::vector<std::string> storm = Repeated(Encrypted("**FILE_START**x?1"), offers);
    payloads.insert(payloads.end(), storm.begin(), storm.end());
    Send(peer, payloads);
    // The parts wait for their decryption, and the offers behind them.
    EXPECT_TRUE(side.view.questions.empty());
    side.worker->RunAll();
    EXPECT_EQ(side.In().sessionKey(), kPeerKey);
    EXPECT_EQ(side.view.questions.size(), offers);
    // However many wait, the handling of one never holds the next on the stack.
    EXPECT_LT(side.view.StackSpread(), 64u * 1024u);
    // N, E, the acknowledgement and a refusal for each.
    EXPECT_EQ(FramesSent(*peer.connection), 3 + offers);
    EXPECT_GE(side.fakes.turnTimer->started.size(), offers / TWire::framesPerTurn);
    EXPECT_TRUE(side.State().isActive);
}

TEST_F(Listener, WhileAQuestionIsOpenTheConversationGoesOnAndOtherOffersAreRefused) {
    side.view.answerYes = false;
    side.view.deferAnswers = true;
    Peer peer = Connect();
    Send(peer, KeyPayloads());
    side.worker->RunAll();
    const std::size_t sent = FramesSent(*peer.connection);
    Send(peer, {Encrypted("**FILE_START**x?1")});
    Send(peer, Repeated(Encrypted("**FILE_START**y?2"), 300));
    Send(peer, {Encrypted("still talking")});
    EXPECT_EQ(side.view.questions, std::vector<std::string>{"Peer is sending file x, size=1.  Save?"});
    EXPECT_EQ(std::count(side.view.log.begin(), side.view.log.end(), "Refused file y: the question about x is open"),
              300);
    EXPECT_EQ(side.view.log.back(), "PEER (11:01:04) : still talking");
    EXPECT_EQ(FramesSent(*peer.connection), sent + 300);
    // The person answers when they like.
    side.view.AnswerPendingOffer();
    EXPECT_EQ(FramesSent(*peer.connection), sent + 301);
    EXPECT_FALSE(side.In().isAsking());
}

TEST_F(Listener, OneTurnTakesAtMostItsShareOfFramesAndAsksForTheNext) {
    Peer peer = Connect();
    Send(peer, KeyPayloads());
    side.worker->RunAll();
    side.server->afterEvent = nullptr;
    const std::size_t lines = 3 * TWire::framesPerTurn + 10;
    const std::size_t before = side.view.log.size();
    std::vector<std::string> payloads;
    for (std::size_t i = 0; i < lines; ++i) payloads.push_back(Encrypted("line " + std::to_string(i)));
    Send(peer, payloads);
    for (std::size_t turn = 1; turn <= 4; ++turn) {
        EXPECT_EQ(side.view.log.size() - before, std::min(lines, turn * TWire::framesPerTurn)) << turn;
        EXPECT_EQ(side.fakes.turnTimer->active, turn < 4) << turn;
        if (side.fakes.turnTimer->active) side.fakes.turnTimer->Fire();
    }
    EXPECT_EQ(side.view.log.back(), "PEER (11:01:04) : line " + std::to_string(lines - 1));
}

TEST_F(Listener, WhileFramesWaitTheRestStaysWithTheSystem) {
    Peer peer = Connect();
    Send(peer, KeyPayloads());
    // Held for the decryption: a peer that keeps sending fills the system's buffers, not ours.
    SendInReads(peer, Repeated(Encrypted("more"), 200000));
    EXPECT_LE(side.In().receiveBuffer().size(), TWire::maxWaitingBytes + kReadBytes);
    EXPECT_GT(peer.connection->incoming.size(), TWire::maxWaitingBytes);
    side.worker->RunAll();
    // Released, it is all read and heard, in order.
    EXPECT_TRUE(peer.connection->incoming.empty());
    EXPECT_EQ(std::count(side.view.log.begin(), side.view.log.end(), "PEER (11:01:04) : more"), 200000);
}

TEST_F(Listener, TheKeyExchangeOfAPeerThatLeftNeverReachesTheNext) {
    Peer first = Connect("first.example");
    Send(first, KeyPayloads("The first peer's key, 32 chars!!"));
    ASSERT_EQ(side.worker->pending.size(), 1u);
    first.connection->CloseConnection();
    side.server->ReleaseClosed();
    Peer next = Connect("next.example");
    // The first peer's decryption finishes now: its result is for no one.
    side.worker->RunAll();
    EXPECT_FALSE(side.view.HasLine("Decrypted AES key ok"));
    EXPECT_EQ(FramesSent(*next.connection), 2u);
    EXPECT_EQ(side.In().sessionKey(), "");
    Send(next, KeyPayloads());
    side.worker->RunAll();
    EXPECT_EQ(side.In().sessionKey(), kPeerKey);
    EXPECT_EQ(std::count(side.view.log.begin(), side.view.log.end(), std::string(kHandshakeCompleteText)), 1);
    EXPECT_EQ(FramesSent(*next.connection), 3u);
}

TEST_F(Listener, AnAnswerGivenAfterThePeerLeftIsDropped) {
    Peer peer = Connect();
    Send(peer, KeyPayloads());
    side.worker->RunAll();
    side.view.saveAs = "/in/x";
    side.view.deferAnswers = true;
    const std::size_t sent = FramesSent(*peer.connection);
    Send(peer, {Encrypted("**FILE_START**x?1")});
    // While the question is open the peer goes, and another comes.
    peer.connection->CloseConnection();
    side.server->ReleaseClosed();
    Peer next = Connect("next.example");
    side.view.AnswerPendingOffer();
    EXPECT_EQ(side.files->creations, 0);
    EXPECT_EQ(FramesSent(*peer.connection), sent);
    // The newcomer has its public key and nothing of the other's offer.
    EXPECT_EQ(FramesSent(*next.connection), 2u);
    EXPECT_FALSE(side.State().isTransferring);
}

TEST_F(Listener, EveryPeerSizedFieldOfTheKeyExchangeHasItsBound) {
    struct Case {
        std::string name;
        std::vector<std::string> payloads;
        std::string error;  // empty: taken
    };
    const std::string parts = KeyPayloads()[1].substr(2);
    const std::vector<Case> cases = {
        {"index of ten characters", {"1", "0000000000=" + parts}, ""},
        {"index of eleven characters", {"1", "00000000000=" + parts},
         "Peer's AES key part index is longer than 10 characters"},
        {"index of fifteen million digits", {"1", std::string(15000000, '7') + "=2"},
         "Peer sent more than 64 KiB without a frame end"},
        {"part count beyond the bound", {std::to_string(kMaxKeyParts + 1)},
         "Invalid number of AES key parts: 1025"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer = Connect();
        SendInReads(peer, c.payloads);
        side.worker->RunAll();
        if (c.error.empty()) {
            EXPECT_TRUE(side.State().isActive);
            EXPECT_TRUE(side.view.HasLine("Decrypted AES key ok"));
        } else {
            EXPECT_TRUE(side.view.HasLine(c.error));
            EXPECT_FALSE(side.server->active);
        }
        side.view.log.clear();
        if (!side.server->active) side.Listen();
        else peer.connection->CloseConnection();
        side.server->ReleaseClosed();
    }
}

TEST(PeerLeaving, WhatAPeerSaidBeforeItLeftIsHeardFirstInTurns) {
    SessionPair pair;
    pair.Run();
    const std::size_t lines = 2 * TWire::framesPerTurn + 5;
    for (std::size_t i = 0; i < lines; ++i) pair.Type(pair.server, "last words " + std::to_string(i));
    // All of it is with the system when the peer's close is seen.
    FakeConnection& toClient = pair.client.client->connection;
    toClient.incoming = std::exchange(pair.serverEnd->sent, {});
    toClient.CloseConnection();
    while (pair.client.fakes.turnTimer->active) pair.client.fakes.turnTimer->Fire();
    const std::vector<std::string>& log = pair.client.view.log;
    ASSERT_GE(log.size(), lines + 1);
    EXPECT_EQ(log.back(), "Disconnected");
    EXPECT_EQ(log[log.size() - 2], "PEER (11:01:04) : last words " + std::to_string(lines - 1));
    EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const std::string& line) {
                  return line.rfind("PEER (11:01:04) : last words ", 0) == 0;
              }),
              static_cast<std::ptrdiff_t>(lines));
    EXPECT_FALSE(pair.client.State().isActive);
}

TEST(PeerLeaving, TheEndOfAFileFromThePeerWhileWeSendIsOnlyChat) {
    SessionPair pair;
    pair.Run();
    const std::string path = "/home/a/big";
    pair.client.files->files[path] = std::string(400000, 'b');
    pair.server.view.saveAs = "/tmp/big";
    pair.client.client->connection.backlogged = true;
    pair.client.session->Offer(path);
    pair.Run();
    ASSERT_TRUE(pair.client.In().isSending());
    // The receiver's side has nothing to end; its words, and an offer, reach a sender busy with its own file.
    pair.client.client->Receive(MakeFrame(pair.server.In().sendSequence() + 1,
                                          SealUnder(pair.server.In().sessionKey(), "**FILE_END**?7")));
    EXPECT_TRUE(pair.client.In().isSending());
    EXPECT_EQ(pair.client.view.log.back(), "PEER (11:01:04) : **FILE_END**?7");
}
