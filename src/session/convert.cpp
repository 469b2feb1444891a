#include "session/convert.h"

#include <limits>

namespace {

// Decimal digits with an optional sign, within 64 bits.
std::optional<int64_t> TryStrToInt64(const std::string& text) {
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++i;
    if (i == text.size()) return std::nullopt;
    // Accumulated as a negative number so INT64_MIN fits.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c - '0';
        if (c < '0' || c > '9' || value < (std::numeric_limits<int64_t>::min() + digit) / 10) return std::nullopt;
        value = value * 10 - digit;
    }
    if (negative) return value;
    if (value == std::numeric_limits<int64_t>::min()) return std::nullopt;
    return -value;
}

EConvertError NotAnInteger(const std::string& text) {
    return EConvertError("'" + text + "' is not a valid integer value");
}

}  // namespace

std::optional<int32_t> TryStrToInt(const std::string& text) {
    const std::optional<int64_t> value = TryStrToInt64(text);
    if (!value || *value < std::numeric_limits<int32_t>::min() || *value > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(*value);
}

int32_t StrToInt(const std::string& text) {
    if (const auto value = TryStrToInt(text)) return *value;
    throw NotAnInteger(text);
}

int32_t ConfigStrToInt(const std::string& text) {
    if (text.size() >= 3 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        uint64_t value = 0;
        for (std::size_t i = 2; i < text.size(); ++i) {
            const char c = text[i];
            int digit;
            if (c >= '0' && c <= '9')
                digit = c - '0';
            else if (c >= 'a' && c <= 'f')
                digit = c - 'a' + 10;
            else if (c >= 'A' && c <= 'F')
                digit = c - 'A' + 10;
            else
                return 0;
            value = value * 16 + static_cast<uint64_t>(digit);
            if (value > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return 0;
        }
        return static_cast<int32_t>(value);
    }
    return TryStrToInt(text).value_or(0);
}

int64_t StrToInt64(const std::string& text) {
    if (const auto value = TryStrToInt64(text)) return *value;
    throw NotAnInteger(text);
}
