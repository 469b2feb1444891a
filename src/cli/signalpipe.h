#pragma once
// SIGINT and SIGTERM as events of the loop: the handler only writes a byte
// into a socket pair; the loop reads it and calls onSignal. One at a time;
// the previous handlers come back on destruction.

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

class TSignalPipe {
public:
    explicit TSignalPipe(std::function<void()> onSignal);
    ~TSignalPipe();
    TSignalPipe(const TSignalPipe&) = delete;
    TSignalPipe& operator=(const TSignalPipe&) = delete;

private:
    void Drain();

    std::function<void()> onSignal_;
    int writeEnd_ = -1;
    int readEnd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    struct sigaction previousInterrupt_ {};
    struct sigaction previousTerminate_ {};
};
