#include "session/convert.h"

#include <limits>

std::optional<int32_t> TryStrToInt(const std::string& text) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return std::nullopt;
    // Accumulate as a negative number so INT32_MIN fits.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return std::nullopt;
    return static_cast<int32_t>(value);
}

int32_t StrToInt(const std::string& text) {
    if (const auto value = TryStrToInt(text)) return *value;
    throw EConvertError("'" + text + "' is not a valid integer value");
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
    std::size_t i = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) ++i;
    if (i == text.size()) throw EConvertError("'" + text + "' is not a valid integer value");
    // Accumulated as a negative number so INT64_MIN fits.
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        const int digit = c - '0';
        if (c < '0' || c > '9' || value < (std::numeric_limits<int64_t>::min() + digit) / 10)
            throw EConvertError("'" + text + "' is not a valid integer value");
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == std::numeric_limits<int64_t>::min())
            throw EConvertError("'" + text + "' is not a valid integer value");
        value = -value;
    }
    return value;
}
