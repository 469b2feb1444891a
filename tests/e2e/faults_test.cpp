// Things going wrong around the program rather than in what the peer says:
// a peer that vanishes in the middle of the key exchange or of a chat burst,
// a reset during a transfer, a full disk, a trace file that cannot be made.

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <unistd.h>

#include "filecontent.h"
#include "hostilepeer.h"
#include "rawpeer.h"
#include "rsa/privatekey.h"
#include "testbed.h"

namespace {

using namespace std::chrono_literals;

constexpr int kBurstLines = 3000;
constexpr int kLinesBeforeKill = 50;

std::string Burst(const std::string& speaker) {
    std::string input;
    for (int i = 0; i < kBurstLines; ++i) input += speaker + " burst line " + std::to_string(i) + "\n";
    return input;
}

std::size_t PeerLinesHeard(const TChildProcess& child) { return ChatTexts(child.OutputLines(), "PEER").size(); }

// A raw connector that stops after the header and some key parts.
void VanishMidKeyExchange(TRawPeer& peer, bool reset) {
    ASSERT_TRUE(peer.ReceivePublicKey());
    const std::vector<std::string> parts = peer.EncryptedKeyParts();
    ASSERT_TRUE(peer.SendFrame(std::to_string(parts.size())));
    for (std::size_t i = 0; i < parts.size() / 2; ++i) ASSERT_TRUE(peer.SendFrame(std::to_string(i) + "=" + parts[i]));
    if (reset)
        peer.Reset();
    else
        peer.Close();
}

class Faults : public ::testing::Test {
protected:
    // The kept listener lost its peer with these lines, and serves the next one.
    void ExpectPeerLost(TChildProcess& listener, const QString& port, std::size_t mark,
                        const std::vector<std::string>& lostLines) {
        ASSERT_TRUE(WaitForLineFrom(listener, mark, lostLines.back())) << listener.Transcript();
        EXPECT_EQ(LinesFrom(listener, mark), lostLines);
        ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, listener, port));
    }

    void ListenerLosesPeerMidKeyExchange(bool reset) {
        QString port;
        const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
        const std::size_t mark = listener->OutputLines().size();
        const std::unique_ptr<TRawPeer> peer = TRawPeer::Connect(port.toUShort());
        ASSERT_NE(peer, nullptr);
        ASSERT_NO_FATAL_FAILURE(VanishMidKeyExchange(*peer, reset));
        std::vector<std::string> lost = ListenerPeerLines();
        lost.push_back("Client disconnected");
        ExpectPeerLost(*listener, port, mark, lost);
    }

    void ConnectorLosesPeerMidKeyExchange(bool reset) {
        TRawListener rawListener;
        const std::unique_ptr<TChildProcess> connector = bench_.StartConnector(rawListener.port());
        const std::unique_ptr<TRawPeer> peer = rawListener.Accept();
        ASSERT_NE(peer, nullptr);
        // N only: the connector waits for E.
        ASSERT_TRUE(peer->SendFrame(RawPeerKey().GetN().ToString()));
        Pause(200ms);
        if (reset)
            peer->Reset();
        else
            peer->Close();
        ASSERT_TRUE(connector->WaitForExit()) << connector->Transcript();
        EXPECT_EQ(connector->ExitCode(), 0);
        const std::vector<std::string> expected = {"Connected to localhost:" + std::to_string(rawListener.port()),
                                                   "Disconnected"};
        EXPECT_EQ(connector->OutputLines(), expected);
        EXPECT_EQ(connector->ErrorText(), "");
    }

    TTerminalBench bench_;
};

}  // namespace

TEST_F(Faults, ListenerWhosePeerClosesMidKeyExchangeServesTheNext) { ListenerLosesPeerMidKeyExchange(false); }

TEST_F(Faults, ListenerWhosePeerResetsMidKeyExchangeServesTheNext) { ListenerLosesPeerMidKeyExchange(true); }

TEST_F(Faults, ConnectorWhosePeerClosesMidKeyExchangeLeaves) { ConnectorLosesPeerMidKeyExchange(false); }

