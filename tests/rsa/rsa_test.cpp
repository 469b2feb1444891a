// RSA key pair: generation, per-character encryption and decryption (also
// through the primes and spread over threads), the ciphertext list, and the
// proof that a seeded generation gives the keys of the step-by-step method.
#include "support/testhelpers.h"
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "gmp_reference.h"
#include "isaac/isaac.h"
#include "rsa/encryptionplan.h"
#include "rsa/parallelwork.h"
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

TEST(RsaKeyGeneration, RefusesSizesAboveTheLimitBeforeDrawing) {
    EXPECT_EQ(16384, kMaxKeyBits);
    Seed(BigRandom(), 71, 72);
    TIsaac untouched = BigRandom();
    for (int32_t size : {16385, 16386, 100000, INT32_MAX}) {
        EXPECT_EQ("Key size too large: " + std::to_string(size) + " (at most 16384 bits)",
                  ThrownText([size] { TPrivateKey key(size); }));
    }
    // Refused before any prime search: the generator has not moved.
    for (int i = 0; i < 300; ++i) ASSERT_EQ(untouched.Next(), BigRandom().Next());
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
        for (int32_t i = 0; i < value->DigitCount(); ++i)
            expectedText.push_back(static_cast<char>(value->GetDigit(i) & 0xFF));
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

// ---- decryption through the primes ----

std::unique_ptr<TBigint> Big(int64_t value) { return TBigint::CreateFromInt64(value); }

std::unique_ptr<TBigint> Product(const TBigint& a, const TBigint& b) {
    auto result = TBigint::CreateCopy(a);
    result->Multiply(b);
    return result;
}

std::unique_ptr<TBigint> Sum(const TBigint& a, const TBigint& b) {
    auto result = TBigint::CreateCopy(a);
    result->Add(b);
    return result;
}

// The primes belong to the key: distinct, their product is N, and E and D
// are inverse modulo (P - 1)(Q - 1).
void ExpectConsistentPrimes(const TPrivateKey& key, int32_t keySize) {
    const TBigint& p = key.GetP();
    const TBigint& q = key.GetQ();
    EXPECT_FALSE(p.Equals(q));
    EXPECT_TRUE(Product(p, q)->Equals(key.GetN()));
    EXPECT_TRUE(p.IsProbablePrime(20) && q.IsProbablePrime(20)) << p.ToString() << " " << q.ToString();
    EXPECT_LE(p.BitLength(), keySize / 2);
    EXPECT_LE(q.BitLength(), keySize / 2);
    auto phi = TBigint::CreateCopy(p);
    phi->SubtractDigit(1);
    auto qMinusOne = TBigint::CreateCopy(q);
    qMinusOne->SubtractDigit(1);
    phi->Multiply(*qMinusOne);
    auto check = TBigint::CreateCopy(key.GetE());
    check->MulMod(key.GetD(), *phi);
    EXPECT_TRUE(check->IsOne());
}

// Ciphertexts where a recombination through the primes can go wrong: the
// ends of [0, N), multiples of either prime (not coprime to N), the primes
// and their neighbours, and values of N or more.
std::vector<std::unique_ptr<TBigint>> EdgeCiphertexts(const TPrivateKey& key) {
    const TBigint& n = key.GetN();
    const TBigint& p = key.GetP();
    const TBigint& q = key.GetQ();
    std::vector<std::unique_ptr<TBigint>> values;
    values.push_back(Big(0));
    values.push_back(Big(1));
    values.push_back(Big(2));
    values.push_back(Sum(n, *Big(-1)));
    values.push_back(Sum(n, *Big(-2)));
    for (const TBigint* prime : {&p, &q}) {
        const TBigint& other = prime == &p ? q : p;
        values.push_back(TBigint::CreateCopy(*prime));
        values.push_back(Sum(*prime, *Big(1)));
        values.push_back(Sum(*prime, *Big(-1)));
        values.push_back(Product(*prime, *Big(2)));
        values.push_back(Product(*prime, *Sum(other, *Big(-1))));  // the largest multiple below N
        auto random = TBigint::CreateRandomBelow(other);
        values.push_back(Product(*prime, *random));
    }
    values.push_back(TBigint::CreateCopy(n));
    values.push_back(Sum(n, *Big(1)));
    values.push_back(Sum(*Product(n, *Big(3)), p));
    values.push_back(Product(n, n));
    values.push_back(Big(-1));  // both give the Euclidean residue
    return values;
}

// Decrypts all values in one list and compares each with value^D mod N.
void ExpectDecryptMatchesPowMod(const TPrivateKey& key, const std::vector<std::unique_ptr<TBigint>>& values) {
    TCiphertextList list;
    for (const auto& value : values) list.Add(value->ToString(), TBigint::CreateCopy(*value));
    key.Decrypt(list);
    ASSERT_EQ(values.size(), list.Count());
    for (std::size_t i = 0; i < values.size(); ++i) {
        auto expected = TBigint::CreateCopy(*values[i]);
        expected->PowMod(key.GetD(), key.GetN());
        ASSERT_TRUE(expected->Equals(*list[i].Number))
            << "c = " << values[i]->ToString() << ", p = " << key.GetP().ToString() << ", q = " << key.GetQ().ToString()
            << ": " << list[i].Number->ToString() << " instead of " << expected->ToString();
    }
}

TEST(RsaCrtDecryption, EveryCiphertextOfSmallKeys) {
    Seed(BigRandom(), 81, 82);
    for (int size = 6; size <= 12; ++size) {
        for (int round = 0; round < 8; ++round) {
            TPrivateKey key(size);
            ExpectConsistentPrimes(key, size);
            const int64_t n = std::stoll(key.GetN().ToString());
            std::vector<std::unique_ptr<TBigint>> values;
            for (int64_t c = 0; c < n; ++c) values.push_back(Big(c));
            ExpectDecryptMatchesPowMod(key, values);
        }
    }
}

TEST(RsaCrtDecryption, EdgeAndRandomCiphertextsUpTo64Bits) {
    Seed(BigRandom(), 91, 92);
    for (int size = 6; size <= 64; ++size) {
        for (int round = 0; round < 12; ++round) {
            TPrivateKey key(size);
            ExpectConsistentPrimes(key, size);
            auto values = EdgeCiphertexts(key);
            for (int i = 0; i < 16; ++i) values.push_back(TBigint::CreateRandomBelow(key.GetN()));
            ExpectDecryptMatchesPowMod(key, values);
        }
    }
}

TEST(RsaCrtDecryption, LargeKeysAgreeWithGmp) {
    Seed(BigRandom(), 101, 102);
    for (int size : {512, 1024}) {
        TPrivateKey key(size);
        ExpectConsistentPrimes(key, size);
        auto values = EdgeCiphertexts(key);
        for (int i = 0; i < 6; ++i) values.push_back(TBigint::CreateRandomBelow(key.GetN()));
        ExpectDecryptMatchesPowMod(key, values);
        // And against an independent implementation.
        TCiphertextList list;
        list.Add("1", TBigint::CreateCopy(*values.back()));
        key.Decrypt(list);
        gmpref::Z expected;
        mpz_powm(expected.get(), gmpref::ToZ(*values.back()).get(), gmpref::ToZ(key.GetD()).get(),
                 gmpref::ToZ(key.GetN()).get());
        EXPECT_EQ(expected.str(), list[0].Number->ToString()) << size;
    }
}

TEST(RsaCrtDecryption, MissingNumberChangesNothing) {
    Seed(BigRandom(), 111, 112);
    TPrivateKey key(64);
    for (bool parallel : {false, true}) {
        TCiphertextList list;
        list.Add("00000000", Big(5));
        list.Add("00000001", nullptr);
        list.Add("00000002", Big(7));
        EXPECT_EQ("Missing ciphertext number for part 00000001",
                  ThrownText([&] { parallel ? key.DecryptParallel(list, 2) : key.Decrypt(list); }));
        EXPECT_EQ("5", list[0].Number->ToString());
        EXPECT_EQ("7", list[2].Number->ToString());
    }
}

// ---- spreading over threads ----

TEST(ParallelWork, ThreadCounts) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    EXPECT_EQ(std::min<std::size_t>(cores, 1000), ThreadsFor(0, 1000));
    EXPECT_EQ(1u, ThreadsFor(0, 1));
    EXPECT_EQ(1u, ThreadsFor(0, 0));
    EXPECT_EQ(1u, ThreadsFor(5, 0));
    EXPECT_EQ(3u, ThreadsFor(7, 3));
    EXPECT_EQ(7u, ThreadsFor(7, 32));
    EXPECT_EQ(1u, ThreadsFor(1, 32));
}

