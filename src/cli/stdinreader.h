#pragma once
// Lines from a file descriptor (standard input) without blocking the event
// loop: a pipe, a socket or a terminal is read when the loop says it is
// readable; a regular file or /dev/null, which the loop cannot watch, is read
// in chunks from a zero timer.

#include <functional>
#include <memory>
#include <string>

#include "cli/terminaltext.h"

class QSocketNotifier;
class QTimer;

class TStdinReader {
public:
    using TLineHandler = std::function<void(const std::string& line)>;
    using TEndHandler = std::function<void()>;

    TStdinReader(int fd, TLineHandler onLine, TEndHandler onEnd);
    ~TStdinReader();
    TStdinReader(const TStdinReader&) = delete;
    TStdinReader& operator=(const TStdinReader&) = delete;

    // Begins reading; lines and the end arrive from the event loop.
    void Start();

private:
    void ReadChunk();
    void End();

    int fd_;
    TLineHandler onLine_;
    TEndHandler onEnd_;
    TLineSplitter lines_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<QTimer> chunkTimer_;
    bool ended_ = false;
};
