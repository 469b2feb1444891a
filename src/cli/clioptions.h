#pragma once
// The command line of quellmere-cli, parsed into a value; nothing here runs
// anything or prints anything.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class TCliCommand { Listen, Connect, Encrypt, Decrypt, SelfCheck, Help, Version };

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct TCliOptions {
    TCliCommand command = TCliCommand::Help;
    // connect: the peer to call.
    std::string host;
    // Texts for the session's fields, already checked to be decimal integers.
    std::optional<std::string> port;
    std::optional<std::string> keySize;
    bool keepListening = false;
    std::optional<std::string> configPath;
    bool debug = false;
    bool log = false;
    std::optional<int32_t> sleepMilliseconds;
    // Files offered, in order, once the key exchange is complete.
    std::vector<std::string> filesToSend;
    // Offered files are accepted into this folder; refused without it.
    std::optional<std::string> acceptFolder;
    // An accepted file replaces one of the same name instead of taking a free name.
    bool overwrite = false;
    // encrypt and decrypt: the key text, given or read from a file.
    std::optional<std::string> key;
    std::optional<std::string> keyFile;
    bool hex = false;
};

struct TCliParse {
    TCliOptions options;
    // Why the command line is wrong, in one line; empty when it is right.
    std::string error;
};

// The arguments after the program's name.
TCliParse ParseCliOptions(const std::vector<std::string>& arguments);

std::string CliUsageText();