TEST(ParallelWork, EveryJobRunsOnce) {
    for (unsigned threads : {0u, 1u, 2u, 3u, 7u}) {
        for (std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{5}, std::size_t{100}}) {
            std::vector<std::atomic<int>> runs(count);
            RunSpread(count, threads, [&](std::size_t i) { runs[i].fetch_add(1); });
            for (std::size_t i = 0; i < count; ++i) EXPECT_EQ(1, runs[i].load()) << threads << " threads, job " << i;
        }
    }
}

TEST(ParallelWork, JobsRunAtTheSameTime) {
    // Each of the three jobs waits for the other two to start, which only
    // works out if they run on three threads at once.
    std::atomic<int> started{0};
    std::set<std::thread::id> ids;
    std::mutex idsMutex;
    RunSpread(3, 3, [&](std::size_t) {
        started.fetch_add(1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (started.load() < 3 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
        const std::lock_guard<std::mutex> lock(idsMutex);
        ids.insert(std::this_thread::get_id());
    });
    EXPECT_EQ(3, started.load());
    EXPECT_EQ(3u, ids.size());
    EXPECT_EQ(1u, ids.count(std::this_thread::get_id()));  // the caller takes its share
}

TEST(ParallelWork, ExceptionComesBackToTheCaller) {
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
        EXPECT_EQ("job 5 failed", ThrownText([&] {
                      RunSpread(40, threads, [&](std::size_t i) {
                          if (i == 5) throw std::out_of_range("job " + std::to_string(i) + " failed");
                      });
                  }));
        EXPECT_THROW(RunSpread(9, threads,
                               [](std::size_t i) {
                                   if (i % 3 == 2) throw EDivByZero();
                               }),
                     EDivByZero);
    }
}

TEST(ParallelWork, NoNewJobsAfterAFailure) {
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
        std::atomic<int> runs{0};
        EXPECT_THROW(RunSpread(200, threads,
                               [&](std::size_t i) {
                                   runs.fetch_add(1);
                                   if (i == 0) throw std::runtime_error("first job");
                                   std::this_thread::sleep_for(std::chrono::milliseconds(1));
                               }),
                     std::runtime_error);
        // Only the jobs already running when the first one failed, give or take.
        if (threads == 1) {
            EXPECT_EQ(1, runs.load());
        } else {
            EXPECT_LT(runs.load(), 100) << threads;
        }
    }
}

