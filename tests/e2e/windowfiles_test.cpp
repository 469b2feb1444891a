// Files between the window and the terminal program on a private Xvfb
// display: the window's own dialogs are answered with xdotool, the file name
// typed into Qt's file dialog and confirmed with Return.

#include <QDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "childprocess.h"
#include "filecontent.h"
#include "testbed.h"
#include "windowbench.h"

namespace {

constexpr int64_t kFileBytes = 300 * 1024;

class WindowFiles : public TWindowBench {
protected:
    void SetUp() override {
        TWindowBench::SetUp();
        port_ = PortText(FreePort());
    }

    QString PathOf(const QString& name) const { return QDir(folder_.path()).filePath(name); }

    // A listening terminal; its input stays open until the test ends it.
    void StartTerminal(const QStringList& options) {
        terminal_ = std::make_unique<TChildProcess>(
            TerminalProgram(),
            QStringList{"listen", "--port", port_, "--key-size", "512", "--config", terminalSettings_} + options);
        terminal_->SetWorkingFolder(folder_.path());
        ASSERT_TRUE(terminal_->Start());
        ASSERT_TRUE(WaitUntilListening(*terminal_, port_)) << terminal_->Transcript();
    }

    // The window calls the terminal; both finish the key exchange. Keys go
    // straight to the dialogs: no anti-keylogging garbage among them.
    void ConnectWindow() {
        windowId_ =
            StartWindow({"saveHost=true", "remoteHost=127.0.0.1", "remotePort=" + port_, "antikeylogging=false"});
        ASSERT_FALSE(windowId_.isEmpty());
        ASSERT_NO_FATAL_FAILURE(PressKeys(windowId_, QStringLiteral("alt+c")));
        ASSERT_TRUE(window_->WaitForLine("** HANDSHAKING COMPLETE **")) << window_->Transcript();
        ASSERT_TRUE(terminal_->WaitForLine("** HANDSHAKING COMPLETE **")) << terminal_->Transcript();
    }

    // Qt's file dialog: its name field has the focus; whatever it suggests
    // is replaced by the whole path, and Return takes it.
    void ChooseInFileDialog(const QString& dialog, const QString& path) {
        ASSERT_NO_FATAL_FAILURE(PressKeys(dialog, QStringLiteral("ctrl+a")));
        ASSERT_TRUE(desktop_.Xdotool({"type", "--delay", "20", path}));
        ASSERT_TRUE(desktop_.Xdotool({"key", "Return"}));
    }

    // The lines the window logged after the key exchange.
    std::vector<std::string> WindowLinesAfterHandshake() const {
        const std::vector<std::string>& lines = window_->OutputLines();
        const auto handshake = std::find(lines.begin(), lines.end(), "** HANDSHAKING COMPLETE **");
        return handshake == lines.end() ? lines : std::vector<std::string>(handshake + 1, lines.end());
    }

    // The terminal's input ends: with nothing left to do it hangs up and leaves well.
    void ExpectTerminalLeaves() {
        terminal_->CloseInput();
        ASSERT_TRUE(terminal_->WaitForExit()) << terminal_->Transcript();
        EXPECT_EQ(terminal_->ExitCode(), 0);
        EXPECT_EQ(terminal_->ErrorText(), kWeakKeyWarning);
    }

    QString port_;
    std::unique_ptr<TChildProcess> terminal_;
    QString windowId_;
};

}  // namespace

TEST_F(WindowFiles, WindowSendsAFileTheTerminalSaves) {
    const QString sent = PathOf("from-window.bin");
    WriteRandomFile(sent, kFileBytes, 7);
    QDir(folder_.path()).mkdir(QStringLiteral("inbox"));
    const QString received = PathOf("inbox/from-window.bin");
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--accept-files", PathOf("inbox")}));
    ASSERT_NO_FATAL_FAILURE(ConnectWindow());

    ASSERT_NO_FATAL_FAILURE(PressKeys(windowId_, QStringLiteral("alt+f")));
    const QString dialog = WaitForDialog(QStringLiteral("Open"));
    ASSERT_FALSE(dialog.isEmpty());
    ASSERT_NO_FATAL_FAILURE(ChooseInFileDialog(dialog, sent));

    ASSERT_TRUE(terminal_->WaitForLine(kFinishedOk)) << terminal_->Transcript() << window_->Transcript();
    ASSERT_TRUE(window_->WaitForLine("Transmitted file " + sent.toStdString())) << window_->Transcript();
    EXPECT_EQ(FileSize(received), kFileBytes);
    EXPECT_EQ(FileSha256(received), FileSha256(sent));
    EXPECT_EQ(WindowLinesAfterHandshake(), SenderLines(sent));
    EXPECT_EQ(Slice(terminal_->OutputLines(), ListenerHandshake(port_.toStdString()).size(), 3),
              ReceiverLines(received));
    ASSERT_NO_FATAL_FAILURE(ExpectTerminalLeaves());
}

TEST_F(WindowFiles, WindowSavesAFileTheTerminalSends) {
    const QString sent = PathOf("from-terminal.bin");
    WriteRandomFile(sent, kFileBytes, 8);
    const QString received = PathOf("saved-by-window.bin");
    ASSERT_NO_FATAL_FAILURE(StartTerminal({"--send", sent}));
    ASSERT_NO_FATAL_FAILURE(ConnectWindow());

    // "Peer is sending file from-terminal.bin, size=307200.  Save?"
    const QString question = WaitForDialog(QStringLiteral("Confirm"));
    ASSERT_FALSE(question.isEmpty());
    ASSERT_NO_FATAL_FAILURE(PressKeys(question, QStringLiteral("alt+y")));
    const QString dialog = WaitForDialog(QStringLiteral("Save As"));
    ASSERT_FALSE(dialog.isEmpty());
    ASSERT_NO_FATAL_FAILURE(ChooseInFileDialog(dialog, received));

    ASSERT_TRUE(window_->WaitForLine(kFinishedOk)) << window_->Transcript() << terminal_->Transcript();
    ASSERT_TRUE(terminal_->WaitForLine("Transmitted file " + sent.toStdString())) << terminal_->Transcript();
    EXPECT_EQ(FileSize(received), kFileBytes);
    EXPECT_EQ(FileSha256(received), FileSha256(sent));
    EXPECT_EQ(WindowLinesAfterHandshake(), ReceiverLines(received));
    EXPECT_EQ(Slice(terminal_->OutputLines(), ListenerHandshake(port_.toStdString()).size(), 4), SenderLines(sent));
    ASSERT_NO_FATAL_FAILURE(ExpectTerminalLeaves());
}
