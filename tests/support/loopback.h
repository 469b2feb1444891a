#pragma once
// For tests of components that talk over 127.0.0.1 and work by events.

#include <QCoreApplication>
#include <QTcpServer>

// A port nobody listens on right now.
inline int FreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) return 0;
    return probe.serverPort();
}

// Lets queued work (deferred releases and the like) run.
inline void Settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}
