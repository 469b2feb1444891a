#include "cli/signalpipe.h"

#include <QSocketNotifier>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A signal handler can reach nothing but a static.
volatile std::sig_atomic_t signalWriteEnd = -1;

void WriteSignalByte(int) {
    const int savedErrno = errno;
    const char byte = 1;
    // The pipe may be full when signals pile up; one byte waiting is enough.
    [[maybe_unused]] const ssize_t written = write(signalWriteEnd, &byte, 1);
    errno = savedErrno;
}

void MakeNonBlockingAndPrivate(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace

TSignalPipe::TSignalPipe(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
    if (signalWriteEnd != -1) throw std::logic_error("only one TSignalPipe at a time");
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) throw std::runtime_error("socketpair failed");
    writeEnd_ = ends[0];
    readEnd_ = ends[1];
    MakeNonBlockingAndPrivate(writeEnd_);
    MakeNonBlockingAndPrivate(readEnd_);
    signalWriteEnd = writeEnd_;

    notifier_ = std::make_unique<QSocketNotifier>(readEnd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Drain(); });

    struct sigaction action {};
    action.sa_handler = WriteSignalByte;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInterrupt_);
    sigaction(SIGTERM, &action, &previousTerminate_);
}

TSignalPipe::~TSignalPipe() {
    sigaction(SIGINT, &previousInterrupt_, nullptr);
    sigaction(SIGTERM, &previousTerminate_, nullptr);
    notifier_.reset();
    signalWriteEnd = -1;
    close(writeEnd_);
    close(readEnd_);
}

void TSignalPipe::Drain() {
    char bytes[64];
    while (read(readEnd_, bytes, sizeof bytes) > 0) {}
    if (onSignal_) onSignal_();
}
