#include "cipher/rijndael.h"
#include "cipher_test_util.h"

#include <gtest/gtest.h>

namespace {

const std::string kFipsKey = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
const std::string kFipsPlain = FromHex("00112233445566778899aabbccddeeff");

class Exposed : public TRijndael {
public:
    using TRijndael::DecRoundKeys;
    using TRijndael::EncRoundKeys;
};

std::string EncryptOne(const std::string& key, uint32_t bits, const std::string& block, bool hardware = true) {
    TRijndael c;
    c.UseHardware(hardware);
    c.SetKey(key.data(), bits, nullptr);
    std::string out(16, '\0');
    c.EncryptBlock(block.data(), out.data());
    return out;
}

}  // namespace

TEST(Rijndael, Fips197AppendixCInBothDirectionsOnBothPaths) {
    const std::pair<uint32_t, const char*> vectors[] = {
        {128, "69c4e0d86a7b0430d8cdb78070b4c55a"},
        {192, "dda97ca4864cdfe06eaf70a0ec0d7191"},
        {256, "8ea2b7ca516745bfeafc49904b496089"},
    };
    for (bool hardware : {true, false}) {
        for (const auto& [bits, expected] : vectors) {
            TRijndael c;
            c.UseHardware(hardware);
            c.SetKey(kFipsKey.data(), bits, nullptr);
            std::string block(16, '\0');
            c.EncryptBlock(kFipsPlain.data(), block.data());
            EXPECT_EQ(ToHex(block), expected) << bits << " hardware " << hardware;
            c.DecryptBlock(block.data(), block.data());
            EXPECT_EQ(block, kFipsPlain) << bits;
        }
    }
}

TEST(Rijndael, SelfCheckAndClassValues) {
    EXPECT_TRUE(TRijndael::SelfCheck());
    EXPECT_EQ(TRijndael::Id(), 9);
    EXPECT_EQ(TRijndael::Algorithm(), "Rijndael");
    EXPECT_EQ(TRijndael::MaxKeySize(), 256);
    EXPECT_EQ(TRijndael::BlockSize(), 128);
}

TEST(Rijndael, FipsKeyScheduleLastWords) {
    // FIPS-197 Appendix A.1 and A.3: the last expanded word of each example.
    Exposed c;
    const std::string a1 = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
    c.SetKey(a1.data(), 128, nullptr);
    EXPECT_EQ(c.GetRounds(), 10);
    EXPECT_EQ(c.EncRoundKeys[10][3], 0xa60c63b6u);  // bytes b6 63 0c a6
    EXPECT_EQ(c.EncRoundKeys[11][0], 0u);
    const std::string a3 = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
    c.SetKey(a3.data(), 256, nullptr);
    EXPECT_EQ(c.EncRoundKeys[14][3], 0x1e636c70u);  // bytes 70 6c 63 1e
    EXPECT_EQ(c.GetRounds(), 14);
}

TEST(Rijndael, ShortAndOddKeyLengthsAreZeroExtended) {
    const std::string zero16(16, '\0');
    EXPECT_EQ(EncryptOne("\xff", 4, kFipsPlain), EncryptOne(zero16, 128, kFipsPlain));

    const std::string k = FromHex("0102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f20");
    TRijndael c;
    c.SetKey(k.data(), 132, nullptr);
    EXPECT_EQ(c.GetRounds(), 10);
    EXPECT_EQ(EncryptOne(k, 132, kFipsPlain), EncryptOne(k.substr(0, 16), 128, kFipsPlain));

    c.SetKey(k.data(), 136, nullptr);
    EXPECT_EQ(c.GetRounds(), 12);
    EXPECT_EQ(EncryptOne(k, 136, kFipsPlain), EncryptOne(k.substr(0, 17) + std::string(7, '\0'), 192, kFipsPlain));

    EXPECT_EQ(EncryptOne(k, 160, kFipsPlain), EncryptOne(k.substr(0, 20) + std::string(4, '\0'), 192, kFipsPlain));

    c.SetKey(k.data(), 200, nullptr);
    EXPECT_EQ(c.GetRounds(), 14);
    EXPECT_EQ(EncryptOne(k, 200, kFipsPlain), EncryptOne(k.substr(0, 25) + std::string(7, '\0'), 256, kFipsPlain));
    // Bits past the last whole byte play no part.
    EXPECT_EQ(EncryptOne(k, 204, kFipsPlain), EncryptOne(k, 200, kFipsPlain));
}

TEST(Rijndael, DecryptInvertsEncryptForEveryKeySizeInPlace) {
    std::mt19937 rng(17);
    for (bool hardware : {true, false}) {
        for (uint32_t bits : {128u, 192u, 256u}) {
            for (int i = 0; i < 5; ++i) {
                const std::string key = RandomBytes(rng, 32);
                const std::string plain = RandomBytes(rng, 16);
                TRijndael c;
                c.UseHardware(hardware);
                c.SetKey(key.data(), bits, nullptr);
                std::string block = plain;
                c.EncryptBlock(block.data(), block.data());
                EXPECT_NE(block, plain);
                c.DecryptBlock(block.data(), block.data());
                EXPECT_EQ(block, plain);
            }
        }
    }
}

TEST(Rijndael, WipeClearsTheSchedulesAndRefusesBlocks) {
    Exposed c;
    c.SetKey(kFipsKey.data(), 256, nullptr);
    c.Wipe();
    EXPECT_EQ(c.GetRounds(), 0);
    EXPECT_FALSE(c.IsReady());
    for (int r = 0; r < 15; ++r)
        for (int w = 0; w < 8; ++w) EXPECT_EQ(c.EncRoundKeys[r][w] | c.DecRoundKeys[r][w], 0u);
    std::string block(16, '\0');
    EXPECT_THROW(c.EncryptBlock(block.data(), block.data()), EBlockCipher);
}

TEST(Rijndael, RekeyingReplacesBothSchedules) {
    TRijndael c;
    c.SetKey(kFipsKey.data(), 256, nullptr);
    c.SetKey(kFipsKey.data(), 128, nullptr);
    EXPECT_EQ(c.GetRounds(), 10);
    std::string block(16, '\0');
    c.EncryptBlock(kFipsPlain.data(), block.data());
    EXPECT_EQ(ToHex(block), "69c4e0d86a7b0430d8cdb78070b4c55a");
    c.DecryptBlock(block.data(), block.data());
    EXPECT_EQ(block, kFipsPlain);
}
