// Kept out of line, in a file of its own: a caller's compiler cannot see the
// fill, let alone prove it dead.
#include "secure/securewipe.h"

#include <cstring>

void SecureWipe(void* memory, std::size_t count, unsigned char fill) noexcept {
    if (count == 0) return;
    std::memset(memory, fill, count);
    // Tells the compiler the memory is read afterwards, so the fill stays.
    __asm__ __volatile__("" : : "r"(memory) : "memory");
}

void SecureWipe(std::string& text) noexcept {
    SecureWipe(text.data(), text.size());
    text.clear();
}

// Not inlined: its frame has to lie below the caller's, over the frames of
// the callees that have returned.
[[gnu::noinline]] void SecureWipeStack() noexcept {
    unsigned char area[kSecureStackWipeBytes];
    SecureWipe(area, sizeof area);
}