TEST_F(Faults, ConnectorWhosePeerResetsMidKeyExchangeLeaves) { ConnectorLosesPeerMidKeyExchange(true); }

TEST_F(Faults, ListenerWhoseConnectorIsKilledMidBurstServesTheNext) {
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    const std::unique_ptr<TChildProcess> connector = bench_.StartConnector(port.toUShort());
    connector->Write(Burst("connector"));
    ASSERT_TRUE(WaitUntil([&] { return PeerLinesHeard(*listener) >= kLinesBeforeKill; })) << listener->Transcript();
    connector->Kill();

    ASSERT_TRUE(listener->WaitForLine("Client disconnected")) << listener->Transcript();
    const std::size_t heard = PeerLinesHeard(*listener);
    EXPECT_GE(heard, static_cast<std::size_t>(kLinesBeforeKill));
    // What arrived is a prefix of what was said, in order.
    const std::vector<std::string> texts = ChatTexts(listener->OutputLines(), "PEER");
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i], "connector burst line " + std::to_string(i));
    ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
}

TEST_F(Faults, ConnectorWhoseListenerIsKilledMidBurstLeaves) {
    const QString port = PortText(FreePort());
    const std::unique_ptr<TChildProcess> listener = bench_.Start({"listen", "--port", port, "--key-size", "512"});
    ASSERT_TRUE(WaitUntilListening(*listener, port)) << listener->Transcript();
    const std::unique_ptr<TChildProcess> connector = bench_.StartConnector(port.toUShort());
    listener->Write(Burst("listener"));
    ASSERT_TRUE(WaitUntil([&] { return PeerLinesHeard(*connector) >= kLinesBeforeKill; })) << connector->Transcript();
    listener->Kill();

    ASSERT_TRUE(connector->WaitForExit()) << connector->Transcript();
    EXPECT_EQ(connector->ExitCode(), 0);
    ASSERT_FALSE(connector->OutputLines().empty());
    EXPECT_EQ(connector->OutputLines().back(), "Disconnected");
    const std::vector<std::string> texts = ChatTexts(connector->OutputLines(), "PEER");
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(texts[i], "listener burst line " + std::to_string(i));
    EXPECT_EQ(connector->ErrorText(), "");
}

TEST_F(Faults, ResetDuringATransferClosesTheFileAsLoggedAndTheListenerServesTheNext) {
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    const std::size_t mark = listener->OutputLines().size();
    const std::unique_ptr<TRawPeer> peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr) << listener->Transcript();
    constexpr int kChunks = 10;
    constexpr int64_t kOffered = 1 << 20;
    ASSERT_TRUE(peer->SendEncrypted("**FILE_START**cut.bin?" + std::to_string(kOffered)));
    ASSERT_EQ(peer->ReadDecrypted(), std::optional<std::string>("FILE_OK"));
    for (int i = 0; i < kChunks; ++i) ASSERT_TRUE(peer->SendEncrypted(std::string(510, 'A')));
    const std::string path = bench_.InboxPath("cut.bin");
    ASSERT_TRUE(WaitUntil([&] { return FileSize(QString::fromStdString(path)) == kChunks * 255; }));
    peer->Reset();

    std::vector<std::string> lost = ListenerPeerLines();
    Append(lost, ListenerKeyDoneLines());
    Append(lost, {"Receiving file " + path, "Client disconnected", ReceivingStopped(path, kChunks * 255, kOffered)});
    ASSERT_TRUE(WaitForLineFrom(*listener, mark, lost.back())) << listener->Transcript();
    EXPECT_EQ(LinesFrom(*listener, mark), lost);
    EXPECT_EQ(FileSize(QString::fromStdString(path)), kChunks * 255);
    EXPECT_FALSE(ProcessHasFileOpen(listener->ProcessId(), QString::fromStdString(path)));
    ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
}

