#pragma once
// Small helpers shared by the tests of several modules.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include <sys/stat.h>

#include "isaac/isaac.h"

// The text of what the action throws, so tests can compare messages exactly.
inline std::string ThrownText(const std::function<void()>& action) {
    try {
        action();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

// Seeds a generator with two words, as the program's own generators are seeded.
inline void Seed(TIsaac& generator, uint32_t a, uint32_t b) {
    const uint32_t words[2] = {a, b};
    generator.Seed(words, 1, true);
}

// SIZE bytes that look random and are the same for the same seed.
inline std::string PseudoRandomBytes(std::size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(seed >> 24);
    }
    return bytes;
}

// The process's umask, which every new file and folder's mode passes through.
inline mode_t CurrentUmask() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}
