// A raw peer sends what no well-behaved program would, row after row, to the
// terminal program in either role: each row must end in the exact log lines,
// the connection ended or kept as the protocol says, and a kept listener
// serving the next peer.

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <optional>

#include "hostilepeer.h"
#include "rsa/privatekey.h"
#include "rawpeer.h"
#include "testbed.h"

namespace {

using namespace std::string_literals;

// Stands for a chat line from the peer whose text is whatever garbage decrypted to.
const std::string kAnyPeerLine = "<any PEER line>";
// Stands for a chat line from the peer with the text that follows it.
const std::string kPeerSaid = "<PEER said> ";
// Stands for the folder where the program saves files.
const std::string kInbox = "<inbox>";
constexpr int64_t kOfferedBytes = 4;

enum class TStage { Connected, Chatting, Receiving };
enum class TEnding { Aborted, PeerGone, Continues };

struct TBadRow {
    using TPlay = std::function<std::vector<std::string>(TRawPeer&)>;
    TBadRow(std::string rowName, TStage rowStage, TPlay rowPlay, TEnding rowEnding,
            std::optional<int64_t> bytesWritten = std::nullopt)
        : name(std::move(rowName)),
          stage(rowStage),
          play(std::move(rowPlay)),
          ending(rowEnding),
          stoppedAfter(bytesWritten) {}

