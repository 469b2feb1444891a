// Modular arithmetic, primality and the prime search, including the proof that
// a seeded search finds the very primes of the step-by-step method.
#include "support/testhelpers.h"
#include <gtest/gtest.h>

#include <functional>

#include "bigmath/bigmath.h"
#include "gmp_reference.h"
#include "isaac/isaac.h"

namespace {

std::unique_ptr<TBigint> Dec(const char* text) { return TBigint::CreateFromDecimal(text); }

TEST(SmallPrimesTable, ContentsAndOrder) {
    EXPECT_EQ(1229u, SmallPrimes.size());
    EXPECT_EQ(2, SmallPrimes.front());
    EXPECT_EQ(3, SmallPrimes[1]);
    EXPECT_EQ(9973, SmallPrimes.back());
    for (std::size_t i = 0; i < SmallPrimes.size(); ++i) {
        if (i > 0) {
            ASSERT_LT(SmallPrimes[i - 1], SmallPrimes[i]);
        }
        ASSERT_NE(0, mpz_probab_prime_p(gmpref::Z(SmallPrimes[i]).get(), 30)) << SmallPrimes[i];
    }
}

TEST(Primality, SmallValues) {
    EXPECT_FALSE(Dec("0")->IsProbablePrime(40));
    EXPECT_FALSE(Dec("1")->IsProbablePrime(40));
    EXPECT_TRUE(Dec("2")->IsProbablePrime(40));
    EXPECT_TRUE(Dec("3")->IsProbablePrime(40));
    EXPECT_TRUE(Dec("9973")->IsProbablePrime(40));
    EXPECT_FALSE(Dec("9999")->IsProbablePrime(40));
    EXPECT_FALSE(Dec("-7")->IsProbablePrime(40));
    for (int64_t v = 4; v < 20000; v += 2) ASSERT_FALSE(TBigint::CreateFromInt64(v)->IsProbablePrime(0)) << v;
    // Every value below 20000 agrees with GMP; no draws are needed for them.
    for (int64_t v = 0; v < 20000; ++v) {
        const bool prime = mpz_probab_prime_p(gmpref::Z(static_cast<long>(v)).get(), 30) != 0;
        ASSERT_EQ(prime, TBigint::CreateFromInt64(v)->IsProbablePrime(5)) << v;
    }
}

TEST(Primality, ProductOfLargePrimesNeedsTrials) {
    auto product = Dec("10007");
    product->Multiply(*Dec("10009"));
    EXPECT_TRUE(product->IsProbablePrime(0));
    EXPECT_FALSE(product->IsProbablePrime(1));
    // A big prime times a prime just above the table.
    auto big = Dec("170141183460469231731687303715884105727");  // 2^127 - 1
    EXPECT_TRUE(big->IsProbablePrime(40));
    big->MultiplyDigit(10007, false);
    EXPECT_TRUE(big->IsProbablePrime(0));
    EXPECT_FALSE(big->IsProbablePrime(40));
}

TEST(Primality, MillerRabinSingleRounds) {
    auto n = Dec("2047");  // 23 * 89, a strong pseudoprime to base 2
    EXPECT_TRUE(n->PassesMillerRabin(*Dec("2")));
    EXPECT_FALSE(n->PassesMillerRabin(*Dec("3")));
    auto p = Dec("1000000007");
    for (int w = 2; w < 50; ++w) EXPECT_TRUE(p->PassesMillerRabin(*TBigint::CreateFromInt64(w)));
}

TEST(ModularArithmetic, PowModCases) {
    auto x = Dec("3");
    x->PowMod(*Dec("10"), *Dec("1000"));
    EXPECT_EQ("49", x->ToString());
    x = Dec("12345");
    x->PowMod(*Dec("0"), *Dec("1"));
    EXPECT_EQ("1", x->ToString());
    x = Dec("12345");
    x->PowMod(*Dec("5"), *Dec("1"));
    EXPECT_EQ("0", x->ToString());
    x = Dec("-2");
    x->PowMod(*Dec("3"), *Dec("7"));
    EXPECT_EQ("6", x->ToString());  // -8 mod 7, Euclidean
    x = Dec("0");
    EXPECT_EQ("Zero to the zeroth power is not defined", ThrownText([&] { x->PowMod(*Dec("0"), *Dec("7")); }));
    x = Dec("5");
    EXPECT_EQ("Negative exponent", ThrownText([&] { x->PowMod(*Dec("-1"), *Dec("7")); }));
    EXPECT_EQ("5", x->ToString());
    x->PowMod(*x, *Dec("1000"));
    EXPECT_EQ("125", x->ToString());  // 5^5 mod 1000 with the receiver as exponent
    x = Dec("7");
    x->MulMod(*x, *Dec("10"));
    EXPECT_EQ("9", x->ToString());
}

TEST(ModularArithmetic, GcdCases) {
    EXPECT_EQ("6", Dec("12")->Gcd(*Dec("18"))->ToString());
    EXPECT_EQ("1", Dec("0")->Gcd(*Dec("0"))->ToString());
    EXPECT_EQ("Can't compute gcd: X or Y is zero", ThrownText([] { Dec("0")->Gcd(*Dec("5")); }));
    EXPECT_EQ("Can't compute gcd: X or Y is zero", ThrownText([] { Dec("5")->Gcd(*Dec("0")); }));
    EXPECT_EQ("Can't take gcd of negative number", ThrownText([] { Dec("-4")->Gcd(*Dec("6")); }));
    EXPECT_EQ("Can't take gcd of negative number", ThrownText([] { Dec("4")->Gcd(*Dec("-6")); }));
    EXPECT_EQ("4096", Dec("1048576")->Gcd(*Dec("4096"))->ToString());
    auto x = Dec("35");
    EXPECT_EQ("35", x->Gcd(*x)->ToString());
}

TEST(ModularArithmetic, ModInverseCases) {
    EXPECT_EQ("5", Dec("3")->ModInverse(*Dec("7"))->ToString());
    EXPECT_EQ("2753", Dec("17")->ModInverse(*Dec("3120"))->ToString());
    EXPECT_EQ("1", Dec("8")->ModInverse(*Dec("7"))->ToString());
    EXPECT_EQ("7 does not have a multiplicative inverse modulo 7", ThrownText([] { Dec("7")->ModInverse(*Dec("7")); }));
    EXPECT_EQ("6 does not have a multiplicative inverse modulo 9", ThrownText([] { Dec("6")->ModInverse(*Dec("9")); }));
    EXPECT_EQ("4 does not have a multiplicative inverse modulo 10",
              ThrownText([] { Dec("4")->ModInverse(*Dec("10")); }));
    try {
        Dec("3")->ModInverse(*Dec("0"));
        ADD_FAILURE() << "no exception";
    } catch (const EDivByZero& e) {
        EXPECT_STREQ("Zero modulus", e.what());
    }
    EXPECT_EQ("7", Dec("-3")->ModInverse(*Dec("11"))->ToString());  // -3 is 8 modulo 11
    auto check = Dec("7");
    check->MulMod(*Dec("-3"), *Dec("11"));
    EXPECT_EQ("1", check->ToString());
}

// Adding the modulus only to a negative coefficient can leave the last
// coefficient at 54 for 27 modulo 47; the inverse proper is 7.
TEST(ModularArithmetic, ModInverseIsFullyReduced) {
    gmpref::Z unreduced;
    ASSERT_TRUE(gmpref::ModInverse(gmpref::Z(27), gmpref::Z(47), unreduced, false));
    EXPECT_EQ("54", unreduced.str());
    EXPECT_EQ("7", Dec("27")->ModInverse(*Dec("47"))->ToString());
    EXPECT_EQ("11", Dec("19")->ModInverse(*Dec("52"))->ToString());
    for (int m = 2; m < 300; ++m) {
        for (int x = 1; x < m; ++x) {
            gmpref::Z expected;
            if (mpz_invert(expected.get(), gmpref::Z(x).get(), gmpref::Z(m).get()) == 0) {
                EXPECT_THROW(TBigint::CreateFromInt64(x)->ModInverse(*TBigint::CreateFromInt64(m)), std::runtime_error);
            } else {
                ASSERT_EQ(expected.str(),
                          TBigint::CreateFromInt64(x)->ModInverse(*TBigint::CreateFromInt64(m))->ToString())
                    << x << " mod " << m;
            }
        }
    }
}

TEST(PrimeSearch, SmallSizes) {
    BigRandom();
    Seed(BigRandom(), 3, 4);
    for (int i = 0; i < 20; ++i) EXPECT_EQ("3", TBigint::CreateProbablePrime(2)->ToString());
    for (int i = 0; i < 50; ++i) {
        const auto p = TBigint::CreateProbablePrime(3);
        EXPECT_TRUE(p->ToString() == "3" || p->ToString() == "5" || p->ToString() == "7") << p->ToString();
    }
    EXPECT_EQ("Invalid number of bits: 1", ThrownText([] { TBigint::CreateProbablePrime(1); }));
    EXPECT_EQ("Invalid number of bits: 0", ThrownText([] { TBigint::CreateProbablePrime(0); }));
    for (int bits : {17, 64, 100, 256}) {
        const auto p = TBigint::CreateProbablePrime(bits);
        EXPECT_LE(p->BitLength(), bits);
        EXPECT_NE(0, mpz_probab_prime_p(gmpref::ToZ(*p).get(), 30));
    }
}

// The fast search and the step-by-step method on GMP, fed identical seeds,
// find the same primes and leave their generators at the same place.
TEST(PrimeSearch, SameSequenceAsStepByStepMethod) {
    TIsaac reference;
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Seed(BigRandom(), seed, 1000 + seed);
        Seed(reference, seed, 1000 + seed);
        for (int bits : {2, 5, 16, 33, 64, 127, 256, 512}) {
            const auto ours = TBigint::CreateProbablePrime(bits);
            const gmpref::Z theirs = gmpref::ProbablePrime(reference, bits);
            ASSERT_EQ(theirs.str(), ours->ToString()) << "seed " << seed << ", " << bits << " bits";
        }
        ASSERT_EQ(reference.Next(), BigRandom().Next());
    }
}

}  // namespace