TEST_F(Faults, FullDiskWhileReceivingIsLoggedAndTheConversationGoesOn) {
    // 64 KiB per file: writes beyond it fail with EFBIG instead of a signal.
    const QString port = PortText(FreePort());
    const QString command = "trap '' XFSZ; ulimit -f 64; exec \"$0\" \"$@\"";
    auto listener = std::make_unique<TChildProcess>(
        QStringLiteral("bash"),
        QStringList{"-c", command, TerminalProgram(), "listen", "--port", port, "--key-size", "512", "--accept-files",
                    bench_.inbox(), "--config", QDir(bench_.folder()).filePath("quellmere.conf")});
    listener->SetWorkingFolder(bench_.folder());
    ASSERT_TRUE(listener->Start());
    ASSERT_TRUE(WaitUntilListening(*listener, port)) << listener->Transcript();
    const std::unique_ptr<TRawPeer> peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr) << listener->Transcript();

    // 400 chunks of 255 bytes of 0x01: 102000 bytes, checksum 102000 mod 65535.
    constexpr int kChunks = 400;
    constexpr int64_t kBytes = kChunks * 255;
    ASSERT_TRUE(peer->SendEncrypted("**FILE_START**big.bin?" + std::to_string(kBytes)));
    ASSERT_EQ(peer->ReadDecrypted(), std::optional<std::string>("FILE_OK"));
    const std::string chunk = [] {
        std::string hex;
        for (int i = 0; i < 255; ++i) hex += "01";
        return hex;
    }();
    for (int i = 0; i < kChunks; ++i) ASSERT_TRUE(peer->SendEncrypted(chunk));
    ASSERT_TRUE(peer->SendEncrypted("**FILE_END**?" + std::to_string(kBytes % 65535)));
    ASSERT_TRUE(peer->SendEncrypted("after the full disk"));
    ASSERT_TRUE(listener->WaitForLine([](const std::string& l) {
        return IsChatLine(l, "PEER", "after the full disk");
    })) << listener->Transcript();

    // 257 whole chunks fit in 65536 bytes; the 258th is written in part and
    // then fails, so it is neither counted nor checksummed.
    const std::string path = bench_.InboxPath("big.bin");
    constexpr int64_t kCounted = 257 * 255;
    const std::vector<std::string> expected = {
        "Receiving file " + path, "Error writing " + path + ": I/O error 27",
        "Finished reading file but received " + std::to_string(kCounted) + " of " + std::to_string(kBytes) +
            ", checksum=" + std::to_string(kCounted) + ", peer checksum=" + std::to_string(kBytes % 65535)};
    EXPECT_EQ(Slice(listener->OutputLines(), ListenerHandshake(port.toStdString()).size(), expected.size()), expected)
        << listener->Transcript();
    EXPECT_FALSE(listener->HasLine(kFinishedOk));
    EXPECT_EQ(FileSize(QString::fromStdString(path)), 64 * 1024);
    EXPECT_TRUE(listener->Running());
    peer->Close();
    ASSERT_TRUE(listener->WaitForExit()) << listener->Transcript();
    EXPECT_EQ(listener->ExitCode(), 0);
}

TEST_F(Faults, TraceFileThatIsAFolderIsReportedAndTheConversationGoesOn) {
    ASSERT_TRUE(QDir(bench_.folder()).mkdir(QStringLiteral("quellmere.log")));
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port, {"--log"});
    ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
    // EISDIR: the trace is not written, and nothing else is affected.
    EXPECT_EQ(listener->ErrorText(), "I/O error 21\n" + kWeakKeyWarning);
    EXPECT_TRUE(QFileInfo(QDir(bench_.folder()).filePath("quellmere.log")).isDir());
}

TEST_F(Faults, TraceFileInAReadOnlyFolderIsReported) {
    // Permissions do not stop root; the folder case above covers it there.
    if (::geteuid() == 0) GTEST_SKIP() << "running as root: a read-only folder is still writable";
    QFile::setPermissions(bench_.folder(), QFile::ReadOwner | QFile::ExeOwner);
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port, {"--log"});
    ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
    QFile::setPermissions(bench_.folder(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(listener->ErrorText(), "File access denied\n" + kWeakKeyWarning);
}
