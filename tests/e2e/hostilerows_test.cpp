// What a hostile peer did to the terminal program before it learned better,
// each played again against the real program over 127.0.0.1: floods of
// offers behind a slow key exchange, names made of control characters,
// megabyte frames, forged lines, a peer that leaves while its key is being
// decrypted; and what it plants in the folder that receives files.

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>

#include "hostilepeer.h"
#include "testbed.h"

namespace {

using namespace std::string_literals;

class HostileRows : public ::testing::Test {
protected:
    // A listener with the default options: offers are refused.
    std::unique_ptr<TChildProcess> StartPlainListener(QString& port) {
        port = PortText(FreePort());
        auto listener = bench_.Start({"listen", "--port", port, "--key-size", "512", "--keep-listening"});
        EXPECT_TRUE(WaitUntilListening(*listener, port)) << listener->Transcript();
        return listener;
    }

    static std::size_t Count(const std::string& text, const std::string& line) {
        std::size_t count = 0;
        for (std::size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + line.size())) ++count;
        return count;
    }

    // The raw peer's offer of NAME (BYTES long), accepted; then the bytes and the end message.
    static bool SendFile(TRawPeer& peer, const std::string& name, const std::string& bytes) {
        std::string hex;
        for (const unsigned char c : bytes) {
            static const char kDigits[] = "0123456789ABCDEF";
            hex += kDigits[c >> 4];
            hex += kDigits[c & 15];
        }
        uint32_t sum = 0;
        for (const unsigned char c : bytes) sum = (sum + c > 65535) ? (sum + c) % 65535 : sum + c;
        return peer.SendEncrypted("**FILE_START**" + name + "?" + std::to_string(bytes.size())) &&
               peer.ReadDecrypted() == std::optional<std::string>("FILE_OK") && peer.SendEncrypted(hex) &&
               peer.SendEncrypted("**FILE_END**?" + std::to_string(sum));
    }

    std::string InboxFile(const std::string& name) const { return bench_.InboxPath(name); }

    TTerminalBench bench_;
};

bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

