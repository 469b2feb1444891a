#include "rsa/encryptionplan.h"

#include "secure/securewipe.h"

namespace {

using TPrimes = std::array<uint8_t, TEncryptionPlan::kMaxFactors>;

// Prime factors of value >= 2, ascending, repeated by multiplicity; returns how many.
std::size_t PrimeFactors(unsigned value, TPrimes& primes) {
    std::size_t count = 0;
    for (unsigned p = 2; p * p <= value; ++p) {
        while (value % p == 0) {
            primes[count++] = static_cast<uint8_t>(p);
            value /= p;
        }
    }
    if (value > 1) primes[count++] = static_cast<uint8_t>(value);
    return count;
}

// For each prime, how many of the bytes built from primes it divides.
using TPrimeUses = std::array<int16_t, TEncryptionPlan::kByteValues>;

// Adds step to the uses of each distinct prime of b.
void CountPrimes(unsigned b, int step, TPrimeUses& uses) {
    TPrimes primes;
    const std::size_t count = PrimeFactors(b, primes);
    for (std::size_t i = 0; i < count; ++i) {
        if (i == 0 || primes[i] != primes[i - 1]) uses[primes[i]] = static_cast<int16_t>(uses[primes[i]] + step);
    }
}

// True if some prime of b is needed by no other byte built from primes.
bool HasOwnPrime(unsigned b, const TPrimeUses& uses) {
    TPrimes primes;
    const std::size_t count = PrimeFactors(b, primes);
    for (std::size_t i = 0; i < count; ++i) {
        if (uses[primes[i]] == 1) return true;
    }
    return false;
}

}  // namespace

TEncryptionPlan::TEncryptionPlan(std::string_view text, bool useProducts) {
    std::array<bool, kByteValues> present{};
    for (const char c : text) present[static_cast<unsigned char>(c)] = true;
    ChooseRaised(present, useProducts);
    ListPowers(present);
    ListFactors(present);
    SecureWipe(present.data(), sizeof present);
    // The helpers' frames held the same facts about the text.
    SecureWipeStack();
}

TEncryptionPlan::~TEncryptionPlan() {
    SecureWipe(Raised.data(), sizeof Raised);
    SecureWipe(Powers.data(), sizeof Powers);
    SecureWipe(PowerIndex.data(), sizeof PowerIndex);
    SecureWipe(Factors.data(), sizeof Factors);
}

void TEncryptionPlan::ChooseRaised(const std::array<bool, kByteValues>& present, bool useProducts) {
    // 0 and 1 have no prime factors. Every other byte starts out built from
    // its primes; a byte with a prime that no other built byte needs costs
    // an exponentiation for that prime anyway, so it is raised itself (the
    // same count or fewer, and no multiplications). That can leave another
    // byte alone with a prime, hence the repeat until nothing changes.
    std::array<bool, kByteValues> built{};
    TPrimeUses uses{};
    for (unsigned b = 0; b < kByteValues; ++b) {
        Raised[b] = present[b] && (b < 2 || !useProducts);
        built[b] = present[b] && !Raised[b];
        if (built[b]) CountPrimes(b, 1, uses);
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (unsigned b = 2; b < kByteValues; ++b) {
            if (!built[b] || !HasOwnPrime(b, uses)) continue;
            built[b] = false;
            Raised[b] = true;
            CountPrimes(b, -1, uses);
            changed = true;
        }
    }
}

void TEncryptionPlan::ListPowers(const std::array<bool, kByteValues>& present) {
    std::array<bool, kByteValues> power{};
    TPrimes primes;
    for (unsigned b = 0; b < kByteValues; ++b) {
        if (!present[b]) continue;
        if (Raised[b]) {
            power[b] = true;
            continue;
        }
        const std::size_t count = PrimeFactors(b, primes);
        for (std::size_t i = 0; i < count; ++i) power[primes[i]] = true;
    }
    PowerIndex.fill(-1);
    for (unsigned b = 0; b < kByteValues; ++b) {
        if (!power[b]) continue;
        PowerIndex[b] = static_cast<int16_t>(PowerCountValue);
        Powers[PowerCountValue++] = static_cast<uint8_t>(b);
    }
}

void TEncryptionPlan::ListFactors(const std::array<bool, kByteValues>& present) {
    TPrimes primes;
    for (unsigned b = 0; b < kByteValues; ++b) {
        if (!present[b]) continue;
        TFactors& factors = Factors[b];
        if (Raised[b]) {
            factors.Indices[factors.Count++] = static_cast<uint8_t>(PowerIndex[b]);
            continue;
        }
        const std::size_t count = PrimeFactors(b, primes);
        for (std::size_t i = 0; i < count; ++i)
            factors.Indices[factors.Count++] = static_cast<uint8_t>(PowerIndex[primes[i]]);
    }
}
