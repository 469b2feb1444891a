#include "cipher/blockciphers.h"
#include "cipher/rijndael.h"
#include "cipher_test_util.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// NIST SP 800-38A, Appendix F, AES-256.
const std::string kKey = FromHex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const std::string kIv = FromHex("000102030405060708090a0b0c0d0e0f");
const std::string kPlain = FromHex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

// Lets tests see the vectors the way the object holds them.
class Exposed : public TRijndael {
public:
    using TRijndael::ChainValue;
    using TRijndael::DecRoundKeys;
    using TRijndael::EncRoundKeys;
    using TRijndael::InitVector;
    using TRijndael::Rounds;
};

using Op = void (TBlockCipher::*)(const void*, void*, uint32_t);

struct Mode {
    const char* Name;
    Op Encrypt;
    Op Decrypt;
};

const Mode kModes[] = {
    {"CBC", &TBlockCipher::CbcEncrypt, &TBlockCipher::CbcDecrypt},
    {"CFB8", &TBlockCipher::Cfb8Encrypt, &TBlockCipher::Cfb8Decrypt},
    {"CFB", &TBlockCipher::CfbBlockEncrypt, &TBlockCipher::CfbBlockDecrypt},
    {"OFB", &TBlockCipher::OfbEncrypt, &TBlockCipher::OfbDecrypt},
    {"CTR", &TBlockCipher::CtrEncrypt, &TBlockCipher::CtrDecrypt},
};

std::string Apply(TBlockCipher& cipher, Op op, const std::string& input) {
    std::string out(input.size(), '\0');
    (cipher.*op)(input.data(), out.data(), static_cast<uint32_t>(input.size()));
    return out;
}

std::string ChainOf(TBlockCipher& cipher) {
    std::string chain(16, '\0');
    cipher.GetChainValue(chain.data());
    return chain;
}

void CheckVector(Op encrypt, Op decrypt, const std::string& iv, const std::string& plain,
                 const std::string& cipherHex) {
    for (bool hardware : {true, false}) {
        TRijndael c;
        c.UseHardware(hardware);
        c.SetKey(kKey.data(), 256, iv.data());
        EXPECT_EQ(ToHex(Apply(c, encrypt, plain)), cipherHex) << "hardware " << hardware;
        c.Restart();
        EXPECT_EQ(ToHex(Apply(c, decrypt, FromHex(cipherHex))), ToHex(plain)) << "hardware " << hardware;
    }
}

}  // namespace

TEST(BlockModesKnownAnswers, Aes256Cbc) {
    CheckVector(&TBlockCipher::CbcEncrypt, &TBlockCipher::CbcDecrypt, kIv, kPlain,
                "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
                "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b");
}

TEST(BlockModesKnownAnswers, Aes256Cfb8) {
    CheckVector(&TBlockCipher::Cfb8Encrypt, &TBlockCipher::Cfb8Decrypt, kIv, kPlain.substr(0, 18),
                "dc1f1a8520a64db55fcc8ac554844e889700");
}

TEST(BlockModesKnownAnswers, Aes256Cfb128) {
    CheckVector(&TBlockCipher::CfbBlockEncrypt, &TBlockCipher::CfbBlockDecrypt, kIv, kPlain,
                "dc7e84bfda79164b7ecd8486985d386039ffed143b28b1c832113c6331e5407b"
                "df10132415e54b92a13ed0a8267ae2f975a385741ab9cef82031623d55b1e471");
}

TEST(BlockModesKnownAnswers, Aes256Ofb) {
    CheckVector(&TBlockCipher::OfbEncrypt, &TBlockCipher::OfbDecrypt, kIv, kPlain,
                "dc7e84bfda79164b7ecd8486985d38604febdc6740d20b3ac88f6ad82a4fb08d"
                "71ab47a086e86eedf39d1c5bba97c4080126141d67f37be8538f5a8be740e484");
}

TEST(BlockModesKnownAnswers, Aes256Ctr) {
    CheckVector(&TBlockCipher::CtrEncrypt, &TBlockCipher::CtrDecrypt, FromHex("f0f1f2f3f4f5f6f7f8f9fafbfcfdfeff"),
                kPlain,
                "601ec313775789a5b7a7f504bbf3d228f443e3ca4d62b59aca84e990cacaf5c5"
                "2b0930daa23de94ce87017ba2d84988ddfc9c58db67aada613c2dd08457941a6");
}

