#pragma once
// A private Xvfb display for the window under test, driven with xdotool.

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <set>
#include <string>

#include "childprocess.h"

// One Xvfb server of our own, found by its display number on its stdout;
// the caller's display is never touched.
class TVirtualDesktop {
public:
    bool Start();

    // For programs that are to show their windows here.
    const QProcessEnvironment& Environment() const { return environment_; }
    std::string Transcript() const { return server_ ? server_->Transcript() : std::string(); }

    bool Xdotool(const QStringList& arguments) const;
    // A visible window with this exact title that was not there before, while its program runs.
    std::optional<QString> WaitForNewWindow(const QString& title, const TChildProcess& owner);

private:
    std::unique_ptr<TChildProcess> server_;
    QProcessEnvironment environment_;
    std::set<QString> known_;
};

// Whether both tools are there; the name of a missing one otherwise.
std::optional<std::string> MissingDesktopTool();
