// RSA key pair: generation, per-character encryption and decryption, the
// ciphertext list, and the proof that a seeded generation gives the keys of
// the step-by-step method.
#include "support/testhelpers.h"
#include <gtest/gtest.h>

#include <functional>

#include "gmp_reference.h"
#include "isaac/isaac.h"
#include "rsa/privatekey.h"
#include "rsa/publickey.h"

namespace {

std::string AllBytes() {
    std::string text;
    for (int c = 0; c < 256; ++c) text.push_back(static_cast<char>(c));
    return text;
}

TEST(RsaKeyGeneration, RefusesUnworkableSizes) {
    EXPECT_EQ("Invalid number of bits: 0", ThrownText([] { TPrivateKey key(0); }));
    EXPECT_EQ("Invalid number of bits: 0", ThrownText([] { TPrivateKey key(1); }));
    EXPECT_EQ("Invalid number of bits: -2", ThrownText([] { TPrivateKey key(-5); }));
    for (int size = 2; size < 6; ++size) {
        EXPECT_EQ("Key size too small: " + std::to_string(size) + " (at least 6 bits)",
                  ThrownText([size] { TPrivateKey key(size); }));
    }
}

TEST(RsaKeyGeneration, SmallestKeys) {
    Seed(BigRandom(), 11, 12);
    for (int i = 0; i < 30; ++i) {
        TPrivateKey key(6);
        // Two different primes out of 3, 5 and 7.
        const std::string n = key.GetN().ToString();
        EXPECT_TRUE(n == "15" || n == "21" || n == "35") << n;
        const char* phi = n == "15" ? "8" : n == "21" ? "12" : "24";
        EXPECT_GE(key.GetE().Compare(BigThree()), 0);
        EXPECT_LT(key.GetE().Compare(*TBigint::CreateFromDecimal(phi)), 0);
        auto check = TBigint::CreateCopy(key.GetD());
        check->MulMod(key.GetE(), *TBigint::CreateFromDecimal(phi));
        EXPECT_TRUE(check->IsOne()) << n;
        // Codes below N survive; the rest come back wrong, without an error.
        TCiphertextList list;
        key.GetPublicKey()->Encrypt(AllBytes(), list);
        const std::string text = key.Decrypt(list);
        ASSERT_EQ(256u, text.size());
        const int limit = std::stoi(n);
        for (int c = 0; c < 256; ++c) {
            if (c < limit) {
                EXPECT_EQ(c, static_cast<unsigned char>(text[static_cast<std::size_t>(c)]));
            } else {
                EXPECT_EQ(c % limit, static_cast<unsigned char>(text[static_cast<std::size_t>(c)]));
            }
        }
    }
}

TEST(RsaKeyGeneration, SizesAndOddKeySize) {
    Seed(BigRandom(), 21, 22);
    TPrivateKey even(1024);
    Seed(BigRandom(), 21, 22);
    TPrivateKey odd(1025);  // same prime sizes, same draws
    EXPECT_TRUE(even.GetN().Equals(odd.GetN()));
    EXPECT_TRUE(even.GetD().Equals(odd.GetD()));
    EXPECT_LE(even.GetN().BitLength(), 1024);
    EXPECT_GT(even.GetN().BitLength(), 1000);
    EXPECT_LT(even.GetE().Compare(even.GetN()), 0);
    EXPECT_LT(even.GetD().Compare(even.GetN()), 0);
}

// A seeded key generation and the step-by-step method on GMP, fed identical
// seeds, give the same E, N and D and leave the generators in step.
TEST(RsaKeyGeneration, SameKeysAsStepByStepMethod) {
    TIsaac reference;
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        for (int size : {6, 7, 16, 64, 255, 512, 1024}) {
            Seed(BigRandom(), seed, 77u * seed + static_cast<uint32_t>(size));
            Seed(reference, seed, 77u * seed + static_cast<uint32_t>(size));
            TPrivateKey key(size);
            const gmpref::TKey expected = gmpref::GenerateKey(reference, size);
            ASSERT_EQ(expected.N.str(), key.GetN().ToString()) << "seed " << seed << ", size " << size;
            ASSERT_EQ(expected.E.str(), key.GetE().ToString()) << "seed " << seed << ", size " << size;
            ASSERT_EQ(expected.D.str(), key.GetD().ToString()) << "seed " << seed << ", size " << size;
            ASSERT_EQ(reference.Next(), BigRandom().Next());
        }
    }
}

TEST(RsaEncryption, AllByteValuesRoundTrip) {
    Seed(BigRandom(), 31, 32);
    const std::string text = AllBytes();
    for (int size : {24, 64, 256, 1024}) {
        TPrivateKey key(size);
        if (key.GetN().BitLength() <= 8) continue;  // a modulus of 255 or less cannot carry every code
        auto publicKey = key.GetPublicKey();
        TCiphertextList list;
        publicKey->Encrypt(text, list);
        ASSERT_EQ(256u, list.Count());
        for (std::size_t i = 0; i < list.Count(); ++i) {
            EXPECT_EQ(std::to_string(i + 1), list[i].Text);
            EXPECT_LT(list[i].Number->Compare(key.GetN()), 0);
        }
        EXPECT_EQ("0", list[0].Number->ToString());  // codes 0 and 1 encrypt to themselves
        EXPECT_EQ("1", list[1].Number->ToString());
        EXPECT_EQ(text, key.Decrypt(list)) << size;
        // Decrypt leaves the plain values in the list.
        EXPECT_EQ("65", list[65].Number->ToString());
    }
}

