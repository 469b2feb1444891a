#pragma once
// A program under test as a child process: started with its arguments, fed on
// standard input, its standard output cut into lines as they come. Every wait
// runs the event loop, so all children are drained together and none of them
// stalls on a full pipe while the test waits for another.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Long enough for a loaded machine under the sanitizers; a working program
// answers in well under a second.
inline constexpr std::chrono::milliseconds kPatience{60000};

// Runs the event loop until the condition holds; false when the time ran out.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout = kPatience);

// For long work: gives up only when the condition still fails and the
// measure of progress has stayed the same for the whole timeout.
bool WaitUntilWhileChanging(const std::function<bool()>& condition, const std::function<int64_t()>& progress,
                            std::chrono::milliseconds timeout = kPatience);

using TLinePredicate = std::function<bool(const std::string& line)>;

class TChildProcess {
public:
    TChildProcess(QString program, QStringList arguments);
    ~TChildProcess();
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    void SetWorkingFolder(const QString& folder);
    void SetEnvironment(const QProcessEnvironment& environment);
    bool Start();

    void Write(const std::string& text);
    void CloseInput();

    // The first complete stdout line, from the start, that the predicate accepts.
    std::optional<std::string> WaitForLine(const TLinePredicate& accepts,
                                           std::chrono::milliseconds timeout = kPatience);
    bool WaitForLine(const std::string& exactLine, std::chrono::milliseconds timeout = kPatience);
    bool HasLine(const std::string& exactLine) const;
    // True when the process ended by itself in time (not crashed).
    bool WaitForExit(std::chrono::milliseconds timeout = kPatience);
    bool Running() const;
    // SIGKILL: nothing of the program runs after it.
    void Kill();
    // SIGTERM, as an interrupt from outside.
    void Terminate();

    int ExitCode() const { return process_.exitCode(); }
    qint64 ProcessId() const { return process_.processId(); }
    const std::vector<std::string>& OutputLines() const { return lines_; }
    const std::string& OutputText() const { return output_; }
    const std::string& ErrorText() const { return errors_; }
    // Both streams, for failure messages.
    std::string Transcript() const;

private:
    void TakeOutput();
    void TakeErrors();

    QProcess process_;
    QString program_;
    QStringList arguments_;
    std::string output_;
    std::string partialLine_;
    std::vector<std::string> lines_;
    std::string errors_;
};

// A whole run of a short-lived program: all of its input at once, then its output.
struct TFinishedRun {
    bool exited = false;
    int exitCode = -1;
    std::string output;
    std::string errors;
};

TFinishedRun RunToEnd(const QString& program, const QStringList& arguments, const std::string& input = {},
                      const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

// Lets the children run and talk for a while.
void Pause(std::chrono::milliseconds duration);