TEST(BlockModes, DerivedInitialVectorIsTheEncryptedZeroBlock) {
    TRijndael c;
    c.SetKey(kKey.data(), 256, nullptr);
    std::string zero(16, '\0'), expected(16, '\0');
    c.EncryptBlock(zero.data(), expected.data());
    EXPECT_EQ(ChainOf(c), expected);
    c.SetKey(kKey.data(), 256, kIv.data());
    EXPECT_EQ(ChainOf(c), kIv);
    const std::string other = FromHex("ffeeddccbbaa99887766554433221100");
    Apply(c, &TBlockCipher::CbcEncrypt, kPlain);
    c.LoadIV(other.data());
    EXPECT_EQ(ChainOf(c), other);
}

TEST(BlockModes, BlockModesSplitOnlyAtBlockBoundaries) {
    for (const Mode& m : kModes) {
        if (m.Encrypt == &TBlockCipher::Cfb8Encrypt) continue;
        TRijndael whole, halves, tails;
        for (TRijndael* c : {&whole, &halves, &tails}) c->SetKey(kKey.data(), 256, kIv.data());
        const std::string p40 = kPlain.substr(0, 40);
        // Operands of + are unordered, so every call gets its own statement.
        const std::string first16 = Apply(halves, m.Encrypt, kPlain.substr(0, 16));
        const std::string second16 = Apply(halves, m.Encrypt, kPlain.substr(16, 16));
        EXPECT_EQ(Apply(whole, m.Encrypt, kPlain.substr(0, 32)), first16 + second16) << m.Name;
        whole.Restart();
        // A tail uses up a whole keystream block, so 20 + 20 is not 40.
        const std::string first20 = Apply(tails, m.Encrypt, p40.substr(0, 20));
        const std::string second20 = Apply(tails, m.Encrypt, p40.substr(20));
        EXPECT_NE(Apply(whole, m.Encrypt, p40), first20 + second20) << m.Name;
    }
}

TEST(BlockModes, TailIsTheInputXorTheNextEncryptedChainValue) {
    for (const Mode& m : kModes) {
        if (m.Encrypt == &TBlockCipher::Cfb8Encrypt || m.Encrypt == &TBlockCipher::CtrEncrypt) continue;
        for (Op op : {m.Encrypt, m.Decrypt}) {
            TRijndael c;
            c.SetKey(kKey.data(), 256, kIv.data());
            std::string keystream(16, '\0');
            c.EncryptBlock(kIv.data(), keystream.data());
            const std::string out = Apply(c, op, kPlain.substr(0, 5));
            for (int j = 0; j < 5; ++j) EXPECT_EQ(out[j], static_cast<char>(kPlain[j] ^ keystream[j])) << m.Name;
            EXPECT_EQ(ChainOf(c), keystream) << m.Name;
        }
    }
}

TEST(BlockModes, Cfb8IsTheSameHoweverTheInputIsSplit) {
    std::mt19937 rng(3);
    const std::string text = RandomBytes(rng, 300);
    TRijndael whole;
    whole.SetKey(kKey.data(), 256, kIv.data());
    const std::string expected = Apply(whole, &TBlockCipher::Cfb8Encrypt, text);
    const std::string chainAfter = ChainOf(whole);
    EXPECT_EQ(chainAfter, expected.substr(284)) << "the register holds the last 16 ciphertext bytes";
    TRijndael pieces;
    pieces.SetKey(kKey.data(), 256, kIv.data());
    std::string got;
    for (size_t at = 0, step = 1; at < text.size(); at += step, step = step * 2 + 1)
        got += Apply(pieces, &TBlockCipher::Cfb8Encrypt, text.substr(at, step));
    EXPECT_EQ(got, expected);
    // Fewer than 16 bytes: the rest of the initial vector, then the ciphertext.
    TRijndael few;
    few.SetKey(kKey.data(), 256, kIv.data());
    const std::string five = Apply(few, &TBlockCipher::Cfb8Encrypt, text.substr(0, 5));
    EXPECT_EQ(ChainOf(few), kIv.substr(5) + five);
}

TEST(BlockModes, EveryModeDecryptsWhatItEncryptedInPlaceToo) {
    std::mt19937 rng(11);
    for (const Mode& m : kModes) {
        for (size_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 33u, 100u}) {
            const std::string text = RandomBytes(rng, n);
            TRijndael enc, dec;
            enc.SetKey(kKey.data(), 192, nullptr);
            dec.SetKey(kKey.data(), 192, nullptr);
            std::string buffer = text;
            (enc.*m.Encrypt)(buffer.data(), buffer.data(), static_cast<uint32_t>(n));
            if (n >= 16) {
                EXPECT_NE(buffer, text) << m.Name;
            }
            (dec.*m.Decrypt)(buffer.data(), buffer.data(), static_cast<uint32_t>(n));
            EXPECT_EQ(buffer, text) << m.Name << " " << n;
        }
    }
}

