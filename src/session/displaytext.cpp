#include "session/displaytext.h"

#include <algorithm>
#include <cstdint>

namespace {

// 0x80..0x9F of Windows-1252; the five holes keep their C1 code points, as the
// system's own conversion does.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

}  // namespace

bool IsValidUtf8(const std::string& bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        std::size_t length;
        uint32_t codePoint;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > bytes.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values beyond Unicode are not UTF-8.
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) || codePoint > 0x10FFFF ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string Windows1252ToUtf8(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80 && byte < 0xA0)
            AppendUtf8(out, kHighControls[byte - 0x80]);
        else
            AppendUtf8(out, byte);
    }
    return out;
}

std::string ReceivedTextForView(const std::string& bytes) {
    return IsValidUtf8(bytes) ? bytes : Windows1252ToUtf8(bytes);
}

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// One character of the text as it is shown: an escape, or its own bytes.
struct TShownUnit {
    std::size_t length = 1;  // bytes of the text it stands for
    std::string_view escapePrefix;
    uint32_t escapedCode = 0;  // with escapePrefix: the code shown in hex
    int escapedDigits = 0;
};

bool IsContinuation(std::string_view text, std::size_t at) {
    return at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80;
}

// The UTF-8 sequence at the start of text, whole: its length, 1 for a lone byte.
std::size_t SequenceLength(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    const std::size_t wanted = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    std::size_t length = 1;
    while (length < wanted && IsContinuation(text, length)) ++length;
    return length == wanted ? length : 1;
}

// U+2028, U+2029, U+202A..U+202E and U+2066..U+2069 in their UTF-8 form.
bool IsLayoutControl(std::string_view sequence) {
    if (sequence.size() != 3 || static_cast<unsigned char>(sequence[0]) != 0xE2) return false;
    const auto second = static_cast<unsigned char>(sequence[1]);
    const auto third = static_cast<unsigned char>(sequence[2]);
    return (second == 0x80 && third >= 0xA8 && third <= 0xAE) || (second == 0x81 && third >= 0xA6 && third <= 0xA9);
}

TShownUnit Escaped(std::size_t length, uint32_t code) {
    return code <= 0xFF ? TShownUnit{length, "\\x", code, 2} : TShownUnit{length, "\\u", code, 4};
}

TShownUnit NextUnit(std::string_view text) {
    const uint32_t byte = static_cast<unsigned char>(text[0]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return Escaped(1, byte);
    const std::size_t length = SequenceLength(text);
    const std::string_view sequence = text.substr(0, length);
    const uint32_t second = length > 1 ? static_cast<unsigned char>(sequence[1]) : 0u;
    // The continuation byte of C2 xx is the code point itself.
    if (length == 2 && byte == 0xC2 && second <= 0x9F) return Escaped(2, second);
    if (IsLayoutControl(sequence)) {
        const uint32_t third = static_cast<unsigned char>(sequence[2]);
        return Escaped(3, ((byte & 0x0Fu) << 12) | ((second & 0x3Fu) << 6) | (third & 0x3Fu));
    }
    return TShownUnit{length, {}, 0, 0};
}

std::size_t ShownLength(const TShownUnit& unit) {
    return unit.escapePrefix.empty() ? unit.length : unit.escapePrefix.size() + static_cast<std::size_t>(unit.escapedDigits);
}

void AppendUnit(std::string& out, std::string_view text, const TShownUnit& unit) {
    if (unit.escapePrefix.empty()) {
        out.append(text.substr(0, unit.length));
        return;
    }
    out.append(unit.escapePrefix);
    for (int digit = unit.escapedDigits - 1; digit >= 0; --digit) out += kHexDigits[(unit.escapedCode >> (4 * digit)) & 15];
}

// Appends the shown form of text to out until it would pass maxBytes; the
// bytes of text taken.
std::size_t AppendVisible(std::string& out, std::string_view text, std::size_t maxBytes) {
    std::size_t at = 0;
    while (at < text.size()) {
        const TShownUnit unit = NextUnit(text.substr(at));
        if (out.size() + ShownLength(unit) > maxBytes) break;
        AppendUnit(out, text.substr(at), unit);
        at += unit.length;
    }
    return at;
}

}  // namespace

std::size_t LeadingCharacterBytes(std::string_view text) { return SequenceLength(text); }

bool StartsWithControl(std::string_view text) { return !NextUnit(text).escapePrefix.empty(); }

std::string VisibleControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    AppendVisible(out, text, std::string::npos);
    return out;
}

std::string ShownLine(std::string_view line, std::size_t maxBytes) {
    std::string out;
    out.reserve(std::min(line.size(), maxBytes) + 32);
    if (AppendVisible(out, line, maxBytes) < line.size())
        out += " \xe2\x80\xa6 (" + std::to_string(line.size()) + " bytes)";
    return out;
}
