// Numbers from text in every base, as a peer's key numbers arrive, and
// printed back. The first byte picks the base (2 to 36), the rest is the text.
// A text of digits below the base (after an optional "-") must be read, any
// other text refused; a read number printed and read again is the same
// number, and a text already in printed form comes back unchanged.

#include <stdexcept>

#include "fuzzsupport.h"

namespace {

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
}

bool IsNumberText(std::string_view text, int base) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    if (text.empty()) return false;
    for (const char c : text)
        if (DigitValue(c) >= base) return false;
    return true;
}

// What ToString gives: lowercase digits, no leading zero, no "-0".
bool IsPrintedForm(std::string_view text) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '-') digits.remove_prefix(1);
    if (digits.empty() || (digits.front() == '0' && (digits.size() > 1 || digits.size() != text.size()))) return false;
    for (const char c : digits)
        if (c >= 'A' && c <= 'Z') return false;
    return true;
}

std::unique_ptr<TBigint> ReadOrNothing(std::string_view text, int base) {
    try {
        return base == 10 ? TBigint::CreateFromDecimal(text) : TBigint::CreateFromString(text, base);
    } catch (const std::runtime_error&) {
        return nullptr;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const int base = 2 + data[0] % 35;
    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::unique_ptr<TBigint> number = ReadOrNothing(text, base);
    FUZZ_CHECK((number != nullptr) == IsNumberText(text, base));
    if (!number) return 0;

    const std::string printed = number->ToString(base);
    if (IsPrintedForm(text)) FUZZ_CHECK(printed == text);
    const std::unique_ptr<TBigint> again = TBigint::CreateFromString(printed, base);
    FUZZ_CHECK(again->Compare(*number) == 0);
    const std::unique_ptr<TBigint> decimal = TBigint::CreateFromDecimal(number->ToString());
    FUZZ_CHECK(decimal->Compare(*number) == 0);
    FUZZ_CHECK(number->IsNegative() == (printed.front() == '-'));
    return 0;
}
