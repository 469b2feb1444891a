#include "cli/ciphertool.h"

#include <exception>
#include <fstream>
#include <stdexcept>

#include "session/recordlayer.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    return -1;
}

// The line and whether it had one; a CR is dropped only before an LF.
bool ReadLine(std::istream& in, std::string& line) {
    if (!std::getline(in, line)) return false;
    if (!in.eof() && !line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

std::optional<std::string> ReadKeyFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return std::nullopt;
    std::string key;
    std::getline(file, key);
    if (file.bad()) return std::nullopt;
    if (!key.empty() && key.back() == '\r') key.pop_back();
    return key;
}

void Complain(std::ostream& err, const std::string& text) { err << "quellmere-cli: " << text << '\n' << std::flush; }

class TCipherTool {
public:
    TCipherTool(const TCliOptions& options, const std::string& key, std::ostream& out)
        : encrypting_(options.command == TCliCommand::Encrypt), hex_(options.hex), cipher_(key), out_(out) {}

    // The output line for one input line; throws for a line that is not of the expected form.
    std::string Transform(const std::string& line) const {
        if (encrypting_) return cipher_.Seal(hex_ ? PlaintextFromHex(line) : line);
        const std::string plaintext = cipher_.Open(line);
        return hex_ ? HexFromBytes(plaintext) : plaintext;
    }

    int Run(std::istream& in, std::ostream& err) const {
        std::string line;
        for (long number = 1; ReadLine(in, line); ++number) {
            try {
                out_ << Transform(line) << '\n' << std::flush;
            } catch (const std::exception& error) {
                Complain(err, "line " + std::to_string(number) + ": " + error.what());
                return kExitFailure;
            }
        }
        return kExitSuccess;
    }

private:
    static std::string PlaintextFromHex(const std::string& line) {
        std::optional<std::string> bytes = BytesFromHex(line);
        if (!bytes) throw std::invalid_argument("not hexadecimal");
        return *bytes;
    }

    bool encrypting_;
    bool hex_;
    TMessageCipher cipher_;
    std::ostream& out_;
};

}  // namespace

std::optional<std::string> BytesFromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexValue(hex[i]);
        const int low = HexValue(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes += static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::string HexFromBytes(std::string_view bytes) {
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        hex += kHexDigits[value >> 4];
        hex += kHexDigits[value & 0x0F];
    }
    return hex;
}

int RunCipherTool(const TCliOptions& options, std::istream& in, std::ostream& out, std::ostream& err) {
    std::optional<std::string> key = options.key;
    if (options.keyFile) {
        key = ReadKeyFile(*options.keyFile);
        if (!key) {
            Complain(err, "cannot read the key file '" + *options.keyFile + "'");
            return kExitFailure;
        }
    }
    return TCipherTool(options, key.value_or(std::string()), out).Run(in, err);
}
