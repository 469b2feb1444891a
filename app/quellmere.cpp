// Quellmere: shows the main window, or with --self-check runs the built-in
// known-answer checks and says what they found.
#include "adapters/defaultenvironment.h"
#include "adapters/privatefiles.h"
#include "adapters/processhardening.h"
#include "adapters/selfcheck.h"
#include "adapters/settingsfile.h"
#include "platform/systemdesktop.h"
#include "session/displaytext.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

int printSelfChecks(const std::vector<TSelfCheck>& checks) {
    for (const TSelfCheck& check : checks) std::printf("%s\n", SelfCheckLine(check).c_str());
    return FirstFailedSelfCheck(checks).empty() ? 0 : 1;
}

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: quellmere [--config FILE] [--echo-log] [--self-check] [--version] [--help]\n"
                 "  --config FILE  settings file (default: quellmere.conf beside the program if it is\n"
                 "                 there or that folder is writable, else\n"
                 "                 $XDG_CONFIG_HOME/quellmere/quellmere.conf, by default\n"
                 "                 ~/.config/quellmere/quellmere.conf)\n"
                 "  --echo-log     also write every line of the message log to standard output\n"
                 "  --self-check   run the cipher and generator self-checks, then exit\n"
                 "  --version      print the version, then exit\n"
                 "  --help         print this help, then exit\n");
}

// The settings are written back at close, so the folder the default points
// into must exist by then.
QString defaultConfigPath() {
    const std::string programFolder = QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString();
    const QString path = QString::fromStdString(DefaultSettingsPath(programFolder));
    // Only this user's: the settings may name the hosts talked to.
    MakePrivateFolders(QFileInfo(path).absolutePath().toStdString());
    return path;
}

}  // namespace

int main(int argc, char** argv) {
    ForbidCoreDumps();
    // These need no display, so they run before Qt looks for one.
    const std::vector<TSelfCheck> checks = RunSelfChecks();
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--self-check") == 0) return printSelfChecks(checks);
    }
    // Wrong answers from the primitives would make every conversation unsafe.
    const std::string failed = FirstFailedSelfCheck(checks);
    if (!failed.empty()) {
        std::fprintf(stderr, "quellmere: self-check failed: %s\n", failed.c_str());
        return 1;
    }
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quellmere %s\n", QUELLMERE_VERSION);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellmere"));

    // QApplication has taken its own options out of the list by now.
    std::optional<QString> configPath;
    bool echoLog = false;
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--config") && i + 1 < arguments.size()) {
            configPath = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--config="))) {
            configPath = argument.mid(static_cast<qsizetype>(std::strlen("--config=")));
        } else if (argument == QLatin1String("--echo-log")) {
            echoLog = true;
        } else {
            std::fprintf(stderr, "quellmere: unknown argument: %s\n", argument.toLocal8Bit().constData());
            printUsage(stderr);
            return 2;
        }
    }

    if (!configPath) configPath = defaultConfigPath();

    TWindowEnvironment environment;
    environment.session = MakeDefaultEnvironment();
    environment.settings = std::make_unique<TSettingsFile>(QDir::toNativeSeparators(*configPath).toStdString());
    environment.desktop = MakeSystemDesktop();
    environment.projectHomepage = ProjectHomepage();
    TForm1 form(std::move(environment));
    if (echoLog) {
        // For scripts that watch a window's conversation.
        form.SetLogEcho([](const std::string& line) {
            // A peer's text may not steer the terminal that shows it.
            const std::string shown = VisibleControls(line);
            std::fwrite(shown.data(), 1, shown.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        });
    }
    form.show();
    return app.exec();
}
