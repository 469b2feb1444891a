#include "platform/launcher.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QProcess>
#include <QStringList>
#include <QUrl>
#include <cerrno>
#include <cstdlib>

#include "platform/desktop.h"

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

std::string ParentFolder(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A bare name is the working folder's file if there is one, else a program on PATH.
std::string ResolveBareName(const std::string& path) {
    if (path.find('/') != std::string::npos) return path;
    if (Exists(path)) return "./" + path;
    const std::string program = FindProgramOnPath(path);
    return program.empty() ? path : program;
}

QString LocalText(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

TLaunchOutcome StartDetached(const std::string& program, const QStringList& arguments) {
    return QProcess::startDetached(LocalText(program), arguments) ? TLaunchOutcome::Started
                                                                  : TLaunchOutcome::OtherFailure;
}

}  // namespace

int LaunchResultNumber(TLaunchOutcome outcome) {
    switch (outcome) {
        case TLaunchOutcome::Started: return kLaunchStarted;
        case TLaunchOutcome::FileNotFound: return kLaunchFileNotFound;
        case TLaunchOutcome::PathNotFound: return kLaunchPathNotFound;
        case TLaunchOutcome::AccessDenied: return kLaunchAccessDenied;
        case TLaunchOutcome::NoAssociation: return kLaunchNoAssociation;
        case TLaunchOutcome::OtherFailure: return kLaunchOtherFailure;
    }
    return kLaunchOtherFailure;
}

TLaunchOutcome OutcomeOfLookupError(int error, const std::string& path) {
    switch (error) {
        case ENOENT: return IsFolder(ParentFolder(path)) ? TLaunchOutcome::FileNotFound : TLaunchOutcome::PathNotFound;
        case ENOTDIR: return TLaunchOutcome::PathNotFound;
        case EACCES:
        case EPERM: return TLaunchOutcome::AccessDenied;
        default: return TLaunchOutcome::OtherFailure;
    }
}

int LaunchDocument(const std::string& requested) {
    // Like a C launcher, the path ends at the first NUL.
    const std::string path = requested.c_str();
    if (path.empty()) return LaunchResultNumber(TLaunchOutcome::FileNotFound);
    const std::string target = ResolveBareName(path);
    struct stat info {};
    if (stat(target.c_str(), &info) != 0) return LaunchResultNumber(OutcomeOfLookupError(errno, target));
    if (IsExecutableFile(target)) return LaunchResultNumber(StartDetached(target, {}));
    if (access(target.c_str(), R_OK) != 0) return LaunchResultNumber(OutcomeOfLookupError(errno, target));
    return LaunchResultNumber(OpenWithDefaultApplication(target));
}

TLaunchOutcome OpenWithDefaultApplication(const std::string& target) {
    const QString argument = LocalText(target);
    if (const std::string opener = FindProgramOnPath("xdg-open"); !opener.empty())
        return StartDetached(opener, {argument});
    if (const std::string opener = FindProgramOnPath("gio"); !opener.empty())
        return StartDetached(opener, {QStringLiteral("open"), argument});
    return TLaunchOutcome::NoAssociation;
}

void OpenInBrowser(const std::string& address) {
    // Qt's desktop services need the window system, which a terminal program has not.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        QDesktopServices::openUrl(QUrl(QString::fromUtf8(address.data(), static_cast<qsizetype>(address.size()))));
        return;
    }
    OpenWithDefaultApplication(address);
}

std::string FindProgramOnPath(const std::string& name) {
    const char* const variable = std::getenv("PATH");
    if (!variable) return std::string();
    const std::string folders = variable;
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos) end = folders.size();
        // An empty entry is the working folder.
        const std::string folder = end == start ? "." : folders.substr(start, end - start);
        const std::string candidate = folder + "/" + name;
        if (IsExecutableFile(candidate)) return candidate;
        start = end + 1;
    }
    return std::string();
}
