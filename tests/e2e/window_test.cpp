// The window and the terminal program talk to each other, each in both roles,
// on a private Xvfb display. The window's line is typed key by key into its
// anti-keylogging field while the field injects garbage keystrokes: the peer
// must receive exactly what was typed.

#include <gtest/gtest.h>

#include <memory>

#include "childprocess.h"
#include "testbed.h"
#include "windowbench.h"

namespace {

using namespace std::chrono_literals;

const std::string kTerminalLine = "Hello from the terminal: grüße!";
const std::string kTypedLine = "Typed in the Window, 42 times!";

class WindowAndTerminal : public TWindowBench {
protected:
    std::unique_ptr<TChildProcess> StartTerminal(const QStringList& arguments) {
        auto terminal =
            std::make_unique<TChildProcess>(TerminalProgram(), arguments + QStringList{"--config", terminalSettings_});
        terminal->SetWorkingFolder(folder_.path());
        EXPECT_TRUE(terminal->Start());
        // Input stays open: the terminal must not hang up on its own.
        terminal->Write(kTerminalLine + "\n");
        return terminal;
    }

    // Alt+L, and OK to the warning that a 512-bit key is weak.
    void ListenInWindow(const QString& window, const QString& port) {
        ASSERT_NO_FATAL_FAILURE(PressKeys(window, QStringLiteral("alt+l")));
        const QString warning = WaitForDialog(QStringLiteral("Warning"));
        ASSERT_FALSE(warning.isEmpty());
        ASSERT_NO_FATAL_FAILURE(PressKeys(warning, QStringLiteral("Return")));
        ASSERT_TRUE(WaitUntilListening(*window_, port)) << window_->Transcript();
    }

    // Slowly, so that the garbage each key brings goes between the keys.
    void TypeLineInWindow(const QString& window, const std::string& line) {
        ASSERT_TRUE(desktop_.Xdotool({"windowfocus", "--sync", window}));
        ASSERT_TRUE(desktop_.Xdotool({"mousemove", "--window", window, "300", "150", "click", "1"}));
        Pause(300ms);
        ASSERT_TRUE(desktop_.Xdotool({"type", "--delay", "150", QString::fromStdString(line)}));
        ASSERT_TRUE(desktop_.Xdotool({"key", "Return"}));
    }

    // Both ends finished the key exchange, and the terminal's line arrived.
    void ExpectConversationUp(TChildProcess& terminal) {
        ASSERT_TRUE(window_->WaitForLine("** HANDSHAKING COMPLETE **")) << window_->Transcript();
        ASSERT_TRUE(terminal.WaitForLine("** HANDSHAKING COMPLETE **")) << terminal.Transcript();
        ASSERT_TRUE(terminal.WaitForLine([](const std::string& l) { return IsChatLine(l, "YOU", kTerminalLine); }))
            << terminal.Transcript();
        ASSERT_TRUE(window_->WaitForLine([](const std::string& l) { return IsChatLine(l, "PEER", kTerminalLine); }))
            << window_->Transcript();
    }

    // The first line the terminal receives must be the typed one, no garbage in it.
    void ExpectTypedLineArrives(const QString& window, TChildProcess& terminal) {
        ASSERT_NO_FATAL_FAILURE(TypeLineInWindow(window, kTypedLine));
        const std::optional<std::string> received = terminal.WaitForLine([](const std::string& line) {
            const std::optional<TChatLine> chat = ParseChatLine(line);
            return chat && chat->speaker == "PEER";
        });
        ASSERT_TRUE(received.has_value()) << terminal.Transcript() << window_->Transcript();
        EXPECT_EQ(ParseChatLine(*received)->text, kTypedLine);
        EXPECT_TRUE(window_->WaitForLine([](const std::string& line) { return IsChatLine(line, "YOU", kTypedLine); }))
            << window_->Transcript();
    }
};

}  // namespace

TEST_F(WindowAndTerminal, WindowListensTerminalConnects) {
    const QString port = PortText(FreePort());
    const QString window = StartWindow({"antikeylogging=true", "RsaKeySize=512", "listenPort=" + port});
    ASSERT_FALSE(window.isEmpty());

    ASSERT_NO_FATAL_FAILURE(ListenInWindow(window, port));

    const std::unique_ptr<TChildProcess> terminal = StartTerminal({"connect", "127.0.0.1", "--port", port});
    ASSERT_NO_FATAL_FAILURE(ExpectConversationUp(*terminal));
    ASSERT_NO_FATAL_FAILURE(ExpectTypedLineArrives(window, *terminal));

    // The window goes away: the connector's peer left, which ends it well.
    window_->Kill();
    ASSERT_TRUE(terminal->WaitForExit()) << terminal->Transcript();
    EXPECT_EQ(terminal->ExitCode(), 0);
    ASSERT_FALSE(terminal->OutputLines().empty());
    EXPECT_EQ(terminal->OutputLines().back(), "Disconnected");
    EXPECT_EQ(terminal->ErrorText(), "");
}

