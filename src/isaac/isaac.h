#pragma once
// ISAAC, 32-bit with a 256-word state: the source of every random number that
// ends up in key material or garbage keystrokes.

#include <cstdint>

class TIsaac {
public:
    static constexpr int kSize = 256;

    TIsaac() = default;
    TIsaac(const TIsaac&) = default;
    TIsaac& operator=(const TIsaac&) = default;
    // Its state predicts every later result, so it is wiped with the object.
    ~TIsaac();

    // (Re)initialises the generator. With useSeed, words[0..lastIndex] become the
    // seed (the rest of the seed is zero); without it the seed is not used at all.
    void Seed(const uint32_t* words, uint8_t lastIndex, bool useSeed);

    // Results are handed out in ascending order; a new block is generated right
    // after the 256th result of the current one has been taken.
    uint32_t Next();

    // 0 .. n-1 for a positive n: truncating remainder of the signed result, made
    // positive. Not corrected for bias, by design of the draws that depend on it.
    // A bound of 0 or less raises std::invalid_argument ("Invalid range: 0")
    // without drawing.
    int32_t Range(int32_t n);

    // Known answer: the first results of the all-zero seed.
    static bool SelfCheck();

private:
    void Generate();
    void Initialise(bool useSeed);

    int32_t Index = 0;
    uint32_t Results[kSize] = {};
    uint32_t Memory[kSize] = {};
    uint32_t Accumulator = 0;
    uint32_t LastResult = 0;
    uint32_t Counter = 0;
};

// Seeds the whole seed array from the operating system's entropy source.
void SeedFromSystemEntropy(TIsaac& generator);