    std::string name;
    TStage stage;
    // Does the bad thing; gives the lines the program logs for it.
    TPlay play;
    TEnding ending;
    // Receiving rows whose file is still open when the connection ends: bytes written.
    std::optional<int64_t> stoppedAfter;
};

bool LineMatches(const std::string& actual, const std::string& expected) {
    if (expected == kAnyPeerLine) return ParseChatLine(actual).has_value() && ParseChatLine(actual)->speaker == "PEER";
    if (expected.rfind(kPeerSaid, 0) == 0) return IsChatLine(actual, "PEER", expected.substr(kPeerSaid.size()));
    return actual == expected;
}

bool LinesMatch(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    if (actual.size() != expected.size()) return false;
    for (std::size_t i = 0; i < actual.size(); ++i)
        if (!LineMatches(actual[i], expected[i])) return false;
    return true;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += "  [" + line + "]\n";
    return text;
}

std::string OfferedName(const TBadRow& row) { return row.name + ".bin"; }

std::string StillHere(const TBadRow& row) { return "still here after " + row.name; }

// ---------------------------------------------------------------- the rows

std::vector<std::string> Sent(bool sent, std::vector<std::string> lines) {
    EXPECT_TRUE(sent);
    return lines;
}

// Whatever the role: the frame layer, before any payload was taken.
std::vector<TBadRow> FrameRows() {
    return {
        {"separator-missing", TStage::Connected,
         [](TRawPeer& peer) { return Sent(peer.SendBytes("1\0"s), {"Missing sequence separator"}); }, TEnding::Aborted},
        {"first-frame-numbered-2", TStage::Connected,
         [](TRawPeer& peer) {
             return Sent(peer.SendFrameNumbered("2", "12"), {"", "Expected sequence 1 but received 2"});
         },
         TEnding::Aborted},
        {"nul-inside-payload", TStage::Connected,
         [](TRawPeer& peer) {
             return Sent(peer.SendBytes("1?1\0"
                                        "2\0"s),
                         {"Missing sequence separator"});
         },
         TEnding::Aborted},
        {"sequence-with-letters", TStage::Connected,
         [](TRawPeer& peer) { return Sent(peer.SendFrameNumbered("1a", "12"), {"'1a' is not a valid integer value"}); },
         TEnding::Aborted},
        {"sequence-empty", TStage::Connected,
         [](TRawPeer& peer) { return Sent(peer.SendFrameNumbered("", "12"), {"'' is not a valid integer value"}); },
         TEnding::Aborted},
        // A megabyte sequence number: the key exchange has no frame that long.
        {"megabyte-before-a-frame-end", TStage::Connected,
         [](TRawPeer& peer) {
             peer.SendBytes(std::string(1 << 20, 'A') + "?x" + '\0');
             return std::vector<std::string>{"Peer sent more than 64 KiB without a frame end"};
         },
         TEnding::Aborted},
        {"frame-never-ends", TStage::Connected,
         [](TRawPeer& peer) {
             EXPECT_TRUE(peer.SendBytes("1?123456"));
             peer.Close();
             return std::vector<std::string>{};
         },
         TEnding::PeerGone},
        {"silent-then-close", TStage::Connected,
         [](TRawPeer& peer) {
             peer.Close();
             return std::vector<std::string>{};
         },
         TEnding::PeerGone},
    };
}

// The offer goes, and "FILE_NOK" comes back.
bool RefusedOffer(TRawPeer& peer, const std::string& offer) {
    return peer.SendEncrypted(offer) && peer.ReadDecrypted() == std::optional<std::string>("FILE_NOK");
}

// Whatever the role: the encrypted channel and file offers.
std::vector<TBadRow> ChatRows() {
    return {
        {"sequence-repeated", TStage::Chatting,
         [](TRawPeer& peer) {
             const std::string last = std::to_string(peer.sentFrames());
             const std::string expected = std::to_string(peer.sentFrames() + 1);
             return Sent(peer.SendFrameNumbered(last, EncryptUnder(peer.sessionKey(), "again")),
                         {"", "Expected sequence " + expected + " but received " + last});
         },
         TEnding::Aborted},
        {"sequence-skipped", TStage::Chatting,
         [](TRawPeer& peer) {
             const std::string skipped = std::to_string(peer.sentFrames() + 2);
             const std::string expected = std::to_string(peer.sentFrames() + 1);
             return Sent(peer.SendFrameNumbered(skipped, EncryptUnder(peer.sessionKey(), "ahead")),
                         {"", "Expected sequence " + expected + " but received " + skipped});
         },
         TEnding::Aborted},
        {"megabyte-chat-line", TStage::Chatting,
         [](TRawPeer& peer) {
             return Sent(peer.SendEncrypted(std::string(1 << 20, 'A')), {kPeerSaid + std::string(1 << 20, 'A')});
         },
         TEnding::Continues},
        // Lines the peer builds are shown as one line of its own, its controls visible.
        {"forged-lines", TStage::Chatting,
         [](TRawPeer& peer) {
             return Sent(peer.SendEncrypted("hi\r\nYOU  (12:00:05) : I will pay now\r** HANDSHAKING COMPLETE **\x1b[2J\xc2\x9b"),
                         {kPeerSaid + "hi\\x0d\\x0aYOU  (12:00:05) : I will pay now\\x0d** HANDSHAKING COMPLETE **\\x1b[2J\\x9b"});
         },
         TEnding::Continues},
        // Markup in the size: no size, so nothing is asked.
        {"offer-of-markup", TStage::Chatting,
         [](TRawPeer& peer) {
             return Sent(RefusedOffer(peer, "**FILE_START**report.pdf?1<br><h1 style=\"color:red\">Security update "
                                            "required</h1>Click <a href=\"https://x.example\">here</a>"),
                         {"Refused file report.pdf: its size is not a number"});
         },
         TEnding::Continues},
        {"garbage-base64", TStage::Chatting,
         [](TRawPeer& peer) { return Sent(peer.SendFrame("!!!!not*base64~~"), {kAnyPeerLine}); }, TEnding::Continues},
        {"ciphertext-under-another-key", TStage::Chatting,
         [](TRawPeer& peer) {
             return Sent(peer.SendFrame(EncryptUnder(MakeKeyText(), "meant for someone else")), {kAnyPeerLine});
         },
         TEnding::Continues},
        // A size that is no decimal number is refused before anything is asked.
        {"offer-without-separator", TStage::Chatting,
         [](TRawPeer& peer) {
             return Sent(RefusedOffer(peer, "**FILE_START**noseparator.bin"),
                         {"Refused file noseparator.bin: its size is not a number"});
         },
         TEnding::Continues},
        {"offer-negative-size", TStage::Chatting,
         [](TRawPeer& peer) {
             return Sent(RefusedOffer(peer, "**FILE_START**negative.bin?-5"),
                         {"Refused file negative.bin: its size is not a number"});
         },
         TEnding::Continues},
        {"offer-enormous-size", TStage::Chatting,
         [](TRawPeer& peer) {
             return Sent(RefusedOffer(peer, "**FILE_START**enormous.bin?99999999999999999999"),
                         {"Refused file enormous.bin: its size is not a number"});
         },
         TEnding::Continues},
    };
}

// Whatever the role: a file of kOfferedBytes accepted, then bad file messages.
std::vector<TBadRow> ReceivingRows() {
    return {
        {"chunk-not-hex", TStage::Receiving,
         [](TRawPeer& peer) { return Sent(peer.SendEncrypted("ZZ00"), {"'ZZ' is not a valid integer value"}); },
         TEnding::Aborted, 0},
        {"chunk-odd-then-not-hex", TStage::Receiving,
         [](TRawPeer& peer) {
             // "616" is one byte; its odd last digit is dropped.
             return Sent(peer.SendEncrypted("616") && peer.SendEncrypted("6g"), {"'6g' is not a valid integer value"});
         },
         TEnding::Aborted, 1},
        {"end-without-number", TStage::Receiving,
         [](TRawPeer& peer) {
             return Sent(peer.SendEncrypted("61626364") && peer.SendEncrypted("**FILE_END**"),
                         {"'' is not a valid integer value"});
         },
         TEnding::Aborted},
        {"end-with-letters", TStage::Receiving,
         [](TRawPeer& peer) {
             return Sent(peer.SendEncrypted("**FILE_END**?12x"), {"'12x' is not a valid integer value"});
         },
         TEnding::Aborted},
    };
}

// The raw peer connects: the program is the listening side, reading the header and the parts.
std::vector<TBadRow> ListenerKeyRows() {
    const auto header = [](std::string name, std::string text, std::string error) {
        return TBadRow{std::move(name), TStage::Connected,
                       [text, error](TRawPeer& peer) { return Sent(peer.SendFrame(text), {error}); }, TEnding::Aborted};
    };
    const auto part = [](std::string name, std::function<std::string(TRawPeer&)> text, std::string error) {
        return TBadRow{
            std::move(name), TStage::Connected,
            [text, error](TRawPeer& peer) { return Sent(peer.SendFrame("32") && peer.SendFrame(text(peer)), {error}); },
            TEnding::Aborted};
    };
    // The program's key is the parts in the order of their padded index texts.
    const auto relabelled = [](std::string name, std::function<std::string(std::size_t)> label,
                               std::function<std::string(const std::string&)> keptKey) {
        return TBadRow{std::move(name), TStage::Connected,
                       [label, keptKey](TRawPeer& peer) {
                           const std::vector<std::string> parts = peer.EncryptedKeyParts();
                           bool sent = peer.SendFrame(std::to_string(parts.size()));
                           for (std::size_t i = 0; i < parts.size(); ++i)
                               sent = sent && peer.SendFrame(label(i) + "=" + parts[i]);
                           EXPECT_TRUE(peer.WaitForAcknowledge());
                           peer.SetSessionKey(keptKey(peer.sessionKey()));
                           return Sent(sent, ListenerKeyDoneLines());
                       },
                       TEnding::Continues};
    };
    return {
        header("header-with-letters", "3a", "'3a' is not a valid integer value"),
        header("header-empty", "", "'' is not a valid integer value"),
        header("header-not-a-number", "abc", "'abc' is not a valid integer value"),
        header("header-beyond-32-bits", "2147483648", "'2147483648' is not a valid integer value"),
        header("header-negative", "-1", "Invalid number of AES key parts: -1"),
        header("header-huge", "100000", "Invalid number of AES key parts: 100000"),
        // The error that quotes the peer quotes it inert.
        header("header-forging-lines", "3\r\nYOU  (12:00:05) : hi", "'3\\x0d\\x0aYOU  (12:00:05) : hi' is not a valid integer value"),
        {"header-zero-then-good", TStage::Connected,
         [](TRawPeer& peer) {
             const bool sent = peer.SendFrame("0") && peer.SendKeyParts(peer.EncryptedKeyParts());
             EXPECT_TRUE(peer.WaitForAcknowledge());
             return Sent(sent, ListenerKeyDoneLines());
         },
         TEnding::Continues},
        part(
            "part-not-below-modulus", [](TRawPeer& peer) { return "0=" + peer.remoteModulus(); },
            "AES key part 0 is not below the modulus"),
        part(
            "part-with-letters", [](TRawPeer&) { return "0=12ab"s; }, "Invalid Char: a"),
        part(
            "part-empty", [](TRawPeer&) { return "0="s; }, "Zero-length string"),
        part(
            "part-too-long", [](TRawPeer&) { return "0=" + std::string(5000, '9'); },
            "Peer's AES key part is longer than 16384 bits"),
        part(
            "part-index-too-long", [](TRawPeer&) { return std::string(11, '0') + "=12"; },
            "Peer's AES key part index is longer than 10 characters"),
        // The second "0" is not kept: the key is one character short.
        relabelled(
            "part-index-repeated", [](std::size_t i) { return std::to_string(i == 1 ? 0 : i); },
            [](const std::string& key) { return key.substr(0, 1) + key.substr(2); }),
        // "00000099" sorts after "00000031": the first character goes last.
        relabelled(
            "part-index-out-of-range", [](std::size_t i) { return std::to_string(i == 0 ? 99 : i); },
            [](const std::string& key) { return key.substr(1) + key.substr(0, 1); }),
    };
}

// The program connects to the raw peer: it reads N and E, then waits for the ACK.
std::vector<TBadRow> ConnectorKeyRows() {
    const auto modulus = [](std::string name, std::string text, std::string error) {
        return TBadRow{std::move(name), TStage::Connected,
                       [text, error](TRawPeer& peer) { return Sent(peer.SendFrame(text), {error}); }, TEnding::Aborted};
    };
    return {
        modulus("modulus-with-letters", "12ab", "Invalid Char: a"),
        modulus("modulus-empty", "", "Zero-length string"),
        modulus("something-else-than-the-key", "hello", "Invalid Char: h"),
        modulus("modulus-too-long", std::string(5000, '9'), "Peer's RSA modulus is longer than 16384 bits"),
        {"exponent-with-letters", TStage::Connected,
         [](TRawPeer& peer) {
             return Sent(peer.SendFrame(RawPeerKey().GetN().ToString()) && peer.SendFrame("65537x"),
                         {"Invalid Char: x"});
         },
         TEnding::Aborted},
        {"modulus-zero", TStage::Connected,
         [](TRawPeer& peer) {
             return Sent(peer.SendFrame("0") && peer.SendFrame("65537"),
                         {"Received remote RSA public key ok", "Generating AES key", "Generated AES key",
                          "Encrypting AES key with remote RSA public key...please wait", "Division by zero"});
         },
         TEnding::Aborted},
        {"noise-before-the-ack", TStage::Connected,
         [](TRawPeer& peer) {
             const bool sent = peer.SendPublicKey(RawPeerKey()) && peer.ReceiveSessionKey(RawPeerKey()) &&
                               peer.SendFrame("not the ack") && peer.SendFrame("**ACK** ") && peer.SendFrame("**ACK**");
             return Sent(sent, ConnectorKeyLines());
         },
         TEnding::Continues},
    };
}

// ---------------------------------------------------------------- playing them

class BadInput : public ::testing::Test {
protected:
    // Prefix, the row's own lines, then the end of the connection.
    static std::vector<std::string> EndLines(const TBadRow& row, std::vector<std::string> lines, bool listenerRole,
                                             const std::string& receivedPath) {
        if (row.ending == TEnding::Continues) lines.push_back(kPeerSaid + StillHere(row));
        if (listenerRole) lines.push_back("Client disconnected");
        if (row.stoppedAfter) lines.push_back(ReceivingStopped(receivedPath, *row.stoppedAfter, kOfferedBytes));
        if (!listenerRole || row.ending == TEnding::Aborted) lines.push_back("Disconnected");
        return lines;
    }

