#include "isaac/isaac.h"

#include <gtest/gtest.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

std::vector<uint32_t> LoadZeroSeedResults() {
    std::ifstream in(TEST_DATA_DIR "/isaac-zero-seed.txt");
    std::vector<uint32_t> words;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string hex;
        while (fields >> hex) words.push_back(static_cast<uint32_t>(std::stoul(hex, nullptr, 16)));
    }
    return words;
}

TIsaac ZeroSeeded() {
    const uint32_t zero[2] = {0, 0};
    TIsaac generator;
    generator.Seed(zero, 1, true);
    return generator;
}

}  // namespace

TEST(Isaac, ZeroSeedGivesKnownResultsInAscendingOrderAcrossTwoBlocks) {
    const std::vector<uint32_t> expected = LoadZeroSeedResults();
    ASSERT_EQ(expected.size(), 512u);
    TIsaac generator = ZeroSeeded();
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(generator.Next(), expected[i]) << "result " << i;
    }
}

TEST(Isaac, SeedWordsBeyondLastIndexAreIgnored) {
    const uint32_t seedA[3] = {1, 2, 0xDEAD};
    const uint32_t seedB[3] = {1, 2, 0xBEEF};
    TIsaac a, b;
    a.Seed(seedA, 1, true);
    b.Seed(seedB, 1, true);
    for (int i = 0; i < 600; ++i) ASSERT_EQ(a.Next(), b.Next());

    TIsaac c;
    c.Seed(seedA, 2, true);
    TIsaac d;
    d.Seed(seedA, 1, true);
    EXPECT_NE(c.Next(), d.Next());
}

TEST(Isaac, ReseedingRestartsTheSequence) {
    TIsaac generator = ZeroSeeded();
    const uint32_t first = generator.Next();
    for (int i = 0; i < 300; ++i) generator.Next();
    const uint32_t zero[1] = {0};
    generator.Seed(zero, 0, true);
    EXPECT_EQ(generator.Next(), first);
}

TEST(Isaac, UnseededInitialisationIgnoresResultsAndDiffersFromZeroSeed) {
    TIsaac plain;
    plain.Seed(nullptr, 0, false);
    TIsaac again;
    again.Seed(nullptr, 0, false);
    TIsaac zero = ZeroSeeded();
    bool differsFromZeroSeed = false;
    for (int i = 0; i < 256; ++i) {
        const uint32_t value = plain.Next();
        ASSERT_EQ(value, again.Next());
        differsFromZeroSeed |= value != zero.Next();
    }
    EXPECT_TRUE(differsFromZeroSeed);
}

TEST(Isaac, RangeIsAbsoluteTruncatingRemainderOfSignedResult) {
    const std::vector<uint32_t> expected = LoadZeroSeedResults();
    TIsaac generator = ZeroSeeded();
    for (size_t i = 0; i < 512; ++i) {
        const int64_t signedValue = static_cast<int32_t>(expected[i]);
        const int32_t n = static_cast<int32_t>(i % 97) + 1;
        const int64_t remainder = signedValue % n;
        ASSERT_EQ(generator.Range(n), remainder < 0 ? -remainder : remainder) << "draw " << i;
    }
}

TEST(Isaac, RangeStaysInBounds) {
    TIsaac generator = ZeroSeeded();
    for (int i = 0; i < 2000; ++i) {
        ASSERT_EQ(generator.Range(1), 0);
        const int32_t c = generator.Range(95) + 32;
        ASSERT_GE(c, 32);
        ASSERT_LE(c, 126);
    }
}

TEST(Isaac, RangeRefusesBoundsOfZeroAndBelowWithoutDrawing) {
    const std::vector<uint32_t> expected = LoadZeroSeedResults();
    ASSERT_FALSE(expected.empty());
    TIsaac generator = ZeroSeeded();
    const std::pair<int32_t, const char*> refused[] = {{0, "Invalid range: 0"},
                                                       {-1, "Invalid range: -1"},
                                                       {-97, "Invalid range: -97"},
                                                       {INT32_MIN, "Invalid range: -2147483648"}};
    for (const auto& [bound, text] : refused) {
        try {
            generator.Range(bound);
            ADD_FAILURE() << "no error for " << bound;
        } catch (const std::invalid_argument& error) {
            EXPECT_STREQ(error.what(), text);
        }
    }
    // The refused calls took nothing from the sequence.
    EXPECT_EQ(generator.Next(), expected[0]);
}

TEST(Isaac, EntropySeededGeneratorsDiffer) {
    TIsaac a, b;
    SeedFromSystemEntropy(a);
    SeedFromSystemEntropy(b);
    int equal = 0;
    for (int i = 0; i < 16; ++i) equal += a.Next() == b.Next();
    EXPECT_LT(equal, 16);
}

#include "isaac/generalrandom.h"

TEST(GeneralRandom, IsTheFixedLinearCongruentialSequence) {
    ResetGeneralRandom();
    uint32_t seed = 0;
    for (int i = 0; i < 100; ++i) {
        seed = seed * 134775813u + 1u;
        const uint32_t n = 255 + static_cast<uint32_t>(i);
        ASSERT_EQ(GeneralRandom(n), static_cast<uint32_t>((uint64_t{n} * seed) >> 32));
    }
    ResetGeneralRandom();
    EXPECT_EQ(GeneralRandom(1u << 16), static_cast<uint32_t>((uint64_t{1} << 16) * 1u >> 32));
}
