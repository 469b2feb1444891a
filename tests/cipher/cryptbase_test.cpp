#include "cipher/base64.h"
#include "cipher/cryptbase.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "cipher_test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

// A digest of 512 bits with fixed bytes 1, 4, 7, ...: wider than any key.
class WideHash : public THash {
public:
    static int32_t Id() { return 900; }
    static std::string Algorithm() { return "Wide"; }
    static int32_t HashSize() { return 512; }
    static bool SelfCheck() { return true; }
    const THashClass& ClassType() const override { return HashClassOf<WideHash>(); }
    void Initialize() override { Ready = true; }
    void AddBytes(const void*, uint32_t) override {}
    void Finish(void* digest) override {
        for (int i = 0; i < GetHashSize() / 8; ++i) static_cast<uint8_t*>(digest)[i] = static_cast<uint8_t>(3 * i + 1);
        Ready = false;
    }
    void Wipe() override { Ready = false; }
};

class ThrowingHash : public WideHash {
public:
    static int32_t HashSize() { return 256; }
    const THashClass& ClassType() const override { return HashClassOf<ThrowingHash>(); }
    void Finish(void*) override { throw EHash("Hash not initialized"); }
};

// A digest size that no cipher accepts as a key length.
class OddHash : public WideHash {
public:
    static int32_t HashSize() { return 10; }
    const THashClass& ClassType() const override { return HashClassOf<OddHash>(); }
};

// Remembers the sizes AddBytes saw.
class CountingHash : public WideHash {
public:
    const THashClass& ClassType() const override { return HashClassOf<CountingHash>(); }
    void AddBytes(const void*, uint32_t size) override { Sizes.push_back(size); }
    std::vector<uint32_t> Sizes;
};

// A stream cipher straight on TCipher, so the base text operations and the
// base key-length rule are exercised without the block layer.
class XorCipher : public TCipher {
public:
    static int32_t Id() { return 901; }
    static std::string Algorithm() { return "Xor"; }
    static int32_t MaxKeySize() { return 64; }
    static bool SelfCheck() { return true; }
    const TCipherClass& ClassType() const override { return CipherClassOf<XorCipher>(); }
    void SetKey(const void* key, uint32_t bits, const void* iv) override {
        TCipher::SetKey(key, bits, iv);
        std::memcpy(Key, key, bits / 8);
        Length = bits / 8;
    }
    void EncryptBytes(const void* in, void* out, uint32_t size) override { Apply(in, out, size); }
    void DecryptBytes(const void* in, void* out, uint32_t size) override { Apply(in, out, size); }
    uint8_t Key[8] = {};
    uint32_t Length = 0;

private:
    void Apply(const void* in, void* out, uint32_t size) {
        for (uint32_t i = 0; i < size; ++i)
            static_cast<uint8_t*>(out)[i] = static_cast<const uint8_t*>(in)[i] ^ Key[i % Length];
    }
};

std::string EncryptWith(const std::string& passphrase, const std::string& text) {
    TRijndael cipher;
    cipher.SetKeyFromText(passphrase, TSha256::Class());
    return cipher.EncryptText(text);
}

template <class E, class F>
void ExpectMessage(F f, const char* text) {
    try {
        f();
        ADD_FAILURE() << "expected " << text;
    } catch (const E& e) {
        EXPECT_STREQ(e.what(), text);
    }
}

}  // namespace

