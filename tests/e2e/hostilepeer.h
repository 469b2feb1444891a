#pragma once
// What the hostile-peer tests share: the terminal program in either role
// against a raw peer, the lines each side logs around what the raw peer
// does, and the program's memory as the system counts it.

#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "childprocess.h"
#include "rawpeer.h"

// "Receiving PATH stopped with the connection after DONE of TOTAL bytes".
std::string ReceivingStopped(const std::string& path, int64_t done, int64_t total);

// The lines of a listener from "Connection from" to the end of its key exchange.
std::vector<std::string> ListenerPeerLines();
std::vector<std::string> ListenerKeyDoneLines();
// A listener that dropped its peer for a protocol error listens afresh.
std::vector<std::string> ListenerRestartLines(const std::string& port);

// From /proc/PID/status, in KiB; -1 when unreadable.
int64_t PeakResidentKiB(int64_t processId);
int64_t ResidentKiB(int64_t processId);

// A folder with a settings file and an inbox, and the terminal program started in it.
class TTerminalBench {
public:
    TTerminalBench();
    const QString& folder() const { return folderPath_; }
    const QString& inbox() const { return inbox_; }
    std::string InboxPath(const std::string& name) const { return inbox_.toStdString() + "/" + name; }
    // Standard input stays open: the program leaves for its own reasons.
    std::unique_ptr<TChildProcess> Start(const QStringList& arguments) const;
    // listen --keep-listening on a free port, files accepted, until "Listening on port".
    std::unique_ptr<TChildProcess> StartKeptListener(QString& port, const QStringList& more = {}) const;
    std::unique_ptr<TChildProcess> StartConnector(uint16_t port, const QStringList& more = {}) const;

private:
    QTemporaryDir folder_;
    QString folderPath_;
    QString settings_;
    QString inbox_;
};

inline void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

// The lines the program logged from FROM on.
std::vector<std::string> LinesFrom(const TChildProcess& child, std::size_t from);
// Waits for LINE among the lines from FROM on.
bool WaitForLineFrom(TChildProcess& child, std::size_t from, const std::string& line);
// A real connector holds a conversation with a kept listener: a line each way, then it leaves.
void ExpectRealConversation(TTerminalBench& bench, TChildProcess& listener, const QString& port);
