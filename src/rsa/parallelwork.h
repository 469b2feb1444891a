#pragma once
// Spreading independent jobs over std::threads, for the exponentiations of
// one key exchange.

#include <cstddef>
#include <cstdint>
#include <functional>

// The threads to use for count jobs when `requested` were asked for (0: one
// per core): never more than there are jobs, and at least one.
unsigned ThreadsFor(unsigned requested, std::size_t count);

// Runs job(0) .. job(count - 1), each once, on ThreadsFor(threads, count)
// threads, the calling thread being one of them; returns when all are done.
// Jobs must only share read-only state. The first exception a job throws is
// rethrown here after every thread has stopped; jobs not yet started by then
// are skipped. Should the system refuse a thread, the others do its share.
void RunSpread(std::size_t count, unsigned threads, const std::function<void(std::size_t)>& job);

// Below this modulus size an exponentiation costs less than starting a thread.
constexpr int32_t kSpreadFromModulusBits = 256;
inline unsigned ThreadsForModulus(int32_t modulusBits, unsigned threads) {
    return modulusBits < kSpreadFromModulusBits ? 1 : threads;
}
