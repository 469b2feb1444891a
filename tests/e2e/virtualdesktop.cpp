#include "virtualdesktop.h"

#include <QDeadlineTimer>
#include <QStandardPaths>

bool TVirtualDesktop::Start() {
    server_ = std::make_unique<TChildProcess>(
        QStringLiteral("Xvfb"), QStringList{"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
    if (!server_->Start()) return false;
    const std::optional<std::string> number =
        server_->WaitForLine([](const std::string& line) { return !line.empty(); });
    if (!number) return false;
    environment_ = QProcessEnvironment::systemEnvironment();
    environment_.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + QString::fromStdString(*number));
    environment_.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment_.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment_.remove(QStringLiteral("XAUTHORITY"));
    // Qt's own file dialogs, whatever desktop the caller runs: a desktop's
    // native ones look and behave otherwise.
    for (const char* variable : {"QT_QPA_PLATFORMTHEME", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION"})
        environment_.remove(QString::fromLatin1(variable));
    return true;
}

bool TVirtualDesktop::Xdotool(const QStringList& arguments) const {
    const TFinishedRun run = RunToEnd(QStringLiteral("xdotool"), arguments, {}, environment_);
    return run.exited && run.exitCode == 0;
}

std::optional<QString> TVirtualDesktop::WaitForNewWindow(const QString& title, const TChildProcess& owner) {
    using namespace std::chrono_literals;
    std::optional<QString> found;
    const QStringList search{"search", "--onlyvisible", "--name", "^" + title + "$"};
    const QDeadlineTimer deadline(kPatience);
    while (!found && !deadline.hasExpired() && owner.Running()) {
        const TFinishedRun run = RunToEnd(QStringLiteral("xdotool"), search, {}, environment_);
        for (const QString& id : QString::fromStdString(run.output).split('\n', Qt::SkipEmptyParts))
            if (known_.insert(id).second) found = id;
        if (!found) Pause(200ms);
    }
    return found;
}

std::optional<std::string> MissingDesktopTool() {
    for (const char* tool : {"Xvfb", "xdotool"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) return std::string(tool);
    return std::nullopt;
}
