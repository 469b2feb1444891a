// Quellmere: shows the main window, or with --self-check runs the built-in
// known-answer checks and says what they found.
#include "adapters/defaultenvironment.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "isaac/isaac.h"
#include "ui/form1.h"

#include <QApplication>
#include <QDir>
#include <QStringList>
#include <cstdio>
#include <cstring>

namespace {

int runSelfChecks() {
    struct Check {
        const char* name;
        bool passed;
    };
    const Check checks[] = {
        {"SHA-256", TSha256::SelfCheck()},
        {"Rijndael", TRijndael::SelfCheck()},
        {"ISAAC", TIsaac::SelfCheck()},
    };
    bool all = true;
    for (const Check& check : checks) {
        std::printf("%-9s self-check: %s\n", check.name, check.passed ? "passed" : "FAILED");
        all &= check.passed;
    }
    return all ? 0 : 1;
}

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "Usage: quellmere [--config FILE] [--self-check]\n"
                 "  --config FILE  settings file (default: quellmere.conf beside the program)\n"
                 "  --self-check   run the cipher and generator self-checks, then exit\n");
}

}  // namespace

int main(int argc, char** argv) {
    // These need no display, so they run before Qt looks for one.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--self-check") == 0) return runSelfChecks();
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            printUsage(stdout);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quellmere"));

    // QApplication has taken its own options out of the list by now.
    QString configPath = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("quellmere.conf"));
    const QStringList arguments = QCoreApplication::arguments();
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--config") && i + 1 < arguments.size()) {
            configPath = arguments[++i];
        } else if (argument.startsWith(QLatin1String("--config="))) {
            configPath = argument.mid(static_cast<qsizetype>(std::strlen("--config=")));
        } else {
            std::fprintf(stderr, "quellmere: unknown argument: %s\n", argument.toLocal8Bit().constData());
            printUsage(stderr);
            return 2;
        }
    }

    TForm1 form(MakeDefaultEnvironment(QDir::toNativeSeparators(configPath).toStdString()));
    form.show();
    return app.exec();
}
