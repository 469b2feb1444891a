// What leaks: of two programs in one conversation only one shows the protocol
// details. The session key and the key parts may appear in its detail lines
// and nowhere else, and neither program may leave its memory in a core file.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "filecontent.h"
#include "testbed.h"

namespace {

const std::string kKeyLinePrefix = "AES key:";
const std::string kKeyPartLinePrefix = "Read AES key part ";

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The detail lines of the debug side that carry key material by design.
bool IsKeyDebugLine(const std::string& line) {
    return StartsWith(line, kKeyLinePrefix) || StartsWith(line, kKeyPartLinePrefix) ||
           StartsWith(line, "Sending N: ") || StartsWith(line, "Sending E: ");
}

// Every file under FOLDER, as one text per file.
std::vector<std::string> FolderContents(const QString& folder) {
    std::vector<std::string> contents;
    QDirIterator files(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly)) contents.push_back(file.readAll().toStdString());
    }
    return contents;
}

bool Contains(const std::string& text, const std::string& secret) { return text.find(secret) != std::string::npos; }

// "Max core file size  SOFT  HARD  units" from /proc/PID/limits.
std::string CoreLimitLine(int64_t processId) {
    QFile limits(QStringLiteral("/proc/%1/limits").arg(processId));
    if (!limits.open(QIODevice::ReadOnly)) return {};
    for (const QByteArray& line : limits.readAll().split('\n'))
        if (line.startsWith("Max core file size")) return line.simplified().toStdString();
    return {};
}

void ExpectNoCoreDumps(const TChildProcess& child) {
    EXPECT_EQ(CoreLimitLine(child.ProcessId()), "Max core file size 0 0 bytes");
#if defined(__SANITIZE_ADDRESS__)
    // The sanitised build stays dumpable for its leak checker; only the limit protects it.
#else
    // A process that is not dumpable has its /proc entries owned by root.
    struct stat status {};
    ASSERT_EQ(::stat(QStringLiteral("/proc/%1/status").arg(child.ProcessId()).toLocal8Bit().constData(), &status), 0);
    EXPECT_EQ(status.st_uid, 0u);
#endif
}

}  // namespace

TEST(Secrets, KeyMaterialShowsOnlyInTheDebugSidesDetailLines) {
    QTemporaryDir listenerFolder;
    QTemporaryDir connectorFolder;
    ASSERT_TRUE(listenerFolder.isValid() && connectorFolder.isValid());
    const QString listenerSettings = WriteSettings(listenerFolder.path(), "quellmere.conf", {"debug=false"});
    const QString connectorSettings = WriteSettings(connectorFolder.path(), "quellmere.conf", {"debug=false"});
    QDir(listenerFolder.path()).mkdir("inbox");
    const QString inbox = QDir(listenerFolder.path()).filePath("inbox");
    const QString sent = QDir(connectorFolder.path()).filePath("small.bin");
    WriteRandomFile(sent, 3000, 7);
    const QString port = PortText(FreePort());

    TChildProcess listener(TerminalProgram(), {"listen", "--port", port, "--key-size", "512", "--debug",
                                               "--accept-files", inbox, "--config", listenerSettings});
    listener.SetWorkingFolder(listenerFolder.path());
    ASSERT_TRUE(listener.Start());
    ASSERT_TRUE(WaitUntilListening(listener, port)) << listener.Transcript();
    TChildProcess connector(TerminalProgram(),
                            {"connect", "127.0.0.1", "--port", port, "--send", sent, "--config", connectorSettings});
    connector.SetWorkingFolder(connectorFolder.path());
    ASSERT_TRUE(connector.Start());

    ASSERT_TRUE(listener.WaitForLine(kFinishedOk)) << listener.Transcript() << connector.Transcript();
    listener.Write("from the debug side\n");
    connector.Write("from the quiet side\n");
    ASSERT_TRUE(listener.WaitForLine([](const std::string& l) { return IsChatLine(l, "PEER", "from the quiet side"); }))
        << listener.Transcript();
    ASSERT_TRUE(connector.WaitForLine([](const std::string& l) {
        return IsChatLine(l, "PEER", "from the debug side");
    })) << connector.Transcript();
    ExpectNoCoreDumps(listener);
    ExpectNoCoreDumps(connector);
    connector.CloseInput();
    ASSERT_TRUE(connector.WaitForExit()) << connector.Transcript();
    ASSERT_TRUE(listener.WaitForExit()) << listener.Transcript();
    EXPECT_EQ(FileSha256(inbox + "/small.bin"), FileSha256(sent));

    // The key, from the debug side's own account of it.
    const std::optional<std::string> keyLine =
        listener.WaitForLine([](const std::string& l) { return StartsWith(l, kKeyLinePrefix); });
    ASSERT_TRUE(keyLine.has_value()) << listener.Transcript();
    const std::string sessionKey = keyLine->substr(kKeyLinePrefix.size());
    ASSERT_EQ(sessionKey.size(), 32u);
    std::vector<std::string> keyParts;
    for (const std::string& line : listener.OutputLines())
        if (StartsWith(line, kKeyPartLinePrefix)) keyParts.push_back(line.substr(line.find('=') + 1));
    ASSERT_EQ(keyParts.size(), 32u) << listener.Transcript();

    // The quiet side says nothing of it.
    const std::string quiet = connector.OutputText() + connector.ErrorText();
    EXPECT_FALSE(Contains(quiet, sessionKey)) << connector.Transcript();
    for (const std::string& part : keyParts) EXPECT_FALSE(Contains(quiet, part)) << part;
    // The debug side only where it means to.
    for (const std::string& line : listener.OutputLines()) {
        if (IsKeyDebugLine(line)) continue;
        EXPECT_FALSE(Contains(line, sessionKey)) << line;
        for (const std::string& part : keyParts) EXPECT_FALSE(Contains(line, part)) << line;
    }
    EXPECT_FALSE(Contains(listener.ErrorText(), sessionKey));
    for (const std::string& part : keyParts) EXPECT_FALSE(Contains(listener.ErrorText(), part));
    // Nor any file either of them left.
    std::vector<std::string> files = FolderContents(listenerFolder.path());
    const std::vector<std::string> connectorFiles = FolderContents(connectorFolder.path());
    files.insert(files.end(), connectorFiles.begin(), connectorFiles.end());
    for (const std::string& content : files) {
        EXPECT_FALSE(Contains(content, sessionKey));
        for (const std::string& part : keyParts) EXPECT_FALSE(Contains(content, part));
    }
}
