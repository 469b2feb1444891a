#include "childprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <algorithm>

namespace {

constexpr int kTickMilliseconds = 20;

std::string TextOf(const QByteArray& bytes) {
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const QDeadlineTimer deadline(timeout);
    // Wakes the loop when no child says anything.
    QTimer tick;
    tick.start(kTickMilliseconds);
    while (!condition()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

bool WaitUntilWhileChanging(const std::function<bool()>& condition, const std::function<int64_t()>& progress,
                            std::chrono::milliseconds timeout) {
    int64_t lastSeen = progress();
    QDeadlineTimer stalled(timeout);
    const auto doneOrStalled = [&] {
        if (condition()) return true;
        const int64_t now = progress();
        if (now != lastSeen) {
            lastSeen = now;
            stalled.setRemainingTime(timeout);
        }
        return stalled.hasExpired();
    };
    // No deadline of its own: only a stall ends the wait.
    constexpr std::chrono::hours kNoDeadline{24 * 365};
    WaitUntil(doneOrStalled, kNoDeadline);
    return condition();
}

void Pause(std::chrono::milliseconds duration) {
    WaitUntil([] { return false; }, duration);
}

TChildProcess::TChildProcess(QString program, QStringList arguments)
    : program_(std::move(program)), arguments_(std::move(arguments)) {
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, [this] { TakeOutput(); });
    QObject::connect(&process_, &QProcess::readyReadStandardError, [this] { TakeErrors(); });
}

TChildProcess::~TChildProcess() { Kill(); }

void TChildProcess::SetWorkingFolder(const QString& folder) { process_.setWorkingDirectory(folder); }

void TChildProcess::SetEnvironment(const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
}

bool TChildProcess::Start() {
    process_.start(program_, arguments_);
    return process_.waitForStarted(static_cast<int>(kPatience.count()));
}

void TChildProcess::Write(const std::string& text) { process_.write(text.data(), static_cast<qint64>(text.size())); }

void TChildProcess::CloseInput() { process_.closeWriteChannel(); }

std::optional<std::string> TChildProcess::WaitForLine(const TLinePredicate& accepts,
                                                      std::chrono::milliseconds timeout) {
    std::optional<std::string> found;
    std::size_t checked = 0;
    WaitUntil(
        [&] {
            for (; checked < lines_.size() && !found; ++checked)
                if (accepts(lines_[checked])) found = lines_[checked];
            // A program that has ended says nothing more.
            return found.has_value() || (!Running() && checked == lines_.size());
        },
        timeout);
    return found;
}

bool TChildProcess::WaitForLine(const std::string& exactLine, std::chrono::milliseconds timeout) {
    return WaitForLine([&](const std::string& line) { return line == exactLine; }, timeout).has_value();
}

bool TChildProcess::HasLine(const std::string& exactLine) const {
    return std::find(lines_.begin(), lines_.end(), exactLine) != lines_.end();
}

bool TChildProcess::WaitForExit(std::chrono::milliseconds timeout) {
    if (!WaitUntil([this] { return !Running(); }, timeout)) return false;
    TakeOutput();
    TakeErrors();
    return process_.exitStatus() == QProcess::NormalExit;
}

bool TChildProcess::Running() const { return process_.state() != QProcess::NotRunning; }

void TChildProcess::Kill() {
    if (!Running()) return;
    process_.kill();
    process_.waitForFinished(static_cast<int>(kPatience.count()));
}

void TChildProcess::Terminate() {
    if (Running()) process_.terminate();
}

std::string TChildProcess::Transcript() const {
    return "--- " + program_.toStdString() + " " + arguments_.join(QLatin1Char(' ')).toStdString() + "\n--- stdout:\n" +
           output_ + "\n--- stderr:\n" + errors_;
}

void TChildProcess::TakeOutput() {
    const std::string text = TextOf(process_.readAllStandardOutput());
    output_ += text;
    partialLine_ += text;
    std::size_t start = 0;
    for (std::size_t end = partialLine_.find('\n'); end != std::string::npos; end = partialLine_.find('\n', start)) {
        lines_.push_back(partialLine_.substr(start, end - start));
        start = end + 1;
    }
    partialLine_.erase(0, start);
}

void TChildProcess::TakeErrors() { errors_ += TextOf(process_.readAllStandardError()); }

TFinishedRun RunToEnd(const QString& program, const QStringList& arguments, const std::string& input,
                      const QProcessEnvironment& environment) {
    TChildProcess child(program, arguments);
    child.SetEnvironment(environment);
    TFinishedRun run;
    if (!child.Start()) return run;
    child.Write(input);
    child.CloseInput();
    run.exited = child.WaitForExit();
    run.exitCode = run.exited ? child.ExitCode() : -1;
    run.output = child.OutputText();
    run.errors = child.ErrorText();
    return run;
}
