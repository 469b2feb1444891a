#include "cli/clioptions.h"

#include <algorithm>
#include <iterator>

#include "session/convert.h"

namespace {

// Which commands an option belongs to.
enum TCommandMask : unsigned {
    kListenOnly = 1u << 0,
    kConnectOnly = 1u << 1,
    kEncryptOnly = 1u << 2,
    kDecryptOnly = 1u << 3,
    kConversation = kListenOnly | kConnectOnly,
    kCipherTool = kEncryptOnly | kDecryptOnly,
};

struct TOptionRule {
    const char* name;
    bool takesValue;
    unsigned commands;
};

constexpr TOptionRule kOptionRules[] = {
    {"--port", true, kConversation},       {"--key-size", true, kListenOnly}, {"--keep-listening", false, kListenOnly},
    {"--config", true, kConversation},     {"--debug", false, kConversation}, {"--log", false, kConversation},
    {"--sleep", true, kConversation},      {"--send", true, kConversation},   {"--accept-files", true, kConversation},
    {"--overwrite", false, kConversation}, {"--key", true, kCipherTool},      {"--key-file", true, kCipherTool},
    {"--hex", false, kCipherTool},
};

struct TCommandName {
    const char* name;
    TCliCommand command;
    unsigned mask;
};

constexpr TCommandName kCommandNames[] = {
    {"listen", TCliCommand::Listen, kListenOnly},    {"connect", TCliCommand::Connect, kConnectOnly},
    {"encrypt", TCliCommand::Encrypt, kEncryptOnly}, {"decrypt", TCliCommand::Decrypt, kDecryptOnly},
    {"self-check", TCliCommand::SelfCheck, 0},
};

const TOptionRule* FindOption(const std::string& name) {
    const auto found = std::find_if(std::begin(kOptionRules), std::end(kOptionRules),
                                    [&](const TOptionRule& rule) { return name == rule.name; });
    return found == std::end(kOptionRules) ? nullptr : found;
}

const TCommandName* FindCommand(const std::string& name) {
    const auto found = std::find_if(std::begin(kCommandNames), std::end(kCommandNames),
                                    [&](const TCommandName& command) { return name == command.name; });
    return found == std::end(kCommandNames) ? nullptr : found;
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

// Digits only: ports, key sizes and pauses are never negative or signed.
bool IsDecimalInteger(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    return TryStrToInt(text).has_value();
}

class TParser {
public:
    explicit TParser(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    TCliParse Parse() {
        if (arguments_.empty()) return Fail("no command given");
        const std::string& first = arguments_[0];
        if (first == "--help" || first == "--version") return Standalone(first);
        const TCommandName* command = FindCommand(first);
        if (command == nullptr) return Fail("unknown command " + Quoted(first));
        parse_.options.command = command->command;
        commandMask_ = command->mask;
        return TakeArguments();
    }

private:
    TCliParse TakeArguments() {
        for (next_ = 1; next_ < arguments_.size();) {
            const std::string argument = arguments_[next_++];
            if (argument == "--help" || argument == "--version") return Standalone(argument);
            if (argument.size() > 1 && argument[0] == '-') {
                if (!TakeOption(argument)) return parse_;
            } else if (!TakePositional(argument)) {
                return parse_;
            }
        }
        CheckCompleteness();
        return parse_;
    }

    // --help and --version need no command and win over everything after them.
    static TCliParse Standalone(const std::string& argument) {
        TCliParse parse;
        parse.options.command = argument == "--help" ? TCliCommand::Help : TCliCommand::Version;
        return parse;
    }

    TCliParse Fail(const std::string& reason) {
        parse_.error = reason;
        return parse_;
    }

    bool Refuse(const std::string& reason) {
        parse_.error = reason;
        return false;
    }

    bool TakeOption(const std::string& argument) {
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const TOptionRule* rule = FindOption(name);
        if (rule == nullptr) return Refuse("unknown option " + Quoted(name));
        if ((rule->commands & commandMask_) == 0) return Refuse(Quoted(name) + " is not an option of " + arguments_[0]);
        if (!rule->takesValue) {
            if (equals != std::string::npos) return Refuse(Quoted(name) + " takes no value");
            return SetFlag(name);
        }
        std::string value;
        if (equals != std::string::npos) {
            value = argument.substr(equals + 1);
        } else if (next_ < arguments_.size()) {
            value = arguments_[next_++];
        } else {
            return Refuse(Quoted(name) + " needs a value");
        }
        return SetValue(name, value);
    }

    bool SetFlag(const std::string& name) {
        TCliOptions& options = parse_.options;
        if (name == "--keep-listening") options.keepListening = true;
        if (name == "--debug") options.debug = true;
        if (name == "--log") options.log = true;
        if (name == "--hex") options.hex = true;
        if (name == "--overwrite") options.overwrite = true;
        return true;
    }

    bool SetValue(const std::string& name, const std::string& value) {
        TCliOptions& options = parse_.options;
        const bool numeric = name == "--port" || name == "--key-size" || name == "--sleep";
        if (numeric && !IsDecimalInteger(value))
            return Refuse(Quoted(name) + " needs a decimal integer, not " + Quoted(value));
        // An empty folder would put accepted files at the root.
        if (name == "--accept-files" && value.empty()) return Refuse(Quoted(name) + " needs a folder, not ''");
        if (name == "--port") options.port = value;
        if (name == "--key-size") options.keySize = value;
        if (name == "--sleep") options.sleepMilliseconds = StrToInt(value);
        if (name == "--config") options.configPath = value;
        if (name == "--key") options.key = value;
        if (name == "--key-file") options.keyFile = value;
        if (name == "--send") options.filesToSend.push_back(value);
        if (name == "--accept-files") options.acceptFolder = value;
        return true;
    }

    bool TakePositional(const std::string& argument) {
        if (parse_.options.command == TCliCommand::Connect && !hostSeen_) {
            parse_.options.host = argument;
            hostSeen_ = true;
            return true;
        }
        return Refuse("unexpected argument " + Quoted(argument));
    }

    void CheckCompleteness() {
        const TCliOptions& options = parse_.options;
        if (options.command == TCliCommand::Connect && !hostSeen_) {
            parse_.error = "connect needs a HOST";
        } else if (options.key && options.keyFile) {
            parse_.error = "'--key' and '--key-file' exclude each other";
        } else if ((commandMask_ & kCipherTool) != 0 && !options.key && !options.keyFile) {
            parse_.error = arguments_[0] + " needs '--key' or '--key-file'";
        } else if (options.overwrite && !options.acceptFolder) {
            parse_.error = "'--overwrite' needs '--accept-files'";
        }
    }

    const std::vector<std::string>& arguments_;
    std::size_t next_ = 0;
    unsigned commandMask_ = 0;
    bool hostSeen_ = false;
    TCliParse parse_;
};

}  // namespace

TCliParse ParseCliOptions(const std::vector<std::string>& arguments) { return TParser(arguments).Parse(); }

std::string CliUsageText() {
    return "Usage:\n"
           "  quellmere-cli listen [--port P] [--key-size BITS] [--keep-listening]\n"
           "                       [file options] [common options]\n"
           "  quellmere-cli connect HOST [--port P] [file options] [common options]\n"
           "  quellmere-cli encrypt (--key TEXT | --key-file FILE) [--hex]\n"
           "  quellmere-cli decrypt (--key TEXT | --key-file FILE) [--hex]\n"
           "  quellmere-cli self-check\n"
           "\n"
           "listen and connect hold one conversation: each line of standard input is\n"
           "sent once the key exchange is complete; the message log goes to standard\n"
           "output, errors and warnings to standard error. At the end of input the\n"
           "program hangs up once everything is sent.\n"
           "  --port P          listen port or remote port (default: from the settings)\n"
           "  --key-size BITS   size of the RSA key made for listening\n"
           "  --keep-listening  serve one conversation after another until interrupted\n"
           "\n"
           "Three lines are commands; any other line is sent, one that starts with //\n"
           "without its first /.\n"
           "  /send PATH        offer the file PATH to the peer\n"
           "  /cancel           stop sending the current file\n"
           "  /quit             hang up at once\n"
           "\n"
           "File options: files go one at a time; at the end of input the program first\n"
           "waits for the answers to its offers and for every transfer to end.\n"
           "  --send PATH       offer PATH once the key exchange is complete (repeatable)\n"
           "  --accept-files DIR\n"
           "                    save every offered file in DIR (without it, offers are refused)\n"
           "  --overwrite       replace a file of the same name in DIR instead of saving\n"
           "                    the new one as \"name (1).ext\", \"name (2).ext\", ...; the\n"
           "                    new one arrives as \"name.part\" and replaces the old one only\n"
           "                    once it is whole\n"
           "\n"
           "encrypt turns each line of standard input into its wire form (Base64);\n"
           "decrypt turns each wire form back into its text.\n"
           "  --key TEXT        the session key text\n"
           "  --key-file FILE   read the key text from the first line of FILE\n"
           "  --hex             the plaintext side is written in hexadecimal\n"
           "\n"
           "Common options:\n"
           "  --config FILE     settings file, only read (default: the window's: quellmere.conf\n"
           "                    beside the program if it is there or that folder is writable,\n"
           "                    else $XDG_CONFIG_HOME/quellmere/quellmere.conf, by default\n"
           "                    ~/.config/quellmere/quellmere.conf)\n"
           "  --debug           show the protocol details in the log\n"
           "  --log             write the trace file quellmere.log in the working folder\n"
           "  --sleep MS        pause between frames, in milliseconds\n"
           "  --help            print this text\n"
           "  --version         print the version\n"
           "\n"
           "Exit status: 0 when the conversation ended, 1 when it failed, 2 for a usage error.\n";
}