// Equal names and equal numbers, entry by entry.
void ExpectSameList(const TCiphertextList& expected, const TCiphertextList& actual) {
    ASSERT_EQ(expected.Count(), actual.Count());
    for (std::size_t i = 0; i < expected.Count(); ++i) {
        EXPECT_EQ(expected[i].Text, actual[i].Text);
        ASSERT_TRUE(actual[i].Number);
        EXPECT_TRUE(expected[i].Number->Equals(*actual[i].Number)) << "entry " << i;
        EXPECT_NE(expected[i].Number.get(), actual[i].Number.get());
    }
}

TCiphertextList CopyOf(const TCiphertextList& list) {
    TCiphertextList copy;
    for (const TCiphertextEntry& entry : list) copy.Add(entry.Text, TBigint::CreateCopy(*entry.Number));
    return copy;
}

std::string RandomPrintable(std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text.push_back(static_cast<char>(' ' + BigRandom().Range(95)));
    return text;
}

TEST(RsaParallel, SameListsAndTextsAsSerial) {
    Seed(BigRandom(), 121, 122);
    for (int size : {64, 256}) {
        TPrivateKey key(size);
        auto publicKey = key.GetPublicKey();
        const std::vector<std::string> texts = {
            "", "a", "zzzzzzzz", "abcabcabcXYZ", AllBytes() + AllBytes(), RandomPrintable(32), RandomPrintable(32)};
        for (const std::string& text : texts) {
            TCiphertextList serial;
            publicKey->Encrypt(text, serial);
            for (unsigned threads : {0u, 1u, 2u, 3u, 7u}) {
                TCiphertextList parallel;
                publicKey->EncryptParallel(text, parallel, threads);
                ExpectSameList(serial, parallel);

                TCiphertextList plainSerial = CopyOf(serial);
                const std::string expected = key.Decrypt(plainSerial);
                EXPECT_EQ(text, expected);
                const std::string actual = key.DecryptParallel(parallel, threads);
                EXPECT_EQ(expected, actual) << size << " bits, " << threads << " threads";
                ExpectSameList(plainSerial, parallel);
            }
        }
    }
}

