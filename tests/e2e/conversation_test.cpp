// Two terminal programs hold one conversation over 127.0.0.1: both type all
// their lines at once, before the key exchange is even done.

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "childprocess.h"
#include "testbed.h"

namespace {

// Distinct and numbered, of many lengths so frames end everywhere in a read.
std::vector<std::string> NumberedLines(const std::string& speaker, std::size_t count) {
    std::vector<std::string> lines;
    for (std::size_t number = 1; number <= count; ++number) {
        const std::string digits = std::to_string(number);
        const std::string filler(number % 97, static_cast<char>('a' + number % 26));
        lines.push_back(speaker + " line " + std::string(5 - digits.size(), '0') + digits + " " + filler);
    }
    return lines;
}

std::string AsInput(const std::vector<std::string>& lines) {
    std::string input;
    for (const std::string& line : lines) input += line + '\n';
    return input;
}

// Both sides type COUNT lines at once; every line must arrive once, in
// order, and both must then leave cleanly.
void ConverseAtOnce(std::size_t count) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString settings = WriteSettings(folder.path(), QStringLiteral("quellmere.conf"), {"debug=false"});
    const QString port = PortText(FreePort());
    const std::vector<std::string> listenerLines = NumberedLines("listener", count);
    const std::vector<std::string> connectorLines = NumberedLines("connector", count);
    const std::vector<std::string> listenerHandshake = ListenerHandshake(port.toStdString());
    const std::vector<std::string> connectorHandshake = ConnectorHandshake(port.toStdString());

    TChildProcess listener(TerminalProgram(), {"listen", "--port", port, "--key-size", "512", "--config", settings});
    listener.SetWorkingFolder(folder.path());
    ASSERT_TRUE(listener.Start());
    listener.Write(AsInput(listenerLines));
    ASSERT_TRUE(WaitUntilListening(listener, port)) << listener.Transcript();

    TChildProcess connector(TerminalProgram(), {"connect", "localhost", "--port", port, "--config", settings});
    connector.SetWorkingFolder(folder.path());
    ASSERT_TRUE(connector.Start());
    connector.Write(AsInput(connectorLines));

    // Counting lines is cheap enough to ask after every read of the pipes.
    const auto allSaidAndHeard = [&] {
        return listener.OutputLines().size() >= listenerHandshake.size() + 2 * count &&
               connector.OutputLines().size() >= connectorHandshake.size() + 2 * count;
    };
    const auto linesSoFar = [&] {
        return static_cast<int64_t>(listener.OutputLines().size() + connector.OutputLines().size());
    };
    ASSERT_TRUE(WaitUntilWhileChanging(allSaidAndHeard, linesSoFar)) << listener.Transcript() << connector.Transcript();

    EXPECT_EQ(ChatTexts(listener.OutputLines(), "PEER"), connectorLines);
    EXPECT_EQ(ChatTexts(connector.OutputLines(), "PEER"), listenerLines);
    EXPECT_EQ(ChatTexts(listener.OutputLines(), "YOU"), listenerLines);
    EXPECT_EQ(ChatTexts(connector.OutputLines(), "YOU"), connectorLines);
    EXPECT_EQ(Slice(listener.OutputLines(), 0, listenerHandshake.size()), listenerHandshake);
    EXPECT_EQ(Slice(connector.OutputLines(), 0, connectorHandshake.size()), connectorHandshake);
    // Nothing but chat after the handshake.
    EXPECT_EQ(listener.OutputLines().size(), listenerHandshake.size() + 2 * count);
    EXPECT_EQ(connector.OutputLines().size(), connectorHandshake.size() + 2 * count);

    // The connector's input ends: it hangs up and leaves; the listener, whose
    // input stays open, leaves because its peer did.
    connector.CloseInput();
    ASSERT_TRUE(connector.WaitForExit()) << connector.Transcript();
    EXPECT_EQ(connector.ExitCode(), 0);
    ASSERT_FALSE(connector.OutputLines().empty());
    EXPECT_EQ(connector.OutputLines().back(), "Disconnected");
    EXPECT_EQ(connector.OutputLines().size(), connectorHandshake.size() + 2 * count + 1);
    EXPECT_EQ(connector.ErrorText(), "");

    ASSERT_TRUE(listener.WaitForExit()) << listener.Transcript();
    EXPECT_EQ(listener.ExitCode(), 0);
    const std::vector<std::string> listenerEnd = {"Client disconnected", "Disconnected"};
    EXPECT_EQ(Slice(listener.OutputLines(), listenerHandshake.size() + 2 * count, 3), listenerEnd);
    EXPECT_EQ(listener.ErrorText(), kWeakKeyWarning);
}

}  // namespace

TEST(TwoTerminals, ThousandLinesEachWayAtOnceArriveWholeInOrderThenBothLeave) { ConverseAtOnce(1000); }

TEST(TwoTerminals, TenThousandLinesEachWayAtOnceArriveWholeInOrderThenBothLeave) { ConverseAtOnce(10000); }