TEST_F(WindowAndTerminal, TerminalListensWindowConnects) {
    const QString port = PortText(FreePort());
    const std::unique_ptr<TChildProcess> terminal = StartTerminal({"listen", "--port", port, "--key-size", "512"});
    ASSERT_TRUE(WaitUntilListening(*terminal, port)) << terminal->Transcript();

    const QString window =
        StartWindow({"antikeylogging=true", "saveHost=true", "remoteHost=127.0.0.1", "remotePort=" + port});
    ASSERT_FALSE(window.isEmpty());
    ASSERT_NO_FATAL_FAILURE(PressKeys(window, QStringLiteral("alt+c")));
    ASSERT_NO_FATAL_FAILURE(ExpectConversationUp(*terminal));
    ASSERT_NO_FATAL_FAILURE(ExpectTypedLineArrives(window, *terminal));

    // The window goes away: the listener logs its client leaving and ends well.
    window_->Kill();
    ASSERT_TRUE(terminal->WaitForExit()) << terminal->Transcript();
    EXPECT_EQ(terminal->ExitCode(), 0);
    const std::vector<std::string>& lines = terminal->OutputLines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Client disconnected", "Disconnected"}));
    EXPECT_EQ(terminal->ErrorText(), kWeakKeyWarning);
}

// A thousand lines each way while both type at once: the terminal's all at
// once, the window's key by key (its field without the garbage keystrokes, so
// the typing may be fast).
TEST_F(WindowAndTerminal, ThousandLinesEachWayArriveWholeInOrder) {
    constexpr int kLineCount = 1000;
    std::vector<std::string> windowLines;
    std::vector<std::string> terminalLines;
    std::string typed;
    std::string terminalInput;
    for (int number = 1; number <= kLineCount; ++number) {
        const std::string digits = std::to_string(number);
        windowLines.push_back("w" + std::string(4 - digits.size(), '0') + digits);
        terminalLines.push_back("terminal line " + digits + std::string(number % 40, '.'));
        typed += windowLines.back() + "\r";  // xdotool types "\r" as Return, "\n" as Linefeed
        terminalInput += terminalLines.back() + "\n";
    }
    const QString port = PortText(FreePort());
    const QString window = StartWindow({"antikeylogging=false", "RsaKeySize=512", "listenPort=" + port});
    ASSERT_FALSE(window.isEmpty());
    ASSERT_NO_FATAL_FAILURE(ListenInWindow(window, port));

    const std::unique_ptr<TChildProcess> terminal = StartTerminal({"connect", "127.0.0.1", "--port", port});
    ASSERT_NO_FATAL_FAILURE(ExpectConversationUp(*terminal));
    terminal->Write(terminalInput);
    ASSERT_TRUE(desktop_.Xdotool({"windowfocus", "--sync", window}));
    ASSERT_TRUE(desktop_.Xdotool({"mousemove", "--window", window, "300", "150", "click", "1"}));
    Pause(300ms);
    ASSERT_TRUE(desktop_.Xdotool({"type", "--delay", "2", QString::fromStdString(typed)}));

    // The terminal's first line went out before the burst.
    terminalLines.insert(terminalLines.begin(), kTerminalLine);
    const auto chatCount = [](const TChildProcess& side, const std::string& speaker) {
        return ChatTexts(side.OutputLines(), speaker).size();
    };
    const auto allArrived = [&] {
        return chatCount(*window_, "PEER") >= terminalLines.size() &&
               chatCount(*terminal, "PEER") >= windowLines.size();
    };
    const auto progress = [&] {
        return static_cast<int64_t>(window_->OutputLines().size() + terminal->OutputLines().size());
    };
    ASSERT_TRUE(WaitUntilWhileChanging(allArrived, progress)) << terminal->Transcript() << window_->Transcript();
    EXPECT_EQ(ChatTexts(terminal->OutputLines(), "PEER"), windowLines);
    EXPECT_EQ(ChatTexts(window_->OutputLines(), "YOU"), windowLines);
    EXPECT_EQ(ChatTexts(window_->OutputLines(), "PEER"), terminalLines);
    EXPECT_EQ(ChatTexts(terminal->OutputLines(), "YOU"), terminalLines);
}