TEST(RsaParallel, AppendsAfterExistingEntries) {
    Seed(BigRandom(), 131, 132);
    TPrivateKey key(128);
    auto publicKey = key.GetPublicKey();
    TCiphertextList serial;
    TCiphertextList parallel;
    publicKey->Encrypt("key", serial);
    publicKey->EncryptParallel("key", parallel, 2);
    publicKey->Encrypt("yek", serial);
    publicKey->EncryptParallel("yek", parallel, 3);
    ExpectSameList(serial, parallel);
    EXPECT_EQ("1", parallel[3].Text);
    EXPECT_EQ("keyyek", key.DecryptParallel(parallel, 7));
}

TEST(RsaParallel, DecryptsArbitraryNumbersLikeSerial) {
    // Received lists need not come from Encrypt: repeated numbers, numbers of
    // N or more, and parts meant for another key.
    Seed(BigRandom(), 141, 142);
    TPrivateKey key(256);
    TPrivateKey other(256);
    TCiphertextList received;
    other.GetPublicKey()->Encrypt("other key text, other key text", received);
    const TBigint& n = key.GetN();
    for (int i = 0; i < 6; ++i) received.Add("r", TBigint::CreateRandomBelow(n));
    received.Add("n", TBigint::CreateCopy(n));
    received.Add("0", Big(0));
    received.Add("0", Big(0));
    received.Add("p", TBigint::CreateCopy(key.GetP()));
    received.Add("2n+p", Sum(*Product(n, *Big(2)), key.GetP()));
    received.Add("p again", TBigint::CreateCopy(key.GetP()));
    for (unsigned threads : {1u, 2u, 3u, 7u}) {
        TCiphertextList serial = CopyOf(received);
        TCiphertextList parallel = CopyOf(received);
        const std::string expected = key.Decrypt(serial);
        EXPECT_EQ(expected, key.DecryptParallel(parallel, threads));
        ExpectSameList(serial, parallel);
    }
    TCiphertextList empty;
    EXPECT_EQ("", key.DecryptParallel(empty, 3));
}

TEST(RsaParallel, DegenerateKeysLikeSerial) {
    // Numbers a peer could send: every modulus and exponent must give the list
    // of the serial way, products of ciphertexts included.
    const std::string text = std::string("\x02\x03\x06\x04\x01\x09", 6) + "@!'AB0123";
    for (const auto& [e, n] : std::vector<std::pair<int64_t, int64_t>>{
             {0, 1}, {0, 35}, {0, -35}, {1, 1}, {1, 35}, {5, 1}, {7, 12}, {7, -35}, {3, 2}, {9, 64}}) {
        const auto exponent = Big(e);
        const auto modulus = Big(n);
        const auto key = TPublicKey::Create(*exponent, *modulus);
        TCiphertextList serial;
        key->Encrypt(text, serial);
        TCiphertextList parallel;
        key->EncryptParallel(text, parallel, 2);
        ExpectSameList(serial, parallel);
    }
    // Zero to the zeroth power is refused both ways.
    const auto zero = Big(0);
    const auto seven = Big(7);
    const auto key = TPublicKey::Create(*zero, *seven);
    TCiphertextList list;
    const std::string withZero("ab\0c", 4);
    EXPECT_EQ("Zero to the zeroth power is not defined", ThrownText([&] { key->Encrypt(withZero, list); }));
    list.Clear();
    EXPECT_EQ("Zero to the zeroth power is not defined", ThrownText([&] { key->EncryptParallel(withZero, list, 2); }));
    EXPECT_TRUE(list.Empty());
}

TEST(RsaParallel, WorkerExceptionReachesCaller) {
    // A zero modulus makes every exponentiation throw on its worker thread.
    const auto zero = Big(0);
    const auto three = Big(3);
    const auto badKey = TPublicKey::Create(*three, *zero);
    for (unsigned threads : {1u, 2u, 7u}) {
        TCiphertextList list;
        list.Add("kept", Big(1));
        EXPECT_THROW(badKey->EncryptParallel("abcdef", list, threads), EDivByZero);
        ASSERT_EQ(1u, list.Count());  // nothing appended
        EXPECT_EQ("kept", list[0].Text);
    }
}

// ---- which bytes are raised to E ----

std::vector<int> PowersOf(const TEncryptionPlan& plan) {
    std::vector<int> powers;
    for (std::size_t i = 0; i < plan.PowerCount(); ++i) powers.push_back(plan.Power(i));
    return powers;
}

std::vector<int> FactorsOf(const TEncryptionPlan& plan, unsigned char byte) {
    std::vector<int> factors;
    for (std::size_t i = 0; i < plan.FactorCount(byte); ++i) factors.push_back(plan.Power(plan.Factor(byte, i)));
    return factors;
}