std::string ReadAll(const std::string& path) {
    QFile file(QString::fromStdString(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

}  // namespace

// 256 distinct parts take a while to decrypt; 20,000 offers wait behind them.
TEST_F(HostileRows, AnOfferStormBehindASlowKeyExchangeIsRefusedOneByOne) {
    constexpr int kOffers = 20000;
    QString port;
    const std::unique_ptr<TChildProcess> listener = StartPlainListener(port);
    const std::unique_ptr<TRawPeer> peer = TRawPeer::Connect(port.toUShort());
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(peer->ReceivePublicKey());
    // The offers right behind the parts, in the same write: all wait while the parts are decrypted.
    const std::vector<std::string> parts = peer->DistinctKeyParts(256);
    std::vector<std::string> payloads{std::to_string(parts.size())};
    for (std::size_t i = 0; i < parts.size(); ++i) payloads.push_back(std::to_string(i) + "=" + parts[i]);
    payloads.insert(payloads.end(), kOffers, EncryptUnder(peer->sessionKey(), "**FILE_START**x?1"));
    ASSERT_TRUE(peer->SendFrames(payloads));
    ASSERT_TRUE(peer->WaitForAcknowledge()) << listener->Transcript();
    for (int i = 0; i < kOffers; ++i)
        ASSERT_EQ(peer->ReadDecrypted(), std::optional<std::string>("FILE_NOK")) << i << listener->Transcript();
    const std::string refused = "Peer is sending file x, size=1.  Save? No: files are taken only with --accept-files\n";
    EXPECT_TRUE(WaitUntil([&] { return Count(listener->ErrorText(), refused) == static_cast<std::size_t>(kOffers); }))
        << Count(listener->ErrorText(), refused);
    peer->Close();
    ASSERT_TRUE(WaitForLineFrom(*listener, 0, "Client disconnected")) << listener->Transcript();
    ASSERT_NO_FATAL_FAILURE(ExpectRealConversation(bench_, *listener, port));
}

TEST_F(HostileRows, ANameOfControlCharactersIsSavedUnderASafeNameAndAnInterruptEndsTheListener) {
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    const std::unique_ptr<TRawPeer> peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(SendFile(*peer, "\0"s, "hello"));
    ASSERT_TRUE(listener->WaitForLine(kFinishedOk)) << listener->Transcript();
    EXPECT_TRUE(listener->HasLine("Receiving file " + InboxFile("_")));
    EXPECT_EQ(ReadAll(InboxFile("_")), "hello");
    // Control characters, separators and marks that turn text around: none reaches the disk.
    ASSERT_TRUE(SendFile(*peer, "two\r\nlines\xe2\x80\xae" "fdp.exe", "x"));
    ASSERT_TRUE(listener->WaitForLine("Receiving file " + InboxFile("two__lines_fdp.exe"))) << listener->Transcript();
    listener->Terminate();
    ASSERT_TRUE(listener->WaitForExit()) << listener->Transcript();
    EXPECT_EQ(listener->ExitCode(), 0);
}

TEST_F(HostileRows, PlantedNamesGetTheNextFreeNameOrTheirLinkReplaced) {
    QTemporaryDir outside;
    const std::string landed = outside.filePath(QStringLiteral("landed")).toStdString();
    const std::string target = outside.filePath(QStringLiteral("target")).toStdString();
    {
        QFile file(QString::fromStdString(target));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("precious");
    }
    ASSERT_EQ(::symlink(landed.c_str(), InboxFile("dangling.bin").c_str()), 0);
    ASSERT_EQ(::mkfifo(InboxFile("fifo.bin").c_str(), 0600), 0);
    QString port;
    std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    std::unique_ptr<TRawPeer> peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(SendFile(*peer, "dangling.bin", "one"));
    ASSERT_TRUE(SendFile(*peer, "fifo.bin", "two"));
    ASSERT_TRUE(WaitUntil([&] { return Count(listener->OutputText(), kFinishedOk + "\n") == 2; }))
        << listener->Transcript();
    EXPECT_EQ(ReadAll(InboxFile("dangling (1).bin")), "one");
    EXPECT_EQ(ReadAll(InboxFile("fifo (1).bin")), "two");
    listener->Terminate();
    ASSERT_TRUE(listener->WaitForExit());

    // Replacing: the link itself goes, the file it named stays as it was.
    ASSERT_EQ(::symlink(target.c_str(), InboxFile("linked.bin").c_str()), 0);
    listener = bench_.StartKeptListener(port, {"--overwrite"});
    peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(SendFile(*peer, "linked.bin", "three"));
    ASSERT_TRUE(listener->WaitForLine(kFinishedOk)) << listener->Transcript();
    EXPECT_EQ(ReadAll(InboxFile("linked.bin")), "three");
    EXPECT_EQ(ReadAll(target), "precious");
    EXPECT_FALSE(Exists(landed));
    listener->Terminate();
    ASSERT_TRUE(listener->WaitForExit());
}

TEST_F(HostileRows, KeyPartsOfMegabytesCostTheListenerNoMoreThanTheirBound) {
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    const std::unique_ptr<TRawPeer> peer = TRawPeer::Connect(port.toUShort());
    ASSERT_NE(peer, nullptr);
    ASSERT_TRUE(peer->ReceivePublicKey());
    const int64_t before = ResidentKiB(listener->ProcessId());
    const std::size_t mark = listener->OutputLines().size();
    bool open = peer->SendFrame("60");
    const std::string digits(1 << 20, '7');
    for (int part = 0; open && part < 60; ++part) {
        open = peer->SendBytes(std::to_string(peer->sentFrames() + 1) + "?");
        for (int megabyte = 0; open && megabyte < 15; ++megabyte) open = peer->SendBytes(digits);
        open = open && peer->SendBytes("=2"s + '\0');
    }
    EXPECT_FALSE(open) << "the listener took a 15 MB key part";
    EXPECT_TRUE(peer->WaitForClose());
    std::vector<std::string> expected = {"Peer sent more than 64 KiB without a frame end", "Client disconnected",
                                         "Disconnected"};
    Append(expected, ListenerRestartLines(port.toStdString()));
    ASSERT_TRUE(WaitForLineFrom(*listener, mark, expected.back())) << listener->Transcript();
    EXPECT_EQ(LinesFrom(*listener, mark), expected);
    const int64_t peak = PeakResidentKiB(listener->ProcessId());
    std::printf("[  MEMORY  ] megabyte key parts: resident %lld KiB before, peak %lld KiB\n",
                static_cast<long long>(before), static_cast<long long>(peak));
    EXPECT_LT(peak - before, 32 * 1024);
}

TEST_F(HostileRows, AKeyExchangeWhosePeerLeftNeverLandsOnTheNextPeer) {
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port);
    const std::unique_ptr<TRawPeer> first = TRawPeer::Connect(port.toUShort());
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(first->ReceivePublicKey());
    ASSERT_TRUE(first->SendKeyParts(first->DistinctKeyParts(1024)));
    first->Close();
    ASSERT_TRUE(WaitForLineFrom(*listener, 0, "Client disconnected")) << listener->Transcript();
    const std::unique_ptr<TRawPeer> next = TRawPeer::Connect(port.toUShort());
    ASSERT_NE(next, nullptr);
    ASSERT_TRUE(next->ReceivePublicKey());
    // The first peer's decryption, if it ends now, answers no one.
    Pause(std::chrono::milliseconds(500));
    EXPECT_FALSE(listener->HasLine("Decrypted AES key ok")) << listener->Transcript();
    EXPECT_FALSE(next->ReadFrame(std::chrono::milliseconds(200)).has_value());
    ASSERT_TRUE(next->SendKeyParts(next->EncryptedKeyParts()));
    ASSERT_TRUE(next->WaitForAcknowledge()) << listener->Transcript();
    ASSERT_TRUE(next->SendEncrypted("meant for the listener"));
    ASSERT_TRUE(listener->WaitForLine([](const std::string& line) {
        return IsChatLine(line, "PEER", "meant for the listener");
    })) << listener->Transcript();
    EXPECT_EQ(Count(listener->OutputText(), "** HANDSHAKING COMPLETE **\n"), 1u);
}

TEST_F(HostileRows, ATraceFileNamePlantedAsALinkIsRefusedAndNothingIsWrittenThroughIt) {
    QTemporaryDir outside;
    const std::string landed = outside.filePath(QStringLiteral("landed")).toStdString();
    const std::string trace = QDir(bench_.folder()).filePath(QStringLiteral("quellmere.log")).toStdString();
    ASSERT_EQ(::symlink(landed.c_str(), trace.c_str()), 0);
    QString port;
    const std::unique_ptr<TChildProcess> listener = bench_.StartKeptListener(port, {"--log"});
    EXPECT_NE(listener->ErrorText().find("File access denied\n"), std::string::npos) << listener->Transcript();
    const std::unique_ptr<TRawPeer> peer = TRawPeer::ConnectKeyed(port.toUShort());
    ASSERT_NE(peer, nullptr);
    EXPECT_FALSE(Exists(landed));
    listener->Terminate();
    ASSERT_TRUE(listener->WaitForExit());
}
