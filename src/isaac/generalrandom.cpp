#include "generalrandom.h"

#include <atomic>

namespace {
// Atomic because digits are also wiped on the key generation thread.
std::atomic<uint32_t> seed{0};
}  // namespace

uint32_t GeneralRandom(uint32_t n) {
    uint32_t current = seed.load(std::memory_order_relaxed);
    uint32_t next;
    do {
        next = current * 134775813u + 1u;
    } while (!seed.compare_exchange_weak(current, next, std::memory_order_relaxed));
    return static_cast<uint32_t>((static_cast<uint64_t>(n) * next) >> 32);
}

void ResetGeneralRandom() { seed.store(0, std::memory_order_relaxed); }
