#include "cli/terminaltext.h"

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned char kC1Lead = 0xC2;
constexpr unsigned char kC1First = 0x80;
constexpr unsigned char kC1Last = 0x9F;

bool IsEscapedSingleByte(unsigned char byte) { return (byte < 0x20 && byte != '\t') || byte == 0x7F; }

void AppendEscape(std::string& out, unsigned char code) {
    out += "\\x";
    out += kHexDigits[code >> 4];
    out += kHexDigits[code & 0x0F];
}

}  // namespace

std::string EscapeForTerminal(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (IsEscapedSingleByte(byte)) {
            AppendEscape(out, byte);
            continue;
        }
        const bool hasNext = i + 1 < text.size();
        const auto next = hasNext ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == kC1Lead && hasNext && next >= kC1First && next <= kC1Last) {
            // The continuation byte of C2 xx is the code point itself.
            AppendEscape(out, next);
            ++i;
            continue;
        }
        out += static_cast<char>(byte);
    }
    return out;
}

std::vector<std::string> TLineSplitter::Feed(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n', start)) {
        partial_.append(bytes.substr(start, end - start));
        if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
        lines.push_back(std::move(partial_));
        partial_.clear();
        start = end + 1;
    }
    partial_.append(bytes.substr(start));
    return lines;
}

std::optional<std::string> TLineSplitter::Finish() {
    if (partial_.empty()) return std::nullopt;
    std::string last = std::move(partial_);
    partial_.clear();
    return last;
}
