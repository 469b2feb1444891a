// OpenSSL's EVP as the oracle: random keys, vectors, lengths and splits.
#include "cipher/base64.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "cipher_test_util.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>

namespace {

using CtxPtr = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::string Evp(const char* mode, uint32_t bits, bool encrypt, const std::string& key, const std::string& iv,
                const std::string& input) {
    const std::string name = "aes-" + std::to_string(bits) + "-" + mode;
    const EVP_CIPHER* cipher = EVP_get_cipherbyname(name.c_str());
    if (cipher == nullptr) throw std::logic_error("no cipher " + name);
    CtxPtr ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), cipher, nullptr, Bytes(key), iv.empty() ? nullptr : Bytes(iv), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    std::string out(input.size() + 16, '\0');
    int len = 0;
    if (EVP_CipherUpdate(ctx.get(), Bytes(out), &len, Bytes(input), static_cast<int>(input.size())) != 1)
        throw std::runtime_error("EVP_CipherUpdate failed");
    out.resize(static_cast<size_t>(len));
    return out;
}

std::string EvpSha256(const std::string& m) {
    std::string d(32, '\0');
    EVP_Digest(m.data(), m.size(), Bytes(d), nullptr, EVP_sha256(), nullptr);
    return d;
}

using Op = void (TBlockCipher::*)(const void*, void*, uint32_t);

// Our operation over input in pieces whose sizes come from rng; with
// blockAligned the cuts fall on 16-byte boundaries only.
std::string OursInPieces(TRijndael& c, Op op, const std::string& input, std::mt19937& rng, bool blockAligned) {
    std::string out(input.size(), '\0');
    size_t at = 0;
    do {
        size_t piece = rng() % 97;
        if (blockAligned) piece = piece / 16 * 16 + 16;
        piece = std::min(piece, input.size() - at);
        (c.*op)(input.data() + at, out.data() + at, static_cast<uint32_t>(piece));
        at += piece;
    } while (at < input.size());
    return out;
}

struct OracleMode {
    const char* Evp;
    Op Encrypt;
    Op Decrypt;
    bool AnyLength;  // OpenSSL's form matches ours for lengths that are not whole blocks
    bool AnySplit;   // cuts may fall anywhere
};

const OracleMode kModes[] = {
    {"cbc", &TBlockCipher::CbcEncrypt, &TBlockCipher::CbcDecrypt, false, false},
    {"cfb8", &TBlockCipher::Cfb8Encrypt, &TBlockCipher::Cfb8Decrypt, true, true},
    {"cfb", &TBlockCipher::CfbBlockEncrypt, &TBlockCipher::CfbBlockDecrypt, true, false},
    {"ofb", &TBlockCipher::OfbEncrypt, &TBlockCipher::OfbDecrypt, true, false},
    {"ctr", &TBlockCipher::CtrEncrypt, &TBlockCipher::CtrDecrypt, true, false},
};

}  // namespace

TEST(Oracle, EveryModeKeySizeAndPathAgainstEvp) {
    std::mt19937 rng(2024);
    for (bool hardware : {true, false}) {
        for (const OracleMode& m : kModes) {
            for (uint32_t bits : {128u, 192u, 256u}) {
                for (size_t n = 0; n <= 1000; n += 1 + rng() % 45) {
                    const size_t length = m.AnyLength ? n : n / 16 * 16;
                    const std::string key = RandomBytes(rng, bits / 8);
                    const std::string iv = RandomBytes(rng, 16);
                    const std::string plain = RandomBytes(rng, length);
                    const std::string expected = Evp(m.Evp, bits, true, key, iv, plain);
                    TRijndael c;
                    c.UseHardware(hardware);
                    c.SetKey(key.data(), bits, iv.data());
                    ASSERT_EQ(OursInPieces(c, m.Encrypt, plain, rng, !m.AnySplit), expected)
                        << m.Evp << bits << " n=" << length << " hw=" << hardware;
                    c.Restart();
                    ASSERT_EQ(OursInPieces(c, m.Decrypt, expected, rng, !m.AnySplit), plain)
                        << m.Evp << bits << " n=" << length << " hw=" << hardware;
                }
            }
        }
    }
}

TEST(Oracle, CbcTailIsTheOutputOfOneMoreBlockEncryption) {
    std::mt19937 rng(99);
    for (size_t n : {1u, 15u, 17u, 40u, 999u}) {
        const std::string key = RandomBytes(rng, 32);
        const std::string iv = RandomBytes(rng, 16);
        const std::string plain = RandomBytes(rng, n);
        const size_t full = n / 16 * 16;
        const std::string head = Evp("cbc", 256, true, key, iv, plain.substr(0, full));
        const std::string last = full == 0 ? iv : head.substr(full - 16);
        const std::string keystream = Evp("ecb", 256, true, key, "", last);
        std::string expected = head;
        for (size_t j = full; j < n; ++j) expected.push_back(static_cast<char>(plain[j] ^ keystream[j - full]));
        TRijndael c;
        c.SetKey(key.data(), 256, iv.data());
        std::string out(n, '\0');
        c.CbcEncrypt(plain.data(), out.data(), static_cast<uint32_t>(n));
        EXPECT_EQ(out, expected) << n;
    }
}

TEST(Oracle, Sha256AgainstEvpWithRandomSplits) {
    std::mt19937 rng(77);
    for (bool hardware : {true, false}) {
        for (size_t n = 0; n <= 1000; n += 1 + rng() % 13) {
            const std::string m = RandomBytes(rng, n);
            TSha256 h;
            h.UseHardware(hardware);
            h.Initialize();
            size_t at = 0;
            while (at < n) {
                const size_t piece = std::min<size_t>(rng() % 150, n - at);
                h.AddBytes(m.data() + at, static_cast<uint32_t>(piece));
                at += piece;
            }
            std::string d(32, '\0');
            h.Finish(d.data());
            ASSERT_EQ(ToHex(d), ToHex(EvpSha256(m))) << n;
        }
    }
}

TEST(Oracle, SessionCompositeIsSha256KeyZeroBlockIvCfb8AndBase64) {
    std::mt19937 rng(5);
    for (size_t n : {0u, 1u, 2u, 3u, 31u, 510u, 1000u}) {
        const std::string keyText = RandomBytes(rng, 32);
        const std::string message = RandomBytes(rng, n);
        const std::string key = EvpSha256(keyText);
        const std::string iv = Evp("ecb", 256, true, key, "", std::string(16, '\0'));
        const std::string cipher = Evp("cfb8", 256, true, key, iv, message);
        std::string expected(4 * ((n + 2) / 3) + 1, '\0');
        const int written = EVP_EncodeBlock(Bytes(expected), Bytes(cipher), static_cast<int>(n));
        expected.resize(static_cast<size_t>(written));

        TRijndael sender;
        sender.SetKeyFromText(keyText, TSha256::Class());
        EXPECT_EQ(sender.EncryptText(message), expected) << n;
        sender.Wipe();

        TRijndael receiver;
        receiver.SetKeyFromText(keyText, TSha256::Class());
        EXPECT_EQ(receiver.DecryptText(expected), message) << n;
    }
}
