// Batches of messages under one passphrase, and the interleaved 8-bit CFB
// beneath them, against the one-message path and against OpenSSL's EVP.
#include "cipher/textbatch.h"

#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "cipher_test_util.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <vector>

namespace {

std::string SingleMessage(const std::string& passphrase, const std::string& message, bool hardware) {
    TRijndael c;
    c.UseHardware(hardware);
    c.SetKeyFromText(passphrase, TSha256::Class());
    std::string text = c.EncryptText(message);
    c.Wipe();
    return text;
}

std::string EvpMessage(const std::string& passphrase, const std::string& message) {
    unsigned char key[32], iv[16], zero[16] = {};
    EVP_Digest(passphrase.data(), passphrase.size(), key, nullptr, EVP_sha256(), nullptr);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int len = 0;
    EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_ecb(), nullptr, key, nullptr);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    EVP_EncryptUpdate(ctx.get(), iv, &len, zero, 16);
    EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_cfb8(), nullptr, key, iv);
    std::string cipher(message.size(), '\0');
    EVP_EncryptUpdate(ctx.get(), Bytes(cipher), &len, Bytes(message), static_cast<int>(message.size()));
    std::string text(4 * ((message.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(Bytes(text), Bytes(cipher), static_cast<int>(message.size()));
    text.resize(static_cast<size_t>(written));
    return text;
}

std::vector<bool> Paths() {
    if (TRijndael::HardwareAvailable()) return {true, false};
    return {false};
}

}  // namespace

TEST(TextBatch, RandomBatchesEqualTheOneMessagePathOnBothPaths) {
    std::mt19937 rng(31);
    for (bool hardware : Paths()) {
        for (int round = 0; round < 40; ++round) {
            const std::string passphrase = RandomBytes(rng, rng() % 3 == 0 ? rng() % 80 : 32);
            std::vector<std::string> messages(rng() % 21);
            for (auto& m : messages) {
                // Many equal lengths, as chunks of a file have, and many not.
                const size_t length = rng() % 4 == 0 ? 510 : rng() % 2001;
                m = RandomBytes(rng, length);
            }
            const std::vector<std::string> texts = EncryptTextsUnderPassphrase(passphrase, messages, hardware);
            ASSERT_EQ(texts.size(), messages.size());
            for (size_t i = 0; i < messages.size(); ++i)
                ASSERT_EQ(texts[i], SingleMessage(passphrase, messages[i], hardware))
                    << "round " << round << " message " << i << " length " << messages[i].size() << " hw " << hardware;
        }
    }
}

TEST(TextBatch, EmptyBatchAndEmptyMessages) {
    EXPECT_TRUE(EncryptTextsUnderPassphrase("key", {}).empty());
    const std::vector<std::string> messages = {"", "a", "", std::string(17, 'x'), ""};
    for (bool hardware : Paths()) {
        const auto texts = EncryptTextsUnderPassphrase("key", messages, hardware);
        ASSERT_EQ(texts.size(), messages.size());
        EXPECT_EQ(texts[0], "");
        EXPECT_EQ(texts[2], "");
        EXPECT_EQ(texts[4], "");
        EXPECT_EQ(texts[1], SingleMessage("key", "a", hardware));
        EXPECT_EQ(texts[3], SingleMessage("key", messages[3], hardware));
    }
}

TEST(TextBatch, FileChunksAgainstEvp) {
    std::mt19937 rng(8);
    const std::string passphrase = "k7Qp2ZxW9mLr4TsV8nBc1HdF6jYg3Ae0";
    // A file cut into 510-byte chunks with a short last one, then odd sizes.
    std::vector<std::string> chunks;
    for (int i = 0; i < 11; ++i) chunks.push_back(RandomBytes(rng, 510));
    chunks.push_back(RandomBytes(rng, 77));
    for (size_t n : {0u, 1u, 2u, 3u, 15u, 16u, 17u, 1999u}) chunks.push_back(RandomBytes(rng, n));
    for (bool hardware : Paths()) {
        const auto texts = EncryptTextsUnderPassphrase(passphrase, chunks, hardware);
        ASSERT_EQ(texts.size(), chunks.size());
        for (size_t i = 0; i < chunks.size(); ++i)
            EXPECT_EQ(texts[i], EvpMessage(passphrase, chunks[i])) << i << " hw " << hardware;
    }
}

TEST(TextBatch, ReceiverReadsEveryMessage) {
    std::mt19937 rng(12);
    std::vector<std::string> messages;
    for (int i = 0; i < 13; ++i) messages.push_back(RandomBytes(rng, rng() % 700));
    const auto texts = EncryptTextsUnderPassphrase("session key text", messages);
    for (size_t i = 0; i < messages.size(); ++i) {
        TRijndael receiver;
        receiver.SetKeyFromText("session key text", TSha256::Class());
        EXPECT_EQ(receiver.DecryptText(texts[i]), messages[i]) << i;
    }
}

TEST(Cfb8EncryptMany, MixedKeySizesPathsAndLengthsLeaveEachCipherAsAlone) {
    std::mt19937 rng(64);
    const uint32_t sizes[] = {128, 192, 256};
    for (int round = 0; round < 25; ++round) {
        const size_t count = rng() % 20;
        std::vector<std::unique_ptr<TRijndael>> batch, alone;
        std::vector<std::string> keys, ivs, plains, outs(count);
        std::vector<bool> inPlace(count);
        std::vector<TRijndael::TCfb8Stream> streams;
        for (size_t i = 0; i < count; ++i) {
            const uint32_t bits = sizes[rng() % 3];
            const bool hardware = rng() % 4 != 0;
            keys.push_back(RandomBytes(rng, bits / 8));
            ivs.push_back(RandomBytes(rng, 16));
            plains.push_back(RandomBytes(rng, rng() % 5 == 0 ? rng() % 3 : rng() % 1500));
            for (auto* set : {&batch, &alone}) {
                set->push_back(std::make_unique<TRijndael>());
                set->back()->UseHardware(hardware);
                set->back()->SetKey(keys[i].data(), bits, ivs[i].data());
            }
            // Some streams work in place.
            inPlace[i] = rng() % 3 == 0;
            outs[i] = inPlace[i] ? plains[i] : std::string(plains[i].size(), '\0');
        }
        for (size_t i = 0; i < count; ++i)
            streams.push_back(
                {batch[i].get(), inPlace[i] ? outs[i].data() : plains[i].data(), outs[i].data(), plains[i].size()});
        TRijndael::Cfb8EncryptMany(streams.data(), streams.size());
        for (size_t i = 0; i < count; ++i) {
            std::string expected(plains[i].size(), '\0');
            alone[i]->Cfb8Encrypt(plains[i].data(), expected.data(), static_cast<uint32_t>(plains[i].size()));
            ASSERT_EQ(ToHex(outs[i]), ToHex(expected)) << "round " << round << " stream " << i;
            // The register carries on: more bytes must still agree.
            const std::string more = RandomBytes(rng, 40);
            std::string a(40, '\0'), b(40, '\0');
            batch[i]->Cfb8Encrypt(more.data(), a.data(), 40);
            alone[i]->Cfb8Encrypt(more.data(), b.data(), 40);
            ASSERT_EQ(ToHex(a), ToHex(b)) << "round " << round << " stream " << i;
        }
    }
}

TEST(Cfb8EncryptMany, UnkeyedCipherRaisesBeforeAnyOutput) {
    const std::string key(32, 'k');
    TRijndael keyed, unkeyed;
    keyed.SetKey(key.data(), 256, nullptr);
    const std::string plain(100, 'p');
    std::string out1(100, '\0'), out2(100, '\0');
    const TRijndael::TCfb8Stream streams[] = {{&keyed, plain.data(), out1.data(), 100},
                                              {&unkeyed, plain.data(), out2.data(), 100}};
    try {
        TRijndael::Cfb8EncryptMany(streams, 2);
        FAIL() << "no exception";
    } catch (const EBlockCipher& e) {
        EXPECT_STREQ(e.what(), "Cipher not initialized");
    }
    EXPECT_EQ(out1, std::string(100, '\0'));
    // The keyed cipher's register is untouched, so it still starts from the IV.
    TRijndael fresh;
    fresh.SetKey(key.data(), 256, nullptr);
    std::string a(100, '\0'), b(100, '\0');
    keyed.Cfb8Encrypt(plain.data(), a.data(), 100);
    fresh.Cfb8Encrypt(plain.data(), b.data(), 100);
    EXPECT_EQ(a, b);
}