    // After the stage's own steps: what the row does, then the end of the connection.
    static void PlayRow(const TBadRow& row, TRawPeer& peer, TChildProcess& program, std::size_t mark,
                        std::vector<std::string> expected, bool listenerRole, const std::string& receivedPath,
                        const std::vector<std::string>& tail, const std::string& inbox) {
        for (std::string line : row.play(peer)) {
            if (line.find(kInbox) != std::string::npos) line.replace(line.find(kInbox), kInbox.size(), inbox);
            expected.push_back(line);
        }
        expected = EndLines(row, expected, listenerRole, receivedPath);
        if (row.ending == TEnding::Continues) {
            EXPECT_TRUE(peer.SendEncrypted(StillHere(row)));
            EXPECT_TRUE(program.WaitForLine([&](const std::string& l) {
                return IsChatLine(l, "PEER", StillHere(row));
            })) << row.name
                << "\n"
                << program.Transcript();
            peer.Close();
        }
        if (row.ending == TEnding::Aborted) {
            EXPECT_TRUE(peer.WaitForClose()) << row.name;
        }
        Append(expected, tail);
        WaitUntil([&] { return LinesFrom(program, mark).size() >= expected.size() || !program.Running(); });
        if (!program.Running()) program.WaitForExit();
        EXPECT_TRUE(LinesMatch(LinesFrom(program, mark), expected)) << "row " << row.name << "\n--- expected:\n"
                                                                    << Joined(expected) << "--- actual:\n"
                                                                    << Joined(LinesFrom(program, mark));
    }

