#include "isaac.h"

#include "secure/securewipe.h"

#include <algorithm>
#include <cstdlib>
#include <random>
#include <stdexcept>
#include <string>

namespace {

constexpr uint32_t kGoldenRatio = 0x9E3779B9u;

// The mixing steps read best as the generator's description lays them out.
// clang-format off
struct MixState {
    uint32_t a, b, c, d, e, f, g, h;

    void Mix() {
        a ^= b << 11; d += a; b += c;
        b ^= c >> 2;  e += b; c += d;
        c ^= d << 8;  f += c; d += e;
        d ^= e >> 16; g += d; e += f;
        e ^= f << 10; h += e; f += g;
        f ^= g >> 4;  a += f; g += h;
        g ^= h << 8;  b += g; h += a;
        h ^= a >> 9;  c += h; a += b;
    }

    void AddFrom(const uint32_t* w) {
        a += w[0]; b += w[1]; c += w[2]; d += w[3];
        e += w[4]; f += w[5]; g += w[6]; h += w[7];
    }

    void StoreTo(uint32_t* w) const {
        w[0] = a; w[1] = b; w[2] = c; w[3] = d;
        w[4] = e; w[5] = f; w[6] = g; w[7] = h;
    }
};
// clang-format on

}  // namespace

TIsaac::~TIsaac() {
    SecureWipe(Results, sizeof Results);
    SecureWipe(Memory, sizeof Memory);
    SecureWipe(&Accumulator, sizeof Accumulator);
    SecureWipe(&LastResult, sizeof LastResult);
    SecureWipe(&Counter, sizeof Counter);
}

void TIsaac::Seed(const uint32_t* words, uint8_t lastIndex, bool useSeed) {
    if (useSeed) {
        std::fill(std::begin(Results), std::end(Results), 0u);
        std::copy(words, words + lastIndex + 1, Results);
    }
    Initialise(useSeed);
    Generate();
}

void TIsaac::Initialise(bool useSeed) {
    Accumulator = LastResult = Counter = 0;
    MixState s{kGoldenRatio, kGoldenRatio, kGoldenRatio, kGoldenRatio,
               kGoldenRatio, kGoldenRatio, kGoldenRatio, kGoldenRatio};
    for (int i = 0; i < 4; ++i) s.Mix();

    if (useSeed) {
        // Two passes so that every seed word affects every state word.
        for (int i = 0; i < kSize; i += 8) {
            s.AddFrom(&Results[i]);
            s.Mix();
            s.StoreTo(&Memory[i]);
        }
        for (int i = 0; i < kSize; i += 8) {
            s.AddFrom(&Memory[i]);
            s.Mix();
            s.StoreTo(&Memory[i]);
        }
    } else {
        for (int i = 0; i < kSize; i += 8) {
            s.Mix();
            s.StoreTo(&Memory[i]);
        }
    }
}

void TIsaac::Generate() {
    uint32_t a = Accumulator;
    uint32_t b = LastResult + (++Counter);
    for (int i = 0; i < kSize; ++i) {
        const uint32_t x = Memory[i];
        switch (i & 3) {
            case 0: a ^= a << 13; break;
            case 1: a ^= a >> 6; break;
            case 2: a ^= a << 2; break;
            case 3: a ^= a >> 16; break;
        }
        a += Memory[(i + kSize / 2) & (kSize - 1)];
        const uint32_t y = Memory[(x >> 2) & (kSize - 1)] + a + b;
        Memory[i] = y;
        b = Memory[(y >> 10) & (kSize - 1)] + x;
        Results[i] = b;
    }
    Accumulator = a;
    LastResult = b;
    Index = 0;
}

uint32_t TIsaac::Next() {
    const uint32_t result = Results[Index];
    if (++Index == kSize) Generate();
    return result;
}

int32_t TIsaac::Range(int32_t n) {
    if (n <= 0) throw std::invalid_argument("Invalid range: " + std::to_string(n));
    const int64_t value = static_cast<int32_t>(Next());
    return static_cast<int32_t>(std::llabs(value % n));
}

bool TIsaac::SelfCheck() {
    // Results 0-3 and 256-259 of the zero seed: both ends of the first block switch.
    static constexpr uint32_t kFirstBlock[] = {0xe76dd339, 0xd91aa738, 0xd32956e5, 0xa264e933};
    static constexpr uint32_t kSecondBlock[] = {0xf650e4c8, 0xe448e96d, 0x98db2fb4, 0xf5fad54f};
    const uint32_t zero[1] = {0};
    TIsaac generator;
    generator.Seed(zero, 0, true);
    bool ok = true;
    for (uint32_t expected : kFirstBlock) ok &= generator.Next() == expected;
    for (int i = 4; i < kSize; ++i) generator.Next();
    for (uint32_t expected : kSecondBlock) ok &= generator.Next() == expected;
    return ok;
}

void SeedFromSystemEntropy(TIsaac& generator) {
    std::random_device device;
    uint32_t seed[TIsaac::kSize];
    for (uint32_t& word : seed) word = device();
    generator.Seed(seed, TIsaac::kSize - 1, true);
    // The seed is dead from here on, so a plain fill could be dropped.
    SecureWipe(seed, sizeof seed);
}
