#pragma once
// Drives the Qt event loop in tests of components that work by events.

#include <functional>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

// Runs the event loop until done() holds; the limit only ends a hung test.
inline bool RunUntil(const std::function<bool()>& done, int limitMs = 60000) {
    QDeadlineTimer deadline(limitMs);
    QTimer wake;
    wake.start(5);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}