    // The raw peer connects to a kept listener, row after row.
    void PlayAsConnector(const std::vector<TBadRow>& rows) {
        QString port;
        const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
        for (const TBadRow& row : rows) {
            SCOPED_TRACE(row.name);
            const std::size_t mark = listener->OutputLines().size();
            const std::unique_ptr<TRawPeer> peer = TRawPeer::Connect(port.toUShort());
            ASSERT_NE(peer, nullptr);
            std::vector<std::string> expected = ListenerPeerLines();
            ASSERT_TRUE(row.stage == TStage::Connected ? peer->ReceivePublicKey() : peer->PerformKeyExchange());
            if (row.stage != TStage::Connected) Append(expected, ListenerKeyDoneLines());
            const std::string receivedPath = bench_.InboxPath(OfferedName(row));
            if (row.stage == TStage::Receiving) {
                ASSERT_TRUE(StartReceiving(*peer, row));
                expected.push_back("Receiving file " + receivedPath);
            }
            const std::vector<std::string> tail =
                row.ending == TEnding::Aborted ? ListenerRestartLines(port.toStdString()) : std::vector<std::string>{};
            PlayRow(row, *peer, *listener, mark, expected, true, receivedPath, tail, bench_.inbox().toStdString());
            ASSERT_TRUE(listener->Running()) << listener->Transcript();
            // It logs its port before the port takes calls.
            ASSERT_TRUE(WaitUntil([&] { return IsListening(port.toUShort()); }));
        }
        ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
        listener->Terminate();
        ASSERT_TRUE(listener->WaitForExit()) << listener->Transcript();
        EXPECT_EQ(listener->ExitCode(), 0);
    }