TEST(BlockModes, SizeZeroChangesNothing) {
    for (const Mode& m : kModes) {
        TRijndael c;
        c.SetKey(kKey.data(), 256, kIv.data());
        char out = '#';
        (c.*m.Encrypt)(kPlain.data(), &out, 0);
        (c.*m.Decrypt)(kPlain.data(), &out, 0);
        EXPECT_EQ(out, '#');
        EXPECT_EQ(ChainOf(c), kIv) << m.Name;
    }
}

TEST(BlockModes, StepCounterCarriesAndWraps) {
    Exposed c;
    c.SetKey(kKey.data(), 256, FromHex("000000000000000000000000000affff").data());
    c.StepCounter();
    EXPECT_EQ(ToHex(ChainOf(c)), "000000000000000000000000000b0000");
    c.LoadIV(FromHex("00ffffffffffffffffffffffffffffff").data());
    c.StepCounter();
    EXPECT_EQ(ToHex(ChainOf(c)), "01000000000000000000000000000000");
    c.LoadIV(std::string(16, '\xff').data());
    c.StepCounter();
    EXPECT_EQ(ChainOf(c), std::string(16, '\0'));
    // CTR runs the counter once per block and once for a tail.
    c.LoadIV(std::string(16, '\xff').data());
    Apply(c, &TBlockCipher::CtrEncrypt, kPlain.substr(0, 33));
    EXPECT_EQ(ToHex(ChainOf(c)), "00000000000000000000000000000002");
}

TEST(BlockModes, UnkeyedOrWipedObjectsRefuseEveryOperation) {
    Exposed c;
    EXPECT_EQ(std::string(reinterpret_cast<char*>(c.InitVector), 16), std::string(16, '\xff'));
    for (int keyed = 0; keyed < 2; ++keyed) {
        if (keyed) {
            c.SetKey(kKey.data(), 256, nullptr);
            c.Wipe();
            EXPECT_EQ(std::string(reinterpret_cast<char*>(c.InitVector), 16), std::string(16, '\xff'));
            EXPECT_EQ(std::string(reinterpret_cast<char*>(c.ChainValue), 16), std::string(16, '\xff'));
        }
        char buffer[16] = {};
        for (const Mode& m : kModes) {
            EXPECT_THROW((c.*m.Encrypt)(buffer, buffer, 0), EBlockCipher) << m.Name;
            EXPECT_THROW((c.*m.Decrypt)(buffer, buffer, 16), EBlockCipher) << m.Name;
        }
        EXPECT_THROW(c.Restart(), EBlockCipher);
        EXPECT_THROW(c.LoadIV(buffer), EBlockCipher);
        EXPECT_THROW(c.GetChainValue(buffer), EBlockCipher);
        EXPECT_THROW(c.EncryptBlock(buffer, buffer), EBlockCipher);
        EXPECT_THROW(c.DecryptBlock(buffer, buffer), EBlockCipher);
        EXPECT_EQ(buffer[0], 0);
    }
}

TEST(BlockModes, RijndaelCfb8MatchesTheGenericLayer) {
    std::mt19937 rng(5);
    for (bool hardware : {true, false}) {
        for (size_t n : {1u, 7u, 8u, 9u, 16u, 17u, 1023u, 1024u, 1025u, 2100u}) {
            const std::string text = RandomBytes(rng, n);
            TRijndael fast, generic;
            fast.UseHardware(hardware);
            fast.SetKey(kKey.data(), 128, kIv.data());
            generic.SetKey(kKey.data(), 128, kIv.data());
            // The generic loop is reached only by a qualified call.
            std::string generic8(n, '\0');
            generic.TBlockCipher128::Cfb8Encrypt(text.data(), generic8.data(), static_cast<uint32_t>(n));
            EXPECT_EQ(Apply(fast, &TBlockCipher::Cfb8Encrypt, text), generic8) << n;
            generic.Restart();
            generic.TBlockCipher128::Cfb8Decrypt(text.data(), generic8.data(), static_cast<uint32_t>(n));
            fast.Restart();
            EXPECT_EQ(Apply(fast, &TBlockCipher::Cfb8Decrypt, text), generic8) << n;
            EXPECT_EQ(ChainOf(fast), ChainOf(generic));
        }
    }
}
