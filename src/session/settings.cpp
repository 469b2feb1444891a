#include "session/settings.h"

#include <optional>
#include <utility>
#include <vector>

#include "session/convert.h"

namespace {

constexpr std::string_view kBlanks = " \t";

// One line of the file as offsets into its bytes: the content runs from
// begin to contentEnd, the line ending ("\r\n", "\n" or nothing) up to end.
struct TLine {
    std::size_t begin = 0;
    std::size_t contentEnd = 0;
    std::size_t end = 0;
};

// The first "main" section as line indexes: its header, and the first line
// after it (the next header, or the number of lines).
struct TSection {
    std::size_t header = 0;
    std::size_t end = 0;
};

// Where a key's line is, and where its value starts (after "=" and blanks).
struct TKeyLine {
    std::size_t line = 0;
    std::size_t valueBegin = 0;
};

std::vector<TLine> SplitLines(std::string_view bytes) {
    std::vector<TLine> lines;
    std::size_t begin = 0;
    while (begin < bytes.size()) {
        const std::size_t newline = bytes.find('\n', begin);
        if (newline == std::string_view::npos) {
            lines.push_back({begin, bytes.size(), bytes.size()});
            break;
        }
        const bool carriageReturn = newline > begin && bytes[newline - 1] == '\r';
        lines.push_back({begin, carriageReturn ? newline - 1 : newline, newline + 1});
        begin = newline + 1;
    }
    return lines;
}

std::string_view Content(std::string_view bytes, const TLine& line) {
    return bytes.substr(line.begin, line.contentEnd - line.begin);
}

std::string_view TrimBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const std::size_t last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

bool IsBlank(std::string_view text) { return text.find_first_not_of(kBlanks) == std::string_view::npos; }

char FirstNonBlank(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kBlanks);
    return first == std::string_view::npos ? '\0' : text[first];
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// The name of a header line, up to the next "]" (or the line's end), trimmed.
std::optional<std::string_view> SectionName(std::string_view content) {
    if (FirstNonBlank(content) != '[') return std::nullopt;
    const std::size_t open = content.find('[');
    const std::size_t close = content.find(']', open + 1);
    const std::size_t nameEnd = close == std::string_view::npos ? content.size() : close;
    return TrimBlanks(content.substr(open + 1, nameEnd - open - 1));
}

std::optional<TSection> FindMainSection(std::string_view bytes, const std::vector<TLine>& lines) {
    std::size_t header = 0;
    for (; header < lines.size(); ++header) {
        const auto name = SectionName(Content(bytes, lines[header]));
        if (name && SameName(*name, kSettingsSection)) break;
    }
    if (header == lines.size()) return std::nullopt;
    std::size_t end = header + 1;
    while (end < lines.size() && !SectionName(Content(bytes, lines[end]))) ++end;
    return TSection{header, end};
}

// The first line of the section that holds the key; comments are not keys.
std::optional<TKeyLine> FindKey(std::string_view bytes, const std::vector<TLine>& lines, const TSection& section,
                                std::string_view key) {
    for (std::size_t i = section.header + 1; i < section.end; ++i) {
        const std::string_view content = Content(bytes, lines[i]);
        const char first = FirstNonBlank(content);
        const std::size_t equals = content.find('=');
        if (first == ';' || first == '#' || equals == std::string_view::npos) continue;
        if (!SameName(TrimBlanks(content.substr(0, equals)), key)) continue;
        const std::size_t afterBlanks = content.find_first_not_of(kBlanks, equals + 1);
        const std::size_t valueOffset = afterBlanks == std::string_view::npos ? content.size() : afterBlanks;
        return TKeyLine{i, lines[i].begin + valueOffset};
    }
    return std::nullopt;
}

class TMainSectionReader {
public:
    explicit TMainSectionReader(std::string_view bytes)
        : bytes_(bytes), lines_(SplitLines(bytes)), section_(FindMainSection(bytes, lines_)) {}

    std::string Text(std::string_view key, const std::string& fallback) const {
        const std::optional<TKeyLine> found = section_ ? FindKey(bytes_, lines_, *section_, key) : std::nullopt;
        if (!found) return fallback;
        const TLine& line = lines_[found->line];
        const std::string_view value =
            TrimBlanks(bytes_.substr(found->valueBegin, line.contentEnd - found->valueBegin));
        return std::string(value.substr(0, kMaxSettingLength));
    }

