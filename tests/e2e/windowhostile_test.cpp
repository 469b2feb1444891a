// What a hostile peer shows the window, on a private Xvfb display: a
// megabyte line must not freeze it, an offer named in markup is asked as
// its characters (no heading, no link, no image read from disk), lines the
// peer builds stay one line with their controls visible, also on the
// --echo-log output.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

#include "childprocess.h"
#include "rawpeer.h"
#include "testbed.h"
#include "windowbench.h"

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// A window that froze for this long is frozen: a live one shows a line at once.
constexpr std::chrono::milliseconds kLive{10000};

class WindowAgainstHostilePeer : public TWindowBench {
protected:
    // The window listens; a raw peer connects and agrees a key with it.
    void ConnectRawPeer(bool keyed = true) {
        port_ = PortText(FreePort());
        windowId_ = StartWindow({"antikeylogging=false", "RsaKeySize=512", "listenPort=" + port_});
        ASSERT_FALSE(windowId_.isEmpty());
        ASSERT_NO_FATAL_FAILURE(PressKeys(windowId_, QStringLiteral("alt+l")));
        const QString warning = WaitForDialog(QStringLiteral("Warning"));
        ASSERT_FALSE(warning.isEmpty());
        ASSERT_NO_FATAL_FAILURE(PressKeys(warning, QStringLiteral("Return")));
        ASSERT_TRUE(WaitUntilListening(*window_, port_)) << window_->Transcript();
        peer_ = TRawPeer::Connect(port_.toUShort());
        ASSERT_NE(peer_, nullptr);
        ASSERT_TRUE(peer_->ReceivePublicKey());
        if (keyed) {
            ASSERT_TRUE(peer_->SendKeyParts(peer_->EncryptedKeyParts()) && peer_->WaitForAcknowledge());
        }
    }

    // The window logs this line within kLive.
    void ExpectLineSoon(const std::string& line) {
        EXPECT_TRUE(window_->WaitForLine(line, kLive)) << line << "\n" << window_->Transcript().substr(0, 4000);
    }

    QString port_;
    QString windowId_;
    std::unique_ptr<TRawPeer> peer_;
};

bool IsPeerLine(const std::string& line, const std::string& text) { return IsChatLine(line, "PEER", text); }

}  // namespace

TEST_F(WindowAgainstHostilePeer, AMegabyteLineLeavesTheWindowLive) {
    ASSERT_NO_FATAL_FAILURE(ConnectRawPeer());
    ASSERT_TRUE(peer_->SendEncrypted(std::string(1 << 20, 'A')));
    ASSERT_TRUE(peer_->SendEncrypted("right behind it"));
    EXPECT_TRUE(window_->WaitForLine([](const std::string& line) { return IsPeerLine(line, "right behind it"); },
                                     kLive))
        << window_->Transcript().substr(0, 4000);
    // Still answering keys: the Disconnect key ends the conversation.
    ASSERT_NO_FATAL_FAILURE(PressKeys(windowId_, QStringLiteral("alt+d")));
    ExpectLineSoon("Disconnected");
}

TEST_F(WindowAgainstHostilePeer, AMegabyteBeforeAnyFrameEndIsCutOffAndTheWindowStaysLive) {
    ASSERT_NO_FATAL_FAILURE(ConnectRawPeer(false));
    peer_->SendBytes(std::string(1 << 20, 'A') + "?x" + '\0');
    ExpectLineSoon("Peer sent more than 64 KiB without a frame end");
    ExpectLineSoon("Disconnected");
}

TEST_F(WindowAgainstHostilePeer, ForgedLinesStayOneLineWithTheirControlsVisible) {
    ASSERT_NO_FATAL_FAILURE(ConnectRawPeer());
    ASSERT_TRUE(peer_->SendEncrypted("hi\r\nYOU  (12:00:05) : I will pay now\r** HANDSHAKING COMPLETE **\x1b[2J\xc2\x9b"));
    const std::string shown = "hi\\x0d\\x0aYOU  (12:00:05) : I will pay now\\x0d** HANDSHAKING COMPLETE **\\x1b[2J\\x9b";
    EXPECT_TRUE(window_->WaitForLine([&](const std::string& line) { return IsPeerLine(line, shown); }, kLive))
        << window_->Transcript();
    EXPECT_EQ(window_->OutputText().find('\x1b'), std::string::npos);
    EXPECT_EQ(std::count(window_->OutputLines().begin(), window_->OutputLines().end(), "** HANDSHAKING COMPLETE **"), 1);
}

TEST_F(WindowAgainstHostilePeer, AnOfferNamedInMarkupIsAskedAsTextAndItsImageNeverRead) {
    // Were the name laid out as markup, the box would read this image and wait on it.
    const QString fifo = QDir(folder_.path()).filePath(QStringLiteral("picture"));
    ASSERT_EQ(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const auto someoneReads = [&] {
        const int handle = ::open(fifo.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK);
        if (handle < 0) return false;
        ::close(handle);
        return true;
    };
    ASSERT_NO_FATAL_FAILURE(ConnectRawPeer());
    // Markup in the size: no size, nothing asked.
    ASSERT_TRUE(peer_->SendEncrypted("**FILE_START**report.pdf?1<br><h1 style=\"color:red\">Security update</h1>"));
    EXPECT_EQ(peer_->ReadDecrypted(), std::optional<std::string>("FILE_NOK"));
    ExpectLineSoon("Refused file report.pdf: its size is not a number");
    // Markup in the name: asked, as plain text.
    ASSERT_TRUE(peer_->SendEncrypted(
        "**FILE_START**<h1 style=\"color:red\">Update required<h1>Click <a href=\"x\">here<a><img src=\"picture\">?1"));
    bool read = false;
    const QString question = WaitForDialog(QStringLiteral("Confirm"));
    ASSERT_FALSE(question.isEmpty());
    WaitUntil([&] { return (read = read || someoneReads()); }, 1500ms);
    EXPECT_FALSE(read) << "the question box read the peer's image";
    ASSERT_NO_FATAL_FAILURE(PressKeys(question, QStringLiteral("alt+n")));
    EXPECT_EQ(peer_->ReadDecrypted(), std::optional<std::string>("FILE_NOK"));
}