TEST(RsaEncryption, ShortAndEmptyTexts) {
    Seed(BigRandom(), 41, 42);
    TPrivateKey key(128);
    auto publicKey = key.GetPublicKey();
    EXPECT_EQ(&key.GetE(), &publicKey->GetE());  // refers, does not copy
    EXPECT_EQ(&key.GetN(), &publicKey->GetN());

    TCiphertextList empty;
    publicKey->Encrypt("", empty);
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ("", key.Decrypt(empty));

    TCiphertextList list;
    publicKey->Encrypt("AB", list);
    ASSERT_EQ(2u, list.Count());
    EXPECT_EQ("1", list[0].Text);
    EXPECT_EQ("2", list[1].Text);
    auto expected = TBigint::CreateFromInt64('A');
    expected->PowMod(key.GetE(), key.GetN());
    EXPECT_TRUE(expected->Equals(*list[0].Number));
    EXPECT_EQ("AB", key.Decrypt(list));

    // Equal characters give equal parts.
    TCiphertextList twice;
    publicKey->Encrypt("zz", twice);
    EXPECT_TRUE(twice[0].Number->Equals(*twice[1].Number));

    // Appending goes on after existing entries.
    publicKey->Encrypt("q", list);
    EXPECT_EQ("1", list[2].Text);
}

TEST(RsaEncryption, WrongKeyGivesOneCharacterPerDigit) {
    Seed(BigRandom(), 51, 52);
    TPrivateKey right(512);
    TPrivateKey wrong(512);
    TCiphertextList list;
    right.GetPublicKey()->Encrypt("secret key text", list);
    std::size_t expectedLength = 0;
    std::string expectedText;
    for (const TCiphertextEntry& entry : list) {
        auto value = TBigint::CreateCopy(*entry.Number);
        value->PowMod(wrong.GetD(), wrong.GetN());
        expectedLength += static_cast<std::size_t>(value->DigitCount());
        for (int32_t i = 0; i < value->DigitCount(); ++i) expectedText.push_back(static_cast<char>(value->GetDigit(i) & 0xFF));
    }
    const std::string text = wrong.Decrypt(list);
    EXPECT_EQ(expectedLength, text.size());
    EXPECT_EQ(expectedText, text);
    EXPECT_GT(text.size(), std::string("secret key text").size());
}

TEST(RsaEncryption, PublicKeyFromReceivedNumbers) {
    Seed(BigRandom(), 61, 62);
    TPrivateKey key(256);
    // The connecting side reads N and E from their decimal text.
    auto n = TBigint::CreateFromDecimal(key.GetN().ToString());
    auto e = TBigint::CreateFromDecimal(key.GetE().ToString());
    auto publicKey = TPublicKey::Create(*e, *n);
    TCiphertextList list;
    publicKey->Encrypt("Hello, peer!", list);
    // The listener gets the parts as text, maybe out of order, keyed by padded index.
    TCiphertextList received;
    for (std::size_t k = list.Count(); k-- > 0;) {
        std::string index = std::to_string(k);
        index.insert(0, 8 - index.size(), '0');
        EXPECT_TRUE(received.AddSorted(index, TBigint::CreateFromDecimal(list[k].Number->ToString())));
    }
    EXPECT_EQ("Hello, peer!", key.Decrypt(received));
}

TEST(CiphertextList, SortedInsertionAndTakeFirst) {
    TCiphertextList list;
    EXPECT_TRUE(list.AddSorted("00000010", TBigint::CreateFromInt64(10)));
    EXPECT_TRUE(list.AddSorted("00000002", TBigint::CreateFromInt64(2)));
    EXPECT_TRUE(list.AddSorted("00000007", TBigint::CreateFromInt64(7)));
    // A second part with the same index is dropped; the first stays.
    EXPECT_FALSE(list.AddSorted("00000007", TBigint::CreateFromInt64(99)));
    ASSERT_EQ(3u, list.Count());
    EXPECT_EQ("00000002", list[0].Text);
    EXPECT_EQ("00000007", list[1].Text);
    EXPECT_EQ("7", list[1].Number->ToString());
    EXPECT_EQ("00000010", list[2].Text);
    TCiphertextEntry first = list.TakeFirst();
    EXPECT_EQ("00000002", first.Text);
    EXPECT_EQ("2", first.Number->ToString());
    EXPECT_EQ(2u, list.Count());
    list.Add("x", TBigint::CreateFromInt64(1));
    EXPECT_EQ("x", list[2].Text);
    list.Clear();
    EXPECT_TRUE(list.Empty());
}

}  // namespace
