// Differential tests: every operation on thousands of operands of mixed signs
// and sizes against GMP.
#include <gtest/gtest.h>

#include <random>

#include "bigmath/bigmath.h"
#include "gmp_reference.h"

using gmpref::FromZ;
using gmpref::ToZ;
using gmpref::Z;

namespace {

class Operands {
public:
    explicit Operands(uint64_t seed) : Engine(seed) {}

    // 1 to maxDigits digits; some operands are built from edge digits so that
    // division meets equal top digits, borrows and long carry runs.
    std::unique_ptr<TBigint> Next(int maxDigits = 200, bool allowNegative = true) {
        const int size = std::uniform_int_distribution<int>(1, maxDigits)(Engine);
        const int style = std::uniform_int_distribution<int>(0, 3)(Engine);
        static const uint16_t edge[] = {0, 1, 0x7FFF, 0x8000, 0xFFFF, 0xFFFE};
        TDynamicDigitArray digits(static_cast<std::size_t>(size));
        for (auto& d : digits) {
            if (style == 0) {
                d = edge[std::uniform_int_distribution<int>(0, 5)(Engine)];
            } else {
                d = static_cast<uint16_t>(Engine());
            }
        }
        while (digits.size() > 1 && digits.back() == 0) digits.pop_back();
        auto x = TBigint::CreateFromDigits(digits);
        if (allowNegative && (Engine() & 1)) x->MultiplyDigit(1, true);
        return x;
    }

