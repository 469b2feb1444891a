// The command line: every command with its options, and every way to get it
// wrong, with the reason given.

#include <gtest/gtest.h>

#include "cli/clioptions.h"

namespace {

TCliOptions Parsed(const std::vector<std::string>& arguments) {
    const TCliParse parse = ParseCliOptions(arguments);
    EXPECT_EQ(parse.error, "");
    return parse.options;
}

std::string ErrorOf(const std::vector<std::string>& arguments) { return ParseCliOptions(arguments).error; }

}  // namespace

TEST(Options, ListenWithEveryOption) {
    const TCliOptions options = Parsed({"listen", "--port", "1900", "--key-size", "2048", "--keep-listening",
                                        "--config", "/tmp/q.conf", "--debug", "--log", "--sleep", "25"});
    EXPECT_EQ(options.command, TCliCommand::Listen);
    EXPECT_EQ(options.port, "1900");
    EXPECT_EQ(options.keySize, "2048");
    EXPECT_TRUE(options.keepListening);
    EXPECT_EQ(options.configPath, "/tmp/q.conf");
    EXPECT_TRUE(options.debug);
    EXPECT_TRUE(options.log);
    EXPECT_EQ(options.sleepMilliseconds, 25);
    EXPECT_EQ(options.host, "");
}

TEST(Options, ListenAloneLeavesEverythingToTheSettings) {
    const TCliOptions options = Parsed({"listen"});
    EXPECT_EQ(options.command, TCliCommand::Listen);
    EXPECT_FALSE(options.port);
    EXPECT_FALSE(options.keySize);
    EXPECT_FALSE(options.keepListening);
    EXPECT_FALSE(options.configPath);
    EXPECT_FALSE(options.debug);
    EXPECT_FALSE(options.log);
    EXPECT_FALSE(options.sleepMilliseconds);
}

TEST(Options, ConnectTakesTheHostAnywhereAmongItsOptions) {
    TCliOptions options = Parsed({"connect", "peer.example", "--port", "1801"});
    EXPECT_EQ(options.command, TCliCommand::Connect);
    EXPECT_EQ(options.host, "peer.example");
    EXPECT_EQ(options.port, "1801");

    options = Parsed({"connect", "--port=1802", "--debug", "10.0.0.7"});
    EXPECT_EQ(options.host, "10.0.0.7");
    EXPECT_EQ(options.port, "1802");
    EXPECT_TRUE(options.debug);
}

TEST(Options, ValuesMayFollowAnEqualsSign) {
    const TCliOptions options = Parsed({"listen", "--port=7", "--key-size=512", "--sleep=0", "--config="});
    EXPECT_EQ(options.port, "7");
    EXPECT_EQ(options.keySize, "512");
    EXPECT_EQ(options.sleepMilliseconds, 0);
    EXPECT_EQ(options.configPath, "");
}

TEST(Options, TheLastOfARepeatedOptionWins) { EXPECT_EQ(Parsed({"listen", "--port", "1", "--port", "2"}).port, "2"); }

TEST(Options, EncryptAndDecryptWithKeyOrKeyFile) {
    TCliOptions options = Parsed({"encrypt", "--key", "secret words"});
    EXPECT_EQ(options.command, TCliCommand::Encrypt);
    EXPECT_EQ(options.key, "secret words");
    EXPECT_FALSE(options.keyFile);
    EXPECT_FALSE(options.hex);

    options = Parsed({"decrypt", "--key-file", "/run/key", "--hex"});
    EXPECT_EQ(options.command, TCliCommand::Decrypt);
    EXPECT_EQ(options.keyFile, "/run/key");
    EXPECT_FALSE(options.key);
    EXPECT_TRUE(options.hex);

    // A key may look like an option, and may be empty.
    EXPECT_EQ(Parsed({"encrypt", "--key", "--hex"}).key, "--hex");
    EXPECT_EQ(Parsed({"encrypt", "--key="}).key, "");
}