TEST(CryptBase, XorIntoCombinesExactlyCountBytes) {
    uint8_t d[4] = {0xF0, 0x0F, 0xAA, 0x55};
    const uint8_t s[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    XorInto(d, s, 3);
    EXPECT_EQ(std::vector<uint8_t>(d, d + 4), (std::vector<uint8_t>{0x0F, 0xF0, 0x55, 0x55}));
    XorInto(d, s, 0);
    EXPECT_EQ(d[0], 0x0F);
}

TEST(CryptBase, ExceptionsFormTheirHierarchy) {
    EXPECT_THROW(throw EBlockCipher("x"), ECipher);
    EXPECT_THROW(throw EHash("x"), std::runtime_error);
    EXPECT_FALSE((std::is_base_of_v<ECipher, EHash>));
}

TEST(CryptBase, ClassLevelValuesAndIgnoringSetters) {
    TRijndael cipher;
    cipher.SetId(1);
    cipher.SetMaxKeySize(8);
    cipher.SetBlockSize(8);
    cipher.SetAlgorithm("x");
    EXPECT_EQ(cipher.GetId(), 9);
    EXPECT_EQ(cipher.GetAlgorithm(), "Rijndael");
    EXPECT_EQ(cipher.GetMaxKeySize(), 256);
    EXPECT_EQ(cipher.GetBlockSize(), 128);
    EXPECT_EQ(cipher.CipherMode, cmCBC);
    TSha256 hash;
    hash.SetHashSize(1);
    EXPECT_EQ(hash.GetHashSize(), 256);
    EXPECT_EQ(hash.GetId(), 28);
    EXPECT_EQ(TSha256::Class().HashSize(), 256);
    EXPECT_TRUE(TSha256::Class() == hash.ClassType());
    EXPECT_EQ(THash::Id(), -1);
    EXPECT_EQ(THash().GetHashSize(), -1);
    EXPECT_FALSE(TCipher::SelfCheck());
    EXPECT_EQ(TCipher().GetMaxKeySize(), -1);
    EXPECT_EQ(TBlockCipher().GetBlockSize(), -1);
    EXPECT_EQ(CipherClassOf<XorCipher>().BlockSize(), -1);
}

TEST(CryptBase, KeyLengthsMustBePositiveMultiplesOfFourUpToMaxKeySize) {
    const uint8_t key[40] = {};
    TRijndael cipher;
    for (uint32_t bits : {0u, 1u, 2u, 3u, 257u, 260u, 0xFFFFFFFCu}) {
        ExpectMessage<ECipher>([&] { cipher.SetKey(key, bits, nullptr); }, "Invalid key size");
        EXPECT_FALSE(cipher.IsReady()) << bits;
    }
    for (uint32_t bits : {4u, 8u, 128u, 252u, 256u}) {
        cipher.SetKey(key, bits, nullptr);
        EXPECT_TRUE(cipher.IsReady()) << bits;
    }
    // The base class has no largest key: any positive multiple of 4 will do.
    TCipher plain;
    plain.SetKey(key, 0xFFFFFFFCu, nullptr);
    EXPECT_TRUE(plain.IsReady());
}

TEST(CryptBase, RefusedKeyOnAReadyCipherLeavesItUnkeyed) {
    const uint8_t key[32] = {1};
    TRijndael cipher;
    cipher.SetKey(key, 256, nullptr);
    EXPECT_THROW(cipher.SetKey(key, 257, nullptr), ECipher);
    EXPECT_FALSE(cipher.IsReady());
    ExpectMessage<EBlockCipher>([&] { cipher.EncryptText("abc"); }, "Cipher not initialized");
    ExpectMessage<EBlockCipher>([&] { cipher.EncryptText(""); }, "Cipher not initialized");
    ExpectMessage<EBlockCipher>([&] { cipher.DecryptText(""); }, "Cipher not initialized");
}

TEST(CryptBase, TextLengthsAndPadding) {
    EXPECT_EQ(EncryptWith("k", ""), "");
    TRijndael cipher;
    cipher.SetKeyFromText("k", TSha256::Class());
    EXPECT_EQ(cipher.DecryptText(""), "");
    const std::string one = EncryptWith("k", "a");
    const std::string two = EncryptWith("k", "ab");
    const std::string three = EncryptWith("k", "abc");
    ASSERT_EQ(one.size(), 4u);
    ASSERT_EQ(two.size(), 4u);
    ASSERT_EQ(three.size(), 4u);
    EXPECT_EQ(one.substr(2), "==");
    EXPECT_TRUE(two[3] == '=' && two[2] != '=');
    EXPECT_EQ(three.find('='), std::string::npos);
    EXPECT_EQ(EncryptWith("k", "abcd").size(), 8u);
}

TEST(CryptBase, TextOperationsContinueTheStreamUntilRestart) {
    const std::string text = "the same line";
    EXPECT_EQ(EncryptWith("pass", text), EncryptWith("pass", text));
    EXPECT_NE(EncryptWith("pass", text), EncryptWith("pasS", text));
    TRijndael cipher;
    cipher.SetKeyFromText("pass", TSha256::Class());
    const std::string first = cipher.EncryptText(text);
    const std::string second = cipher.EncryptText(text);
    EXPECT_NE(first, second);
    // Two calls are one continuous stream.
    EXPECT_EQ(DecodeBase64Text(first) + DecodeBase64Text(second), DecodeBase64Text(EncryptWith("pass", text + text)));
    cipher.Restart();
    EXPECT_EQ(cipher.EncryptText(text), first);
}

TEST(CryptBase, DecryptTextInvertsEncryptTextForAnyBytes) {
    std::mt19937 rng(7);
    for (size_t n : {0u, 1u, 2u, 15u, 16u, 17u, 255u, 1000u}) {
        std::string x = RandomBytes(rng, n);
        if (n > 2) x[1] = '\0';
        const std::string wire = EncryptWith("key text", x);
        TRijndael receiver;
        receiver.SetKeyFromText("key text", TSha256::Class());
        EXPECT_EQ(receiver.DecryptText(wire), x) << n;
    }
}

TEST(CryptBase, MalformedBase64DecryptsWithoutError) {
    TRijndael cipher;
    cipher.SetKeyFromText("k", TSha256::Class());
    EXPECT_EQ(cipher.DecryptText("!!!").size(), 0u);
    EXPECT_EQ(cipher.DecryptText("@@@@\n===").size(), 4u);
}

TEST(CryptBase, TextAlwaysUsesCfb8WhileBytesFollowCipherMode) {
    const uint8_t key[32] = {9, 8, 7};
    TRijndael ctr, cfb8;
    ctr.SetKey(key, 256, nullptr);
    cfb8.SetKey(key, 256, nullptr);
    ctr.CipherMode = cmCTR;
    cfb8.CipherMode = cmCFB8bit;
    const std::string text(40, 'x');
    EXPECT_EQ(ctr.EncryptText(text), cfb8.EncryptText(text));

    std::string viaBytes(40, '\0'), viaCtr(40, '\0');
    ctr.Restart();
    ctr.EncryptBytes(text.data(), viaBytes.data(), 40);
    TRijndael reference;
    reference.SetKey(key, 256, nullptr);
    reference.CtrEncrypt(text.data(), viaCtr.data(), 40);
    EXPECT_EQ(viaBytes, viaCtr);
}

TEST(CryptBase, BytesDispatchOnEveryModeAndIgnoreUnknownModes) {
    const uint8_t key[16] = {5};
    const std::string input(37, 'q');
    using Op = void (TBlockCipher::*)(const void*, void*, uint32_t);
    const std::pair<TCiphermode, std::pair<Op, Op>> modes[] = {
        {cmCBC, {&TBlockCipher::CbcEncrypt, &TBlockCipher::CbcDecrypt}},
        {cmCFB8bit, {&TBlockCipher::Cfb8Encrypt, &TBlockCipher::Cfb8Decrypt}},
        {cmCFBblock, {&TBlockCipher::CfbBlockEncrypt, &TBlockCipher::CfbBlockDecrypt}},
        {cmOFB, {&TBlockCipher::OfbEncrypt, &TBlockCipher::OfbDecrypt}},
        {cmCTR, {&TBlockCipher::CtrEncrypt, &TBlockCipher::CtrDecrypt}},
    };
    for (const auto& [mode, ops] : modes) {
        for (int direction = 0; direction < 2; ++direction) {
            TRijndael viaMode, direct;
            viaMode.SetKey(key, 128, nullptr);
            direct.SetKey(key, 128, nullptr);
            viaMode.CipherMode = mode;
            std::string a(37, '\0'), b(37, '\0');
            if (direction == 0)
                viaMode.EncryptBytes(input.data(), a.data(), 37);
            else
                viaMode.DecryptBytes(input.data(), a.data(), 37);
            (direct.*(direction == 0 ? ops.first : ops.second))(input.data(), b.data(), 37);
            EXPECT_EQ(a, b) << int(mode) << " " << direction;
        }
    }
    TRijndael odd;
    odd.SetKey(key, 128, nullptr);
    odd.CipherMode = static_cast<TCiphermode>(5);
    std::string out(37, '#');
    odd.EncryptBytes(input.data(), out.data(), 37);
    odd.DecryptBytes(input.data(), out.data(), 37);
    EXPECT_EQ(out, std::string(37, '#'));
}

TEST(CryptBase, BaseTextOperationsGoThroughEncryptBytes) {
    XorCipher cipher;
    const uint8_t key[8] = {0x01, 0x02};
    cipher.SetKey(key, 16, nullptr);
    EXPECT_EQ(cipher.EncryptText("abc"), EncodeBase64Text("``b"));
    EXPECT_EQ(cipher.DecryptText(EncodeBase64Text("``b")), "abc");
    EXPECT_THROW(cipher.SetKey(key, 68, nullptr), ECipher);
}

TEST(CryptBase, SetKeyFromTextUsesTheDigestOfThePassphrase) {
    uint8_t digest[32];
    TSha256 hash;
    hash.Initialize();
    hash.Finish(digest);  // the empty passphrase
    TRijndael fromText, fromKey;
    fromText.SetKeyFromText("", TSha256::Class());
    fromKey.SetKey(digest, 256, nullptr);
    EXPECT_EQ(fromText.EncryptText("probe"), fromKey.EncryptText("probe"));
    EXPECT_EQ(fromText.ComponentCount(), 0) << "the hash must be gone again";
}

TEST(CryptBase, SetKeyFromTextTakesTheLeadingBytesOfAWideDigest) {
    uint8_t leading[32];
    for (int i = 0; i < 32; ++i) leading[i] = static_cast<uint8_t>(3 * i + 1);
    TRijndael fromText, fromKey;
    fromText.SetKeyFromText("anything", HashClassOf<WideHash>());
    fromKey.SetKey(leading, 256, nullptr);
    EXPECT_EQ(fromText.GetRounds(), 14);
    EXPECT_EQ(fromText.EncryptText("probe"), fromKey.EncryptText("probe"));
}

TEST(CryptBase, SetKeyFromTextFailuresBecomeOneMessageAndLeaveTheCipherUnkeyed) {
    for (const THashClass* hashClass : {&HashClassOf<ThrowingHash>(), &HashClassOf<OddHash>()}) {
        TRijndael cipher;
        cipher.SetKeyFromText("first", TSha256::Class());
        ExpectMessage<ECipher>([&] { cipher.SetKeyFromText("second", *hashClass); },
                               "Unable to allocate sufficient memory for hash digest");
        EXPECT_FALSE(cipher.IsReady());
        EXPECT_EQ(cipher.ComponentCount(), 0);
        uint8_t block[16] = {};
        ExpectMessage<EBlockCipher>([&] { cipher.EncryptBlock(block, block); }, "Cipher not initialized");
    }
}

TEST(CryptBase, AddTextPassesTheBytesEvenWhenEmpty) {
    CountingHash hash;
    hash.Initialize();
    hash.AddText("");
    hash.AddText(std::string("a\0b", 3));
    EXPECT_EQ(hash.Sizes, (std::vector<uint32_t>{0, 3}));
}