    // One connecting program per row against the raw listener.
    void PlayAsListener(const std::vector<TBadRow>& rows) {
        TRawListener rawListener;
        for (const TBadRow& row : rows) {
            SCOPED_TRACE(row.name);
            const std::unique_ptr<TChildProcess> connector = bench_.StartConnector(rawListener.port());
            const std::unique_ptr<TRawPeer> peer = rawListener.Accept();
            ASSERT_NE(peer, nullptr) << connector->Transcript();
            std::vector<std::string> expected = {"Connected to localhost:" + std::to_string(rawListener.port())};
            ASSERT_TRUE(connector->WaitForLine(expected.front())) << connector->Transcript();
            if (row.stage != TStage::Connected) {
                ASSERT_TRUE(peer->ServeKeyExchange(RawPeerKey())) << connector->Transcript();
                Append(expected, ConnectorKeyLines());
                ASSERT_TRUE(connector->WaitForLine("** HANDSHAKING COMPLETE **")) << connector->Transcript();
            }
            const std::string receivedPath = bench_.InboxPath(OfferedName(row));
            if (row.stage == TStage::Receiving) {
                ASSERT_TRUE(StartReceiving(*peer, row));
                expected.push_back("Receiving file " + receivedPath);
            }
            PlayRow(row, *peer, *connector, 0, expected, false, receivedPath, {}, bench_.inbox().toStdString());
            ASSERT_TRUE(connector->WaitForExit()) << connector->Transcript();
            EXPECT_EQ(connector->ExitCode(), row.ending == TEnding::Aborted ? 1 : 0) << connector->Transcript();
            EXPECT_EQ(connector->ErrorText(), "");
        }
    }

    static bool StartReceiving(TRawPeer& peer, const TBadRow& row) {
        return peer.SendEncrypted("**FILE_START**" + OfferedName(row) + "?" + std::to_string(kOfferedBytes)) &&
               peer.ReadDecrypted() == std::optional<std::string>("FILE_OK");
    }

    TTerminalBench bench_;
};

}  // namespace

TEST_F(BadInput, FrameLayerRowsAgainstAKeptListener) { PlayAsConnector(FrameRows()); }

