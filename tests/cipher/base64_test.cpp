#include "cipher/base64.h"
#include "cipher_test_util.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

TEST(Base64, Rfc4648Section10) {
    const std::pair<const char*, const char*> cases[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
    for (const auto& [plain, encoded] : cases) {
        EXPECT_EQ(EncodeBase64Text(plain), encoded);
        EXPECT_EQ(DecodeBase64Text(encoded), plain);
    }
}

TEST(Base64, BufferRoutinesReportTheirCounts) {
    char out[12] = {};
    EXPECT_EQ(EncodeBase64("foob", out, 4), 8);
    EXPECT_EQ(std::string(out, 8), "Zm9vYg==");
    EXPECT_EQ(EncodeBase64("x", out, 0), 0);
    // A negative count writes nothing instead of a negative length.
    EXPECT_EQ(EncodeBase64("x", out, -5), 0);
    char bytes[6] = {};
    EXPECT_EQ(DecodeBase64("Zm9vYg==", bytes, 8), 4);
    EXPECT_EQ(std::string(bytes, 4), "foob");
    EXPECT_EQ(DecodeBase64("Zm9vYg==", bytes, 7), 3);
    EXPECT_EQ(DecodeBase64("Zm9", bytes, 3), 0);
    EXPECT_EQ(DecodeBase64("Zm9v", bytes, -4), 0);
}

TEST(Base64, EncodingRefusesSizesWhoseCountWouldNotFit32Bits) {
    // Refused before a byte is read or written: the buffers are far smaller
    // than the sizes claimed. 1610612734 bytes would take 2^31 characters.
    const char input[4] = "abc";
    for (const int32_t size : {1610612734, 1610612736, INT32_MAX}) {
        char out[8];
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(EncodeBase64(input, out, size), 0) << size;
        EXPECT_EQ(std::string(out, sizeof out), "########") << size;
    }
}

TEST(Base64, ShortAndTrailingCharactersAreIgnored) {
    for (const char* s : {"Z", "Zm", "Zm9", "===", "\n\n\n"}) EXPECT_EQ(DecodeBase64Text(s), "") << s;
    EXPECT_EQ(DecodeBase64Text("Zm9vYm"), "foo");
}

TEST(Base64, PaddedGroupInTheMiddleShortensAndDecodingGoesOn) {
    EXPECT_EQ(DecodeBase64Text("Zg==Zm9v"), "ffoo");
    EXPECT_EQ(DecodeBase64Text("Zm8=Zg=="), "fof");
}

TEST(Base64, LineBreaksTakeTheirPlaceInTheGroup) {
    // The break takes the first slot of the second group, which keeps 'Z'
    // from the first group; "YmF" shift one place and the final 'y' is left over.
    EXPECT_EQ(DecodeBase64Text("Zm9v\nYmFy"), "fooe\x89\x85");
}

TEST(Base64, UnknownCharactersKeepTheSlotOfThePreviousGroup) {
    EXPECT_EQ(DecodeBase64Text("Zm9vY*Fy"), "foobar");
    // In the first group the slot starts at zero.
    EXPECT_EQ(DecodeBase64Text("*m9v"), "\x02oo");
}

TEST(Base64, PaddingMarkerInOddPlaces) {
    EXPECT_EQ(DecodeBase64Text("=AAA"), std::string("\xfc\x00\x00", 3));
    EXPECT_EQ(DecodeBase64Text("AA=A"), std::string("\x00", 1));
    EXPECT_EQ(DecodeBase64Text("AAA="), std::string("\x00\x00", 2));
}

TEST(Base64, EveryByteStringSurvivesTheRoundTripAndNeverYieldsZeroBytes) {
    std::mt19937 rng(1);
    for (size_t n = 0; n < 300; ++n) {
        const std::string x = RandomBytes(rng, n);
        const std::string encoded = EncodeBase64Text(x);
        EXPECT_EQ(encoded.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(encoded.find('\0'), std::string::npos);
        EXPECT_EQ(DecodeBase64Text(encoded), x) << n;
    }
}
