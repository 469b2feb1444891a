// How the terminal program fails: nobody to connect to, a port taken, a
// wrong option, and a peer that does not speak the protocol.

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "childprocess.h"
#include "testbed.h"

namespace {

class TerminalFailures : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        settings_ = WriteSettings(folder_.path(), QStringLiteral("quellmere.conf"), {QStringLiteral("debug=false")});
    }

    // Standard input stays open: the program must end for its own reasons.
    std::unique_ptr<TChildProcess> Started(const QStringList& arguments) {
        auto child = std::make_unique<TChildProcess>(TerminalProgram(), arguments + QStringList{"--config", settings_});
        child->SetWorkingFolder(folder_.path());
        EXPECT_TRUE(child->Start());
        return child;
    }

    QTemporaryDir folder_;
    QString settings_;
};

}  // namespace

TEST_F(TerminalFailures, ConnectingWhereNobodyListensEndsWithOne) {
    const std::unique_ptr<TChildProcess> connector = Started({"connect", "127.0.0.1", "--port", PortText(FreePort())});
    ASSERT_TRUE(connector->WaitForExit()) << connector->Transcript();
    EXPECT_EQ(connector->ExitCode(), 1);
    EXPECT_EQ(connector->OutputText(), "Socket error: 111\n");
    EXPECT_EQ(connector->ErrorText(), "Asynchronous socket error 111\n");
}

TEST_F(TerminalFailures, ListeningOnATakenPortEndsWithOneAndTheBindError) {
    QTcpServer occupant;
    ASSERT_TRUE(occupant.listen(QHostAddress::AnyIPv4, 0));
    const std::unique_ptr<TChildProcess> listener =
        Started({"listen", "--port", PortText(occupant.serverPort()), "--key-size", "512"});
    ASSERT_TRUE(listener->WaitForExit()) << listener->Transcript();
    EXPECT_EQ(listener->ExitCode(), 1);
    EXPECT_EQ(listener->OutputText(), "Generating 512 bit RSA key...please wait\nGenerated 512 bit RSA key ok\n");
    EXPECT_EQ(listener->ErrorText(),
              kWeakKeyWarning + "Windows socket error: Address already in use (98), on API 'bind'\n");
}

TEST_F(TerminalFailures, UnknownOptionEndsWithTwoAndTheUsage) {
    const TFinishedRun help = RunToEnd(TerminalProgram(), {"--help"});
    ASSERT_TRUE(help.exited);
    EXPECT_EQ(help.exitCode, 0);
    ASSERT_EQ(help.output.rfind("Usage:\n", 0), 0u) << help.output;

    const TFinishedRun run = RunToEnd(TerminalProgram(), {"listen", "--bogus"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.errors, "quellmere-cli: unknown option '--bogus'\n" + help.output);
}

TEST_F(TerminalFailures, GarbageFromThePeerEndsTheListenerWithOne) {
    const QString port = PortText(FreePort());
    const std::unique_ptr<TChildProcess> listener = Started({"listen", "--port", port, "--key-size", "512"});
    ASSERT_TRUE(WaitUntilListening(*listener, port)) << listener->Transcript();

    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, port.toUShort());
    WaitUntil([&] {
        return peer.state() == QAbstractSocket::ConnectedState || peer.state() == QAbstractSocket::UnconnectedState;
    });
    ASSERT_EQ(peer.state(), QAbstractSocket::ConnectedState) << peer.errorString().toStdString();
    ASSERT_TRUE(listener->WaitForLine("Connection from localhost")) << listener->Transcript();
    peer.write(QByteArray("7?bad\0", 6));

    ASSERT_TRUE(listener->WaitForLine("Expected sequence 1 but received 7")) << listener->Transcript();
    ASSERT_TRUE(listener->WaitForExit()) << listener->Transcript();
    EXPECT_EQ(listener->ExitCode(), 1);
    EXPECT_EQ(listener->ErrorText(), kWeakKeyWarning);
}