TEST_F(BadInput, FrameLayerRowsAgainstAConnector) { PlayAsListener(FrameRows()); }

TEST_F(BadInput, KeyExchangeRowsAgainstAKeptListener) { PlayAsConnector(ListenerKeyRows()); }

TEST_F(BadInput, KeyExchangeRowsAgainstAConnector) { PlayAsListener(ConnectorKeyRows()); }

TEST_F(BadInput, ChannelRowsAgainstAKeptListener) { PlayAsConnector(ChatRows()); }

TEST_F(BadInput, ChannelRowsAgainstAConnector) { PlayAsListener(ChatRows()); }

TEST_F(BadInput, FileRowsAgainstAKeptListener) { PlayAsConnector(ReceivingRows()); }

TEST_F(BadInput, FileRowsAgainstAConnector) { PlayAsListener(ReceivingRows()); }

namespace {

constexpr int kFloodFrames = 4000;
constexpr std::size_t kFloodPiece = 1 << 20;
constexpr std::size_t kUnterminatedBytes = 48 * kFloodPiece;

void PrintMemory(const char* what, int64_t before, int64_t peak) {
    std::printf("[  MEMORY  ] %s: resident %lld KiB before, peak %lld KiB\n", what, static_cast<long long>(before),
                static_cast<long long>(peak));
}

}  // namespace

TEST_F(BadInput, FloodOfSmallFramesIsShownWholeInBoundedMemory) {
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    const std::unique_ptr<TRawPeer> peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr) << listener->Transcript();
    const int64_t before = ResidentKiB(listener->ProcessId());

    std::vector<std::string> said;
    for (int i = 0; i < kFloodFrames; ++i) {
        said.push_back("flood " + std::to_string(i));
        ASSERT_TRUE(peer->SendEncrypted(said.back()));
    }
    const auto heard = [&] { return static_cast<int64_t>(ChatTexts(listener->OutputLines(), "PEER").size()); };
    ASSERT_TRUE(WaitUntilWhileChanging([&] { return heard() >= kFloodFrames; }, heard)) << listener->Transcript();
    EXPECT_EQ(ChatTexts(listener->OutputLines(), "PEER"), said);
    const int64_t peak = PeakResidentKiB(listener->ProcessId());
    PrintMemory("small frames", before, peak);
    // Nothing of a shown line is kept: a few MiB of sanitizer bookkeeping at most.
    EXPECT_LT(peak - before, 64 * 1024);

    peer->Close();
    ASSERT_TRUE(WaitForLineFrom(*listener, 0, "Client disconnected")) << listener->Transcript();
    ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
}

TEST_F(BadInput, EndlessFrameIsCutOffAtItsLimitInBoundedMemory) {
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    const std::unique_ptr<TRawPeer> peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr) << listener->Transcript();
    const int64_t before = ResidentKiB(listener->ProcessId());
    const std::size_t mark = listener->OutputLines().size();

    // Sends until the listener hangs up; it must, long before the end.
    const std::string piece(kFloodPiece, 'A');
    std::size_t sent = 0;
    bool open = peer->SendBytes(std::to_string(peer->sentFrames() + 1) + "?");
    for (; open && sent < kUnterminatedBytes; sent += piece.size()) open = peer->SendBytes(piece);
    EXPECT_FALSE(open) << "the listener took " << sent << " bytes without a frame end";
    EXPECT_TRUE(peer->WaitForClose());

    std::vector<std::string> expected = {"Peer sent more than 16 MiB without a frame end", "Client disconnected",
                                         "Disconnected"};
    Append(expected, ListenerRestartLines(port.toStdString()));
    ASSERT_TRUE(WaitForLineFrom(*listener, mark, expected.back())) << listener->Transcript();
    EXPECT_EQ(LinesFrom(*listener, mark), expected);
    const int64_t peak = PeakResidentKiB(listener->ProcessId());
    PrintMemory("endless frame", before, peak);
    // The 16 MiB it holds and the larger buffers it grew through, which the
    // sanitizer's quarantine keeps resident after they are freed (measured:
    // about 115 MiB); an unbounded buffer would hold three times the limit.
    EXPECT_LT(peak - before, 192 * 1024);

    ASSERT_TRUE(WaitUntil([&] { return IsListening(port.toUShort()); }));
    ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
}
