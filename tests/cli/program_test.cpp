// What the program does before any conversation: usage errors, help and
// version, the self-checks and the refusal to start when one fails.

#include <sstream>

#include <gtest/gtest.h>

#include "cli/cliprogram.h"

namespace {

struct ProgramRun {
    std::optional<int> status;
    std::string out;
    std::string err;
};

const std::vector<TSelfCheck> kAllPass = {{"SHA-256", true}, {"Rijndael", true}, {"ISAAC", true}};
const std::vector<TSelfCheck> kRijndaelFails = {{"SHA-256", true}, {"Rijndael", false}, {"ISAAC", true}};

ProgramRun RunProgram(const std::vector<std::string>& arguments, const std::vector<TSelfCheck>& checks = kAllPass,
                      const std::string& input = std::string()) {
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    ProgramRun run;
    run.status = RunWithoutConversation(ParseCliOptions(arguments), checks, in, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

}  // namespace

TEST(Program, UsageErrorGivesTheReasonThenTheUsage) {
    const ProgramRun run = RunProgram({"listen", "--port", "x"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "quellmere-cli: '--port' needs a decimal integer, not 'x'\n" + CliUsageText());
}

TEST(Program, UsageErrorsComeBeforeTheSelfChecks) {
    const ProgramRun run = RunProgram({"bogus"}, kRijndaelFails);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "quellmere-cli: unknown command 'bogus'\n" + CliUsageText());
}

TEST(Program, HelpGoesToStdout) {
    const ProgramRun run = RunProgram({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, CliUsageText());
    EXPECT_EQ(run.err, "");
}

TEST(Program, VersionComesFromTheBuild) {
    const ProgramRun run = RunProgram({"connect", "h", "--version"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string("quellmere-cli ") + QUELLMERE_VERSION + "\n");
    EXPECT_EQ(run.err, "");
}

TEST(Program, SelfCheckPrintsEveryVerdict) {
    ProgramRun run = RunProgram({"self-check"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              "SHA-256   self-check: passed\n"
              "Rijndael  self-check: passed\n"
              "ISAAC     self-check: passed\n");
    run = RunProgram({"self-check"}, kRijndaelFails);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              "SHA-256   self-check: passed\n"
              "Rijndael  self-check: FAILED\n"
              "ISAAC     self-check: passed\n");
    EXPECT_EQ(run.err, "");
}

TEST(Program, TheRealChecksPass) {
    const std::vector<TSelfCheck> checks = RunSelfChecks();
    ASSERT_EQ(checks.size(), 3u);
    EXPECT_EQ(checks[0].name, "SHA-256");
    EXPECT_EQ(checks[1].name, "Rijndael");
    EXPECT_EQ(checks[2].name, "ISAAC");
    EXPECT_EQ(FirstFailedSelfCheck(checks), "");
}

TEST(Program, AFailedCheckRefusesEveryOtherCommand) {
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"listen"}, {"connect", "h"}, {"encrypt", "--key", "k"}, {"--help"}}) {
        const ProgramRun run = RunProgram(arguments, kRijndaelFails, "text\n");
        EXPECT_EQ(run.status, 1) << arguments[0];
        EXPECT_EQ(run.out, "") << arguments[0];
        EXPECT_EQ(run.err, "quellmere-cli: self-check failed: Rijndael\n") << arguments[0];
    }
    EXPECT_EQ(FirstFailedSelfCheck({{"SHA-256", false}, {"Rijndael", false}}), "SHA-256");
}

TEST(Program, EncryptAndDecryptRunStraightThrough) {
    ProgramRun run = RunProgram({"encrypt", "--key", "correct horse"}, kAllPass, "hello, world\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "+W2aOWHrmyME7tqO\n");
    run = RunProgram({"decrypt", "--key", "correct horse"}, kAllPass, "+W2aOWHrmyME7tqO\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "hello, world\n");
}

TEST(Program, ListenAndConnectNeedTheConversation) {
    EXPECT_EQ(RunProgram({"listen", "--port", "1801"}).status, std::nullopt);
    EXPECT_EQ(RunProgram({"connect", "peer.example"}).status, std::nullopt);
    EXPECT_EQ(RunProgram({"listen", "--accept-files", "/in", "--overwrite"}).status, std::nullopt);
    EXPECT_EQ(RunProgram({"connect", "peer.example", "--send", "a", "--send", "b"}).status, std::nullopt);
}

TEST(Program, FileOptionErrorsAreUsageErrors) {
    for (const auto& [arguments, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"listen", "--overwrite"}, "'--overwrite' needs '--accept-files'"},
             {{"connect", "h", "--accept-files"}, "'--accept-files' needs a value"},
             {{"connect", "h", "--accept-files="}, "'--accept-files' needs a folder, not ''"},
             {{"listen", "--send"}, "'--send' needs a value"},
             {{"decrypt", "--key", "k", "--overwrite"}, "'--overwrite' is not an option of decrypt"}}) {
        const ProgramRun run = RunProgram(arguments);
        EXPECT_EQ(run.status, 2) << reason;
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "quellmere-cli: " + reason + "\n" + CliUsageText());
    }
}
