#pragma once
// Overwriting secrets before their memory is released. The whole crypto core
// wipes through here, so every wipe survives the optimiser in the same way.

#include <cstddef>
#include <string>

// Sets count bytes at memory to fill. The stores stay even when the memory is
// never read again; memory may be null when count is 0.
void SecureWipe(void* memory, std::size_t count, unsigned char fill = 0) noexcept;

// Zeroes every character of text, then empties it; the storage stays with
// the text. Room beyond size() holds nothing of it and is left alone.
void SecureWipe(std::string& text) noexcept;

// Wipes a local that held keystream or plaintext when its scope ends.
struct TScopedWipe {
    void* memory;
    std::size_t count;
    ~TScopedWipe() { SecureWipe(memory, count); }
};

// Zeroes the stack just below the caller's frame, where the functions it has
// called kept their locals and spilled registers. For kernels whose secret
// temporaries the compiler may spill anywhere in their frames; the frames to
// clear must fit kSecureStackWipeBytes.
inline constexpr std::size_t kSecureStackWipeBytes = 4096;
void SecureWipeStack() noexcept;