    bool Flag(std::string_view key, bool fallback) const { return Text(key, fallback ? "true" : "false") == "true"; }

private:
    std::string_view bytes_;
    std::vector<TLine> lines_;
    std::optional<TSection> section_;
};

// New lines follow the file's own convention, judged by its first line.
std::string_view FileLineEnding(std::string_view bytes) {
    const std::size_t newline = bytes.find('\n');
    return newline != std::string_view::npos && newline > 0 && bytes[newline - 1] == '\r' ? "\r\n" : "\n";
}

// What ends an unterminated last line before something is added after it. A
// "\r" there is content, and it must stay content rather than become half of
// a "\r\n".
std::string_view TerminatorAfter(std::string_view lastContent, std::string_view lineEnding) {
    return !lastContent.empty() && lastContent.back() == '\r' ? "\r\n" : lineEnding;
}

// A value comes from a one-line field: it must never add lines, and blanks at
// its edges would be lost on reading anyway (and would creep in on every write).
std::string SingleLineValue(std::string_view value) {
    return std::string(TrimBlanks(value.substr(0, value.find_first_of("\r\n"))));
}

void AppendSection(std::string& text, std::string_view keyLine, std::string_view lineEnding) {
    const std::vector<TLine> lines = SplitLines(text);
    if (!lines.empty() && lines.back().end == lines.back().contentEnd)
        text += TerminatorAfter(Content(text, lines.back()), lineEnding);
    text += "[";
    text += kSettingsSection;
    text += "]";
    text += lineEnding;
    text += keyLine;
    text += lineEnding;
}

void AppendToSection(std::string& text, const std::vector<TLine>& lines, const TSection& section,
                     std::string_view keyLine, std::string_view lineEnding) {
    std::size_t last = section.end - 1;
    while (last > section.header && IsBlank(Content(text, lines[last]))) --last;
    std::string inserted;
    if (lines[last].end == lines[last].contentEnd) inserted += TerminatorAfter(Content(text, lines[last]), lineEnding);
    inserted += keyLine;
    inserted += lineEnding;
    text.insert(lines[last].end, inserted);
}

void SetValue(std::string& text, std::string_view key, std::string_view value, std::string_view lineEnding) {
    const std::vector<TLine> lines = SplitLines(text);
    const std::optional<TSection> section = FindMainSection(text, lines);
    const std::string keyLine = std::string(key) + "=" + std::string(value);
    if (!section) {
        AppendSection(text, keyLine, lineEnding);
        return;
    }
    const std::optional<TKeyLine> found = FindKey(text, lines, *section, key);
    if (!found) {
        AppendToSection(text, lines, *section, keyLine, lineEnding);
        return;
    }
    text.replace(found->valueBegin, lines[found->line].contentEnd - found->valueBegin, value);
}

}  // namespace

TSessionSettings ParseSessionSettings(std::string_view fileBytes) {
    const TMainSectionReader reader(fileBytes);
    TSessionSettings settings;
    const TSessionSettings defaults;
    settings.RsaKeySize = reader.Text("RsaKeySize", defaults.RsaKeySize);
    settings.debug = reader.Flag("debug", defaults.debug);
    settings.sleepDuringTransfer = ConfigStrToInt(reader.Text("sleepDuringTransfer", "0"));
    settings.vantrelPath = reader.Text("vantrelPath", defaults.vantrelPath);
    settings.antikeylogging = reader.Flag("antikeylogging", defaults.antikeylogging);
    settings.listenPort = reader.Text("listenPort", defaults.listenPort);
    settings.remotePort = reader.Text("remotePort", defaults.remotePort);
    settings.saveHost = reader.Flag("saveHost", defaults.saveHost);
    if (settings.saveHost) settings.remoteHost = reader.Text("remoteHost", "");
    return settings;
}

std::string UpdateSessionSettings(std::string_view fileBytes, const TWrittenSettings& settings) {
    const std::string_view lineEnding = FileLineEnding(fileBytes);
    const std::pair<std::string_view, std::string_view> values[] = {
        {"RsaKeySize", settings.RsaKeySize}, {"antikeylogging", settings.antikeylogging ? "true" : "false"},
        {"listenPort", settings.listenPort}, {"remotePort", settings.remotePort},
        {"remoteHost", settings.remoteHost},
    };
    std::string text(fileBytes);
    for (const auto& [key, value] : values) SetValue(text, key, SingleLineValue(value), lineEnding);
    return text;
}