TEST(Options, SelfCheckHelpAndVersion) {
    EXPECT_EQ(Parsed({"self-check"}).command, TCliCommand::SelfCheck);
    EXPECT_EQ(Parsed({"--help"}).command, TCliCommand::Help);
    EXPECT_EQ(Parsed({"--version"}).command, TCliCommand::Version);
    // Asked for after a command, they win over it and over what follows.
    EXPECT_EQ(Parsed({"listen", "--help"}).command, TCliCommand::Help);
    EXPECT_EQ(Parsed({"connect", "--version", "--bogus"}).command, TCliCommand::Version);
    EXPECT_EQ(Parsed({"encrypt", "--help"}).command, TCliCommand::Help);
    EXPECT_EQ(Parsed({"self-check", "--version"}).command, TCliCommand::Version);
}

TEST(Options, ErrorsBeforeHelpStillCount) {
    EXPECT_EQ(ErrorOf({"listen", "--bogus", "--help"}), "unknown option '--bogus'");
}

TEST(Options, CommandErrors) {
    EXPECT_EQ(ErrorOf({}), "no command given");
    EXPECT_EQ(ErrorOf({"chat"}), "unknown command 'chat'");
    EXPECT_EQ(ErrorOf({"--debug", "listen"}), "unknown command '--debug'");
    EXPECT_EQ(ErrorOf({"connect"}), "connect needs a HOST");
    EXPECT_EQ(ErrorOf({"connect", "--port", "1801"}), "connect needs a HOST");
    EXPECT_EQ(ErrorOf({"connect", "a.example", "b.example"}), "unexpected argument 'b.example'");
    EXPECT_EQ(ErrorOf({"listen", "extra"}), "unexpected argument 'extra'");
    EXPECT_EQ(ErrorOf({"self-check", "now"}), "unexpected argument 'now'");
}

TEST(Options, UnknownOptionsAndOptionsOfOtherCommands) {
    EXPECT_EQ(ErrorOf({"listen", "--verbose"}), "unknown option '--verbose'");
    EXPECT_EQ(ErrorOf({"listen", "-p", "1801"}), "unknown option '-p'");
    EXPECT_EQ(ErrorOf({"connect", "h", "--key-size", "1024"}), "'--key-size' is not an option of connect");
    EXPECT_EQ(ErrorOf({"connect", "h", "--keep-listening"}), "'--keep-listening' is not an option of connect");
    EXPECT_EQ(ErrorOf({"listen", "--key", "k"}), "'--key' is not an option of listen");
    EXPECT_EQ(ErrorOf({"encrypt", "--key", "k", "--port", "1"}), "'--port' is not an option of encrypt");
    EXPECT_EQ(ErrorOf({"decrypt", "--key", "k", "--debug"}), "'--debug' is not an option of decrypt");
    EXPECT_EQ(ErrorOf({"self-check", "--debug"}), "'--debug' is not an option of self-check");
}

TEST(Options, MissingAndUnwantedValues) {
    EXPECT_EQ(ErrorOf({"listen", "--port"}), "'--port' needs a value");
    EXPECT_EQ(ErrorOf({"listen", "--key-size"}), "'--key-size' needs a value");
    EXPECT_EQ(ErrorOf({"listen", "--sleep"}), "'--sleep' needs a value");
    EXPECT_EQ(ErrorOf({"connect", "h", "--config"}), "'--config' needs a value");
    EXPECT_EQ(ErrorOf({"encrypt", "--key"}), "'--key' needs a value");
    EXPECT_EQ(ErrorOf({"decrypt", "--key-file"}), "'--key-file' needs a value");
    EXPECT_EQ(ErrorOf({"listen", "--debug=yes"}), "'--debug' takes no value");
    EXPECT_EQ(ErrorOf({"encrypt", "--key", "k", "--hex=1"}), "'--hex' takes no value");
}

