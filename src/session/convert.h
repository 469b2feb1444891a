#pragma once
// Turning the text of a field or of a frame into a number.

#include <cstdint>
#include <optional>
#include <string>

#include "session/errors.h"

// Decimal digits with an optional leading "+" or "-", within 32 bits; nothing
// else (no blanks, no hexadecimal). Throws EConvertError otherwise.
int32_t StrToInt(const std::string& text);

// The same within 64 bits, for file sizes.
int64_t StrToInt64(const std::string& text);

// The same, as an empty result instead of an error.
std::optional<int32_t> TryStrToInt(const std::string& text);

// The settings' integer form: decimal as above, or hexadecimal when the text
// is at least 3 characters long and starts "0x" or "0X"; anything else is 0.
int32_t ConfigStrToInt(const std::string& text);
