#include "cli/stdinreader.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

// Whether poll() tells anything about the descriptor: regular files and
// devices such as /dev/null are always "readable", and epoll refuses them.
bool IsWatchable(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return false;
    return S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode) || isatty(fd) == 1;
}

}  // namespace

TStdinReader::TStdinReader(int fd, TLineHandler onLine, TEndHandler onEnd)
    : fd_(fd), onLine_(std::move(onLine)), onEnd_(std::move(onEnd)) {}

TStdinReader::~TStdinReader() = default;

void TStdinReader::Start() {
    if (IsWatchable(fd_)) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadChunk(); });
        return;
    }
    chunkTimer_ = std::make_unique<QTimer>();
    chunkTimer_->setInterval(0);
    QObject::connect(chunkTimer_.get(), &QTimer::timeout, [this] { ReadChunk(); });
    chunkTimer_->start();
}

void TStdinReader::ReadChunk() {
    if (ended_) return;
    char buffer[kChunkBytes];
    const ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (count <= 0) {
        // A read error ends the input as the end of the file does.
        End();
        return;
    }
    for (const std::string& line : lines_.Feed(std::string_view(buffer, static_cast<std::size_t>(count))))
        onLine_(line);
}

void TStdinReader::End() {
    ended_ = true;
    if (notifier_) notifier_->setEnabled(false);
    if (chunkTimer_) chunkTimer_->stop();
    if (std::optional<std::string> last = lines_.Finish()) onLine_(*last);
    onEnd_();
}