TEST(Options, NumbersMustBeDecimalIntegers) {
    EXPECT_EQ(ErrorOf({"listen", "--port", "18o1"}), "'--port' needs a decimal integer, not '18o1'");
    EXPECT_EQ(ErrorOf({"listen", "--port", ""}), "'--port' needs a decimal integer, not ''");
    EXPECT_EQ(ErrorOf({"listen", "--port", "-1"}), "'--port' needs a decimal integer, not '-1'");
    EXPECT_EQ(ErrorOf({"listen", "--port", "+1801"}), "'--port' needs a decimal integer, not '+1801'");
    EXPECT_EQ(ErrorOf({"listen", "--port", "0x709"}), "'--port' needs a decimal integer, not '0x709'");
    EXPECT_EQ(ErrorOf({"listen", "--key-size", "1k"}), "'--key-size' needs a decimal integer, not '1k'");
    EXPECT_EQ(ErrorOf({"listen", "--key-size", " 1024"}), "'--key-size' needs a decimal integer, not ' 1024'");
    EXPECT_EQ(ErrorOf({"connect", "h", "--sleep", "1.5"}), "'--sleep' needs a decimal integer, not '1.5'");
    // Beyond 32 bits is no integer the session could take.
    EXPECT_EQ(ErrorOf({"connect", "h", "--sleep", "2147483648"}),
              "'--sleep' needs a decimal integer, not '2147483648'");
    EXPECT_EQ(Parsed({"connect", "h", "--sleep", "2147483647"}).sleepMilliseconds, 2147483647);
}

TEST(Options, KeyChoices) {
    EXPECT_EQ(ErrorOf({"encrypt"}), "encrypt needs '--key' or '--key-file'");
    EXPECT_EQ(ErrorOf({"decrypt", "--hex"}), "decrypt needs '--key' or '--key-file'");
    EXPECT_EQ(ErrorOf({"encrypt", "--key", "k", "--key-file", "f"}), "'--key' and '--key-file' exclude each other");
    EXPECT_EQ(ErrorOf({"decrypt", "--key-file", "f", "--key", "k"}), "'--key' and '--key-file' exclude each other");
}

TEST(Options, FileOptionsOfAConversation) {
    TCliOptions options = Parsed(
        {"connect", "h", "--send", "/a b", "--send=c", "--accept-files", "/in", "--overwrite", "--send", "--debug"});
    // Repeated, the files keep their order; a file may look like an option.
    EXPECT_EQ(options.filesToSend, (std::vector<std::string>{"/a b", "c", "--debug"}));
    EXPECT_EQ(options.acceptFolder, "/in");
    EXPECT_TRUE(options.overwrite);
    EXPECT_FALSE(options.debug);

    options = Parsed({"listen", "--accept-files=/one", "--accept-files", "two"});
    EXPECT_EQ(options.acceptFolder, "two");
    EXPECT_FALSE(options.overwrite);
    EXPECT_TRUE(options.filesToSend.empty());

    options = Parsed({"listen"});
    EXPECT_FALSE(options.acceptFolder);
    EXPECT_TRUE(options.filesToSend.empty());
}

TEST(Options, FileOptionErrors) {
    EXPECT_EQ(ErrorOf({"listen", "--overwrite"}), "'--overwrite' needs '--accept-files'");
    EXPECT_EQ(ErrorOf({"connect", "h", "--overwrite", "--send", "x"}), "'--overwrite' needs '--accept-files'");
    EXPECT_EQ(ErrorOf({"listen", "--accept-files"}), "'--accept-files' needs a value");
    EXPECT_EQ(ErrorOf({"listen", "--accept-files="}), "'--accept-files' needs a folder, not ''");
    EXPECT_EQ(ErrorOf({"connect", "h", "--send"}), "'--send' needs a value");
    EXPECT_EQ(ErrorOf({"listen", "--accept-files", "/in", "--overwrite=yes"}), "'--overwrite' takes no value");
    EXPECT_EQ(ErrorOf({"encrypt", "--key", "k", "--send", "x"}), "'--send' is not an option of encrypt");
    EXPECT_EQ(ErrorOf({"self-check", "--accept-files", "/in"}), "'--accept-files' is not an option of self-check");
}

TEST(Options, UsageNamesEveryCommandAndOption) {
    const std::string usage = CliUsageText();
    for (const char* word : {"listen",
                             "connect HOST",
                             "encrypt",
                             "decrypt",
                             "self-check",
                             "--port P",
                             "--key-size BITS",
                             "--keep-listening",
                             "--config FILE",
                             "--debug",
                             "--log",
                             "--sleep MS",
                             "--help",
                             "--version",
                             "--key TEXT",
                             "--key-file FILE",
                             "--hex",
                             "--send PATH",
                             "--accept-files DIR",
                             "--overwrite",
                             "/send PATH",
                             "/cancel",
                             "/quit"})
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    EXPECT_EQ(usage.back(), '\n');
}