bool IsPrime(int value) {
    if (value < 2) return false;
    for (int d = 2; d * d <= value; ++d) {
        if (value % d == 0) return false;
    }
    return true;
}

// Every byte of the text is the product of its factors, all of them powers.
void ExpectFactorsMultiplyOut(const TEncryptionPlan& plan, const std::string& text) {
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        const std::vector<int> factors = FactorsOf(plan, byte);
        ASSERT_FALSE(factors.empty()) << int{byte};
        int product = 1;
        for (int factor : factors) product *= factor;
        EXPECT_EQ(int{byte}, product);
        if (byte < 2) {
            EXPECT_EQ(1u, factors.size());  // 0 and 1 are raised themselves
        }
    }
}

TEST(EncryptionPlan, AllBytesNeedOnlyZeroOneAndThePrimes) {
    const std::string text = AllBytes();
    const TEncryptionPlan plan(text, true);
    std::vector<int> expected = {0, 1};
    for (int value = 2; value < 256; ++value) {
        if (IsPrime(value)) expected.push_back(value);
    }
    EXPECT_EQ(56u, expected.size());
    EXPECT_EQ(expected, PowersOf(plan));
    ExpectFactorsMultiplyOut(plan, text);
    EXPECT_EQ((std::vector<int>{2, 2, 2, 2, 2, 2, 2}), FactorsOf(plan, 128));
    EXPECT_EQ((std::vector<int>{3, 5, 17}), FactorsOf(plan, 255));
}

TEST(EncryptionPlan, FewestExponentiations) {
    // Shared primes are raised, the composites built from them.
    const TEncryptionPlan smooth(std::string("\x04\x06\x09\x04", 4), true);
    EXPECT_EQ((std::vector<int>{2, 3}), PowersOf(smooth));
    EXPECT_EQ((std::vector<int>{2, 2}), FactorsOf(smooth, 4));
    EXPECT_EQ((std::vector<int>{2, 3}), FactorsOf(smooth, 6));
    // 33 = 3 * 11 and 39 = 3 * 13: raising 3, 11 and 13 would cost one more.
    const TEncryptionPlan ownPrimes("!'", true);
    EXPECT_EQ((std::vector<int>{33, 39}), PowersOf(ownPrimes));
    EXPECT_EQ((std::vector<int>{33}), FactorsOf(ownPrimes, '!'));
    // 22 and 39 take their own primes; then 6 = 2 * 3 is left alone with both.
    const TEncryptionPlan chain(std::string("\x06\x16\x27", 3), true);
    EXPECT_EQ((std::vector<int>{6, 22, 39}), PowersOf(chain));
    // A prime that is also a factor of another byte is raised once for both.
    const TEncryptionPlan shared("\x02\x04\x08@", true);
    EXPECT_EQ((std::vector<int>{2}), PowersOf(shared));
    EXPECT_EQ((std::vector<int>{2, 2, 2, 2, 2, 2}), FactorsOf(shared, '@'));
    const TEncryptionPlan empty("", true);
    EXPECT_EQ(0u, empty.PowerCount());
}

TEST(EncryptionPlan, WithoutProductsEveryDistinctByteIsRaised) {
    const TEncryptionPlan plan("zebra zone", false);
    EXPECT_EQ((std::vector<int>{' ', 'a', 'b', 'e', 'n', 'o', 'r', 'z'}), PowersOf(plan));
    for (const char c : std::string("zebra zone"))
        EXPECT_EQ((std::vector<int>{c}), FactorsOf(plan, static_cast<unsigned char>(c)));
}

TEST(EncryptionPlan, RandomKeyTextsNeverCostMore) {
    Seed(BigRandom(), 151, 152);
    std::size_t distinctTotal = 0;
    std::size_t powerTotal = 0;
    for (int round = 0; round < 300; ++round) {
        const std::string text = RandomPrintable(32);
        const TEncryptionPlan plan(text, true);
        const std::size_t distinct = std::set<char>(text.begin(), text.end()).size();
        EXPECT_LE(plan.PowerCount(), distinct) << text;
        for (int power : PowersOf(plan)) {
            EXPECT_TRUE(IsPrime(power) || text.find(static_cast<char>(power)) != std::string::npos) << power;
        }
        ExpectFactorsMultiplyOut(plan, text);
        distinctTotal += distinct;
        powerTotal += plan.PowerCount();
    }
    // About 27 distinct characters need about 17 exponentiations.
    EXPECT_LT(powerTotal * 10, distinctTotal * 7);
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