    uint64_t Bits() { return Engine(); }

private:
    std::mt19937_64 Engine;
};

void ExpectEq(const Z& expected, const TBigint& actual, const char* what) {
    ASSERT_EQ(expected.str(16), ToZ(actual).str(16)) << what;
    // The digit view stays normalised.
    if (actual.DigitCount() > 1) {
        ASSERT_NE(actual.GetDigit(actual.DigitCount() - 1), 0) << what;
    }
    if (actual.IsZero()) {
        ASSERT_FALSE(actual.IsNegative()) << what;
        ASSERT_EQ(actual.DigitCount(), 1) << what;
    }
}

TEST(BigintVersusGmp, AddSubtractMultiplyCompare) {
    Operands ops(1);
    for (int i = 0; i < 3000; ++i) {
        auto a = ops.Next();
        auto b = ops.Next(i % 3 == 0 ? 2 : 200);
        const Z za = ToZ(*a), zb = ToZ(*b);
        Z sum, difference, product;
        mpz_add(sum.get(), za.get(), zb.get());
        mpz_sub(difference.get(), za.get(), zb.get());
        mpz_mul(product.get(), za.get(), zb.get());

        auto x = TBigint::CreateCopy(*a);
        x->Add(*b);
        ExpectEq(sum, *x, "add");
        x = TBigint::CreateCopy(*a);
        x->Subtract(*b);
        ExpectEq(difference, *x, "subtract");
        x = TBigint::CreateCopy(*a);
        x->Multiply(*b);
        ExpectEq(product, *x, "multiply");
        const int c = mpz_cmp(za.get(), zb.get());
        ASSERT_EQ((c > 0) - (c < 0), a->Compare(*b));
        ASSERT_EQ(mpz_sizeinbase(za.get(), 2) * (mpz_sgn(za.get()) != 0), static_cast<std::size_t>(a->BitLength()));
        if (!a->IsZero()) {
            ASSERT_EQ(mpz_scan1(za.get(), 0), static_cast<mp_bitcnt_t>(a->LowestSetBit()));
        }
    }
}

// Long operands take the Karatsuba paths (balanced, unbalanced, squaring).
TEST(BigintVersusGmp, LargeMultiplication) {
    Operands ops(11);
    for (int i = 0; i < 120; ++i) {
        auto a = ops.Next(2400);
        auto b = i % 3 == 0 ? TBigint::CreateCopy(*a) : ops.Next(i % 3 == 1 ? 2400 : 600);
        if (i % 4 == 0) a->ShiftLeftDigits(400);
        const Z za = ToZ(*a), zb = ToZ(*b);
        Z expected;
        mpz_mul(expected.get(), za.get(), zb.get());
        auto x = TBigint::CreateCopy(*a);
        x->Multiply(*b);
        ExpectEq(expected, *x, "long product");
        mpz_mul(expected.get(), za.get(), za.get());
        x = TBigint::CreateCopy(*a);
        x->Multiply(*x);
        ExpectEq(expected, *x, "long square");
    }
    // Digits of all ones make every partial sum carry.
    auto ones = TBigint::CreateFromDigits(TDynamicDigitArray(2000, 0xFFFF));
    Z zo = ToZ(*ones), expected;
    mpz_mul(expected.get(), zo.get(), zo.get());
    ones->Multiply(*ones);
    ExpectEq(expected, *ones, "all ones squared");
}

TEST(BigintVersusGmp, ReceiverAsArgument) {
    Operands ops(2);
    for (int i = 0; i < 500; ++i) {
        auto a = ops.Next();
        const Z za = ToZ(*a);
        Z expected;
        auto x = TBigint::CreateCopy(*a);
        x->Multiply(*x);
        mpz_mul(expected.get(), za.get(), za.get());
        ExpectEq(expected, *x, "square");
        x = TBigint::CreateCopy(*a);
        x->Add(*x);
        mpz_add(expected.get(), za.get(), za.get());
        ExpectEq(expected, *x, "double");
        x = TBigint::CreateCopy(*a);
        x->Subtract(*x);
        ExpectEq(Z(0), *x, "self difference");
        if (!a->IsZero()) {
            x = TBigint::CreateCopy(*a);
            x->Modulo(*x);
            ExpectEq(Z(0), *x, "self remainder");
            x = TBigint::CreateCopy(*a);
            x->Abs();
            x->MulMod(*x, *a);
            ExpectEq(Z(0), *x, "self mulmod");
        }
    }
}

TEST(BigintVersusGmp, DigitOperations) {
    Operands ops(3);
    for (int i = 0; i < 3000; ++i) {
        auto a = ops.Next(i % 2 ? 3 : 200);
        const uint16_t d = static_cast<uint16_t>(i % 7 == 0 ? 0xFFFF : ops.Bits());
        const bool negate = ops.Bits() & 1;
        const Z za = ToZ(*a);
        Z expected;
        auto x = TBigint::CreateCopy(*a);
        x->AddDigit(d);
        mpz_add_ui(expected.get(), za.get(), d);
        ExpectEq(expected, *x, "add digit");
        x = TBigint::CreateCopy(*a);
        x->SubtractDigit(d);
        mpz_sub_ui(expected.get(), za.get(), d);
        ExpectEq(expected, *x, "subtract digit");
        x = TBigint::CreateCopy(*a);
        x->MultiplyDigit(d, negate);
        mpz_mul_si(expected.get(), za.get(), negate ? -static_cast<long>(d) : static_cast<long>(d));
        ExpectEq(expected, *x, "multiply digit");
        if (d != 0) {
            // Euclidean division by a one-digit divisor of either sign.
            const long divisor = negate ? -static_cast<long>(d) : static_cast<long>(d);
            Z r, q, zd(divisor);
            mpz_mod(r.get(), za.get(), zd.get());
            mpz_sub(q.get(), za.get(), r.get());
            mpz_divexact(q.get(), q.get(), zd.get());
            const TDivModResult result = a->DivModDigit(d, negate);
            ExpectEq(q, *result.Quotient, "digit quotient");
            ExpectEq(r, *result.Remainder, "digit remainder");
            x = TBigint::CreateCopy(*a);
            x->ModuloDigit(d);
            mpz_mod_ui(expected.get(), za.get(), d);
            ExpectEq(expected, *x, "modulo digit");
        }
    }
}

TEST(BigintVersusGmp, EuclideanDivision) {
    Operands ops(4);
    for (int i = 0; i < 4000; ++i) {
        auto a = ops.Next();
        auto b = ops.Next(i % 4 == 0 ? 3 : 120);
        if (b->IsZero()) continue;
        const Z za = ToZ(*a), zb = ToZ(*b);
        Z r, q;
        mpz_mod(r.get(), za.get(), zb.get());
        mpz_sub(q.get(), za.get(), r.get());
        mpz_divexact(q.get(), q.get(), zb.get());
        const TDivModResult result = a->DivMod(*b);
        ExpectEq(q, *result.Quotient, "quotient");
        ExpectEq(r, *result.Remainder, "remainder");
        auto x = TBigint::CreateCopy(*a);
        x->Modulo(*b);
        ExpectEq(r, *x, "modulo");
    }
}

// Operands where a long division's quotient estimate is the digit base minus
// one, or overshoots so that the add-back step runs, both with 16-bit digits
// and with the 64-bit limbs used underneath (found by tracing the algorithm).
TEST(BigintVersusGmp, DivisionRareBranches) {
    const char* cases[][2] = {
        // estimate 65535 at 16-bit digits
        {"ffff0000ffff21fb80007fff127bfffe040d8000", "7fff8000fce51572"},
        {"fffe00018000ffff00002589fffefffe", "fffe80008000ffff0001"},
        {"80000000000199587fff58777fff", "8000fffe7fff0001fffe"},
        // add-back at 16-bit digits
        {"7fff800000000000", "800000000001"},
        {"ffff0000abaf", "7fff80007fff"},
        {"80008000800000018000d698eb440001", "7fff0001fffe"},
        // estimate 2^64 - 1 at 64-bit limbs
        {"fffefffefffe00018000fffe0000fffe00018000a050000080007fff7bff00008000fffefffe0207ffff7fff8a6a800000008000ffff0"
         "081fffe8000fffe8000",
         "fffefffefffe0001ffff00001322fffe0000000180000001940d000100000001"},
        {"ffff0000fffffffe7fff00000001ffffa9e7fffeead83f7e7fff172f0c10586e", "ffff0000fffffffec54679bc00000000"},
        // add-back at 64-bit limbs
        {"7fffffffffffffff80000000000000000000000000000000", "800000000000000000000000000000000000000000000001"},
        {"800000000000000000000000000000000000000000000003", "200000000000000000000000000000000000000000000001"},
    };
    for (const auto& c : cases) {
        const Z za(c[0], 16), zb(c[1], 16);
        for (int sign = 0; sign < 4; ++sign) {
            Z sa = za, sb = zb;
            if (sign & 1) mpz_neg(sa.get(), sa.get());
            if (sign & 2) mpz_neg(sb.get(), sb.get());
            Z r, q;
            mpz_mod(r.get(), sa.get(), sb.get());
            mpz_sub(q.get(), sa.get(), r.get());
            mpz_divexact(q.get(), q.get(), sb.get());
            const TDivModResult result = FromZ(sa)->DivMod(*FromZ(sb));
            ExpectEq(q, *result.Quotient, c[0]);
            ExpectEq(r, *result.Remainder, c[0]);
        }
    }
}

TEST(BigintVersusGmp, Shifts) {
    Operands ops(5);
    for (int i = 0; i < 3000; ++i) {
        auto a = ops.Next();
        const int bits = static_cast<int>(ops.Bits() % 300);
        const Z za = ToZ(*a);
        Z magnitude, expected;
        mpz_abs(magnitude.get(), za.get());
        const auto withSign = [&](Z value) {
            if (mpz_sgn(za.get()) < 0) mpz_neg(value.get(), value.get());
            return value;
        };
        mpz_mul_2exp(expected.get(), magnitude.get(), static_cast<mp_bitcnt_t>(bits));
        const Z left = withSign(expected);
        mpz_tdiv_q_2exp(expected.get(), magnitude.get(), static_cast<mp_bitcnt_t>(bits));
        const Z right = withSign(expected);

        auto x = TBigint::CreateCopy(*a);
        x->ShiftLeft(bits);
        ExpectEq(left, *x, "shift left");
        x = TBigint::CreateCopy(*a);
        x->ShiftRight(-bits);
        ExpectEq(left, *x, "negative shift right");
        x = TBigint::CreateCopy(*a);
        x->ShiftRight(bits);
        ExpectEq(right, *x, "shift right");
        x = TBigint::CreateCopy(*a);
        x->ShiftLeft(-bits);
        ExpectEq(right, *x, "negative shift left");

        const int digits = bits % 20;
        mpz_mul_2exp(expected.get(), magnitude.get(), static_cast<mp_bitcnt_t>(16 * digits));
        x = TBigint::CreateCopy(*a);
        x->ShiftLeftDigits(digits);
        ExpectEq(withSign(expected), *x, "shift left digits");
        mpz_tdiv_q_2exp(expected.get(), magnitude.get(), static_cast<mp_bitcnt_t>(16 * digits));
        x = TBigint::CreateCopy(*a);
        x->ShiftRightDigits(digits);
        ExpectEq(withSign(expected), *x, "shift right digits");
    }
}

TEST(BigintVersusGmp, TextForms) {
    Operands ops(6);
    const int bases[] = {2, 3, 7, 10, 16, 31, 36};
    for (int i = 0; i < 1500; ++i) {
        auto a = ops.Next();
        const Z za = ToZ(*a);
        for (int base : bases) {
            const std::string expected = za.str(base);
            ASSERT_EQ(expected, a->ToString(base));
            auto back = TBigint::CreateFromString(expected, base);
            ExpectEq(za, *back, "read back");
        }
    }
}

TEST(BigintVersusGmp, MulModAndPowMod) {
    Operands ops(7);
    for (int i = 0; i < 600; ++i) {
        const int size = i < 500 ? 40 : 200;
        auto base = ops.Next(size);
        auto exponent = ops.Next(i < 500 ? 40 : 8, false);
        auto modulus = ops.Next(size);
        if (modulus->IsZero()) continue;
        if (i % 3 == 0 && modulus->IsEven()) modulus->AddDigit(1);
        if (exponent->IsZero() && base->IsZero()) continue;
        const Z zb = ToZ(*base), ze = ToZ(*exponent), zm = ToZ(*modulus);
        Z absm, expected;
        mpz_abs(absm.get(), zm.get());
        if (mpz_sgn(ze.get()) == 0) {
            mpz_set_ui(expected.get(), 1);
        } else {
            mpz_powm(expected.get(), zb.get(), ze.get(), absm.get());
        }
        auto x = TBigint::CreateCopy(*base);
        x->PowMod(*exponent, *modulus);
        ExpectEq(expected, *x, "powmod");

        auto factor = ops.Next(size);
        Z product;
        mpz_mul(product.get(), zb.get(), ToZ(*factor).get());
        mpz_mod(expected.get(), product.get(), absm.get());
        x = TBigint::CreateCopy(*base);
        x->MulMod(*factor, *modulus);
        ExpectEq(expected, *x, "mulmod");
    }
}

TEST(BigintVersusGmp, PowModOneDigitBaseFullExponent) {
    Operands ops(8);
    for (int i = 0; i < 60; ++i) {
        auto modulus = ops.Next(i < 40 ? 64 : 256, false);
        if (modulus->IsEven()) modulus->AddDigit(1);
        if (modulus->IsOne()) continue;
        auto exponent = ops.Next(modulus->DigitCount(), false);
        if (exponent->IsZero()) continue;
        const uint16_t digit = static_cast<uint16_t>(ops.Bits());
        auto base = TBigint::CreateFromDigits({digit});
        Z expected;
        mpz_powm(expected.get(), ToZ(*base).get(), ToZ(*exponent).get(), ToZ(*modulus).get());
        base->PowMod(*exponent, *modulus);
        ExpectEq(expected, *base, "one-digit base");
    }
}

// Each modulus size has its own Montgomery kernel up to 16 limbs (64
// digits), and 24 and 32 limbs; the rest take the general one.
TEST(BigintVersusGmp, PowModEveryKernelSize) {
    Operands ops(10);
    for (int limbs = 1; limbs <= 66; ++limbs) {
        if (limbs > 34 && limbs != 48 && limbs != 64 && limbs != 66) continue;
        for (int variant = 0; variant < 3; ++variant) {
            // Full-width moduli, and ones a few digits short of the limb boundary.
            const int digits = 4 * limbs - (variant == 2 ? 3 : 0);
            TDynamicDigitArray modulusDigits(static_cast<std::size_t>(digits));
            for (auto& d : modulusDigits) d = static_cast<uint16_t>(ops.Bits());
            modulusDigits[0] |= 1;
            modulusDigits.back() |= variant == 0 ? 0x8000 : 1;  // top bit set, or a short top digit
            if (variant == 1) modulusDigits.back() &= 0x00FF;
            auto modulus = TBigint::CreateFromDigits(modulusDigits);
            auto base = ops.Next(digits, true);
            auto exponent = ops.Next(limbs > 16 ? 8 : digits, false);
            if (exponent->IsZero()) exponent->AddDigit(3);
            Z expected;
            mpz_powm(expected.get(), ToZ(*base).get(), ToZ(*exponent).get(), ToZ(*modulus).get());
            base->PowMod(*exponent, *modulus);
            ExpectEq(expected, *base, "kernel size");
            // All ones pushes every carry and the final subtraction.
            auto ones = TBigint::CreateCopy(*modulus);
            ones->SubtractDigit(1);
            Z expectedOnes;
            mpz_powm(expectedOnes.get(), ToZ(*ones).get(), ToZ(*exponent).get(), ToZ(*modulus).get());
            ones->PowMod(*exponent, *modulus);
            ExpectEq(expectedOnes, *ones, "modulus minus one");
        }
    }
}

TEST(BigintVersusGmp, GcdAndModInverse) {
    Operands ops(9);
    int inverses = 0;
    for (int i = 0; i < 2000; ++i) {
        auto a = ops.Next(i < 1500 ? 30 : 140, false);
        auto b = ops.Next(i < 1500 ? 30 : 140, false);
        if (a->IsZero() || b->IsZero()) continue;
        if (i % 2 == 0) {
            // Share a factor now and then.
            auto f = ops.Next(4, false);
            if (!f->IsZero()) {
                a->Multiply(*f);
                b->Multiply(*f);
            }
        }
        const Z za = ToZ(*a), zb = ToZ(*b);
        Z g;
        mpz_gcd(g.get(), za.get(), zb.get());
        ExpectEq(g, *a->Gcd(*b), "gcd");

        if (b->IsOne()) continue;
        Z reference, inverse;
        const bool exists = mpz_invert(inverse.get(), za.get(), zb.get()) != 0;
        const bool stepwise = gmpref::ModInverse(za, zb, reference);
        ASSERT_EQ(exists, stepwise);
        if (exists) {
            ++inverses;
            ExpectEq(reference, *a->ModInverse(*b), "inverse");
            ASSERT_EQ(0, mpz_cmp(reference.get(), inverse.get()));
        } else {
            EXPECT_THROW(a->ModInverse(*b), std::runtime_error);
        }
    }
    EXPECT_GT(inverses, 300);
}

}  // namespace
