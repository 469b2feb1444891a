// The garbage text against draws taken straight from the generator's raw
// results, with the range reduction done here independently.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "antikeylogger/antikeyloggercommon.h"

namespace {

TIsaac Seeded(uint32_t word0, uint32_t word1) {
    TIsaac generator;
    const uint32_t seed[2] = {word0, word1};
    generator.Seed(seed, 1, true);
    return generator;
}

// Truncating remainder of the signed result, made positive.
int32_t Draw(TIsaac& generator, int32_t n) {
    const auto value = static_cast<int32_t>(generator.Next());
    return std::abs(value % n);
}

std::string ExpectedGarbage(TIsaac& generator, int n) {
    static const char* const vowels[12] = {"a", "a", "a", "e", "e", "e", "e", "i", "i", "o", "o", "u"};
    std::string text;
    for (int i = 0; i < n; ++i) {
        if (Draw(generator, 10) == 4) {
            text += vowels[Draw(generator, 12)];
            continue;
        }
        if (Draw(generator, 7) == 3) {
            text += ' ';
            continue;
        }
        const int code = Draw(generator, 93) + 32;
        text += static_cast<char>(code == 96 ? 'e' : code);
    }
    return text;
}

TEST(GarbageText, VowelTableIsTheWeightedTwelve) {
    std::string joined;
    for (std::string_view vowel : GarbageVowels) joined += vowel;
    EXPECT_EQ(joined, "aaaeeeeiioou");
}

TEST(GarbageText, MatchesIndependentDrawsForManySeedsAndLengths) {
    for (uint32_t seed = 0; seed < 40; ++seed) {
        for (int16_t n : {int16_t{1}, int16_t{2}, int16_t{7}, int16_t{24}, int16_t{300}}) {
            TIsaac generator = Seeded(seed, seed * 7919u + 3u);
            TIsaac reference = Seeded(seed, seed * 7919u + 3u);
            const std::string text = MakeGarbageText(n, generator);
            ASSERT_EQ(text, ExpectedGarbage(reference, n)) << "seed " << seed << " n " << n;
            // Exactly the same number of draws was taken.
            ASSERT_EQ(generator.Next(), reference.Next()) << "seed " << seed << " n " << n;
        }
    }
}

TEST(GarbageText, EmptyForZeroOrNegativeAndDrawsNothing) {
    TIsaac generator = Seeded(1, 2);
    TIsaac reference = Seeded(1, 2);
    EXPECT_EQ(MakeGarbageText(0, generator), "");
    EXPECT_EQ(MakeGarbageText(-5, generator), "");
    EXPECT_EQ(generator.Next(), reference.Next());
}

}  // namespace
