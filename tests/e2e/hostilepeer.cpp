#include "hostilepeer.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>

#include "testbed.h"

std::string ReceivingStopped(const std::string& path, int64_t done, int64_t total) {
    return "Receiving " + path + " stopped with the connection after " + std::to_string(done) + " of " +
           std::to_string(total) + " bytes";
}

std::vector<std::string> ListenerPeerLines() {
    return {"Connection from localhost", "Sending our public key",
            "Sent public key to localhost, receiving AES key, please wait..."};
}

std::vector<std::string> ListenerKeyDoneLines() {
    return {"Received encrypted AES key...please wait whilst decrypting", "Decrypted AES key ok",
            "** HANDSHAKING COMPLETE **"};
}

std::vector<std::string> ListenerRestartLines(const std::string& port) {
    return {"Generating 512 bit RSA key...please wait", "Generated 512 bit RSA key ok", "Listening on port " + port};
}

namespace {

int64_t StatusKiB(int64_t processId, const QByteArray& field) {
    QFile status(QStringLiteral("/proc/%1/status").arg(processId));
    if (!status.open(QIODevice::ReadOnly)) return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith(field + ':')) continue;
        bool ok = false;
        const int64_t value = line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong(&ok);
        return ok ? value : -1;
    }
    return -1;
}

}  // namespace

int64_t PeakResidentKiB(int64_t processId) { return StatusKiB(processId, "VmHWM"); }

int64_t ResidentKiB(int64_t processId) { return StatusKiB(processId, "VmRSS"); }

TTerminalBench::TTerminalBench() {
    folderPath_ = folder_.path();
    settings_ = WriteSettings(folderPath_, QStringLiteral("quellmere.conf"), {"debug=false"});
    QDir(folderPath_).mkdir(QStringLiteral("inbox"));
    inbox_ = QDir(folderPath_).filePath(QStringLiteral("inbox"));
}

std::unique_ptr<TChildProcess> TTerminalBench::Start(const QStringList& arguments) const {
    auto child = std::make_unique<TChildProcess>(TerminalProgram(), arguments + QStringList{"--config", settings_});
    child->SetWorkingFolder(folderPath_);
    EXPECT_TRUE(child->Start());
    return child;
}

std::unique_ptr<TChildProcess> TTerminalBench::StartKeptListener(QString& port, const QStringList& more) const {
    port = PortText(FreePort());
    auto listener =
        Start(QStringList{"listen", "--port", port, "--key-size", "512", "--keep-listening", "--accept-files", inbox_} +
              more);
    EXPECT_TRUE(WaitUntilListening(*listener, port)) << listener->Transcript();
    return listener;
}

std::unique_ptr<TChildProcess> TTerminalBench::StartConnector(uint16_t port, const QStringList& more) const {
    return Start(QStringList{"connect", "127.0.0.1", "--port", PortText(port), "--accept-files", inbox_} + more);
}

std::vector<std::string> LinesFrom(const TChildProcess& child, std::size_t from) {
    return Slice(child.OutputLines(), from, child.OutputLines().size());
}

bool WaitForLineFrom(TChildProcess& child, std::size_t from, const std::string& line) {
    const auto seen = [&] {
        const std::vector<std::string> lines = LinesFrom(child, from);
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    };
    // A program that has ended says nothing more.
    WaitUntil([&] { return seen() || !child.Running(); });
    return seen();
}

void ExpectRealConversation(TTerminalBench& bench, TChildProcess& listener, const QString& port) {
    const std::size_t mark = listener.OutputLines().size();
    const std::unique_ptr<TChildProcess> next = bench.StartConnector(port.toUShort());
    ASSERT_TRUE(next->WaitForLine("** HANDSHAKING COMPLETE **")) << next->Transcript() << listener.Transcript();
    ASSERT_TRUE(WaitForLineFrom(listener, mark, "** HANDSHAKING COMPLETE **")) << listener.Transcript();
    next->Write("Hello after all that\n");
    listener.Write("Welcome, well-behaved peer\n");
    EXPECT_TRUE(listener.WaitForLine([](const std::string& l) {
        return IsChatLine(l, "PEER", "Hello after all that");
    })) << listener.Transcript();
    EXPECT_TRUE(next->WaitForLine([](const std::string& l) {
        return IsChatLine(l, "PEER", "Welcome, well-behaved peer");
    })) << next->Transcript();
    next->CloseInput();
    ASSERT_TRUE(next->WaitForExit()) << next->Transcript();
    EXPECT_EQ(next->ExitCode(), 0);
    EXPECT_EQ(next->ErrorText(), "");
    EXPECT_TRUE(WaitForLineFrom(listener, mark, "Client disconnected")) << listener.Transcript();
    EXPECT_TRUE(listener.Running());
}
