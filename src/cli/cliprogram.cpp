#include "cli/cliprogram.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>
#include <chrono>
#include <exception>
#include <iostream>
#include <optional>
#include <string>
#include <unistd.h>

#include "adapters/defaultenvironment.h"
#include "cli/ciphertool.h"
#include "cli/conversationdriver.h"
#include "cli/readonlysettings.h"
#include "cli/signalpipe.h"
#include "cli/stallwatch.h"
#include "cli/stdinreader.h"
#include "cli/terminalview.h"
#include "session/settings.h"

namespace {

int ReportSelfChecks(const std::vector<TSelfCheck>& checks, std::ostream& out) {
    for (const TSelfCheck& check : checks) out << SelfCheckLine(check) << '\n';
    out << std::flush;
    return FirstFailedSelfCheck(checks).empty() ? kExitSuccess : kExitFailure;
}

// The window's settings file, wherever the window keeps it.
std::string DefaultConfigPath() {
    return DefaultSettingsPath(QDir::toNativeSeparators(QCoreApplication::applicationDirPath()).toStdString());
}

int64_t SteadyMilliseconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

}  // namespace

std::optional<int> RunWithoutConversation(const TCliParse& parse, const std::vector<TSelfCheck>& checks,
                                          std::istream& in, std::ostream& out, std::ostream& err) {
    if (!parse.error.empty()) {
        err << "quellmere-cli: " << parse.error << '\n' << CliUsageText() << std::flush;
        return kExitUsage;
    }
    const TCliOptions& options = parse.options;
    if (options.command == TCliCommand::SelfCheck) return ReportSelfChecks(checks, out);
    // Wrong answers from the primitives would make every conversation unsafe.
    const std::string failed = FirstFailedSelfCheck(checks);
    if (!failed.empty()) {
        err << "quellmere-cli: self-check failed: " << failed << '\n' << std::flush;
        return kExitFailure;
    }
    switch (options.command) {
        case TCliCommand::Help: out << CliUsageText() << std::flush; return kExitSuccess;
        case TCliCommand::Version:
            out << "quellmere-cli " << QUELLMERE_VERSION << '\n' << std::flush;
            return kExitSuccess;
        case TCliCommand::Encrypt:
        case TCliCommand::Decrypt: return RunCipherTool(options, in, out, err);
        default: return std::nullopt;
    }
}

int RunConversation(const TCliOptions& options, int& argc, char** argv) {
    QCoreApplication application(argc, argv);
    const std::string configPath = options.configPath.value_or(DefaultConfigPath());
    TTerminalView view(std::cout, std::cerr);
    // Redrawing a line in place only means something on a terminal.
    if (isatty(STDERR_FILENO)) view.EnableProgressLine(isatty(STDOUT_FILENO) != 0, SteadyMilliseconds);
    TChatSession session(view, MakeDefaultEnvironment());
    TReadOnlySettingsFile settings(configPath);

    TConversationLoop loop;
    loop.post = [&application](std::function<void()> task) { QTimer::singleShot(0, &application, std::move(task)); };
    loop.quit = [](int status) { QCoreApplication::exit(status); };
    TConversationDriver driver(session, view, settings, options, std::move(loop));

    TSignalPipe interrupts([&driver] { driver.Interrupt(); });
    TStdinReader input(
        STDIN_FILENO, [&driver](const std::string& line) { driver.TypedLine(line); },
        [&driver] { driver.InputEnded(); });
    std::optional<TStallWatch> stalls;
    if (StallReportWanted()) stalls.emplace();

    driver.Start();
    input.Start();
    const int status = QCoreApplication::exec();
    if (stalls) std::cerr << "longest event-loop stall: " << stalls->LongestStallMs() << " ms\n" << std::flush;
    return status;
}

int RunCli(int& argc, char** argv) {
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const TCliParse parse = ParseCliOptions(arguments);
    try {
        if (std::optional<int> status = RunWithoutConversation(parse, RunSelfChecks(), std::cin, std::cout, std::cerr))
            return *status;
        return RunConversation(parse.options, argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "quellmere-cli: " << error.what() << '\n' << std::flush;
        return kExitFailure;
    }
}
