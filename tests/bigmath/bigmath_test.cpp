// Edge cases of the representation, text forms, signs, shifts and division.
#include "support/testhelpers.h"
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "bigmath/bigmath.h"
#include "isaac/generalrandom.h"
#include "isaac/isaac.h"

namespace {

std::unique_ptr<TBigint> Dec(const char* text) { return TBigint::CreateFromDecimal(text); }

void SeedBigRandom(uint32_t a, uint32_t b) {
    const uint32_t words[2] = {a, b};
    BigRandom().Seed(words, 1, true);
}

TEST(BigintText, ZeroForms) {
    for (const char* text : {"0", "000", "-0", "-000"}) {
        auto x = Dec(text);
        EXPECT_TRUE(x->IsZero()) << text;
        EXPECT_FALSE(x->IsNegative()) << text;
        EXPECT_EQ(1, x->DigitCount()) << text;
        EXPECT_EQ("0", x->ToString()) << text;
    }
}

TEST(BigintText, Errors) {
    EXPECT_EQ("Zero-length string", ThrownText([] { Dec(""); }));
    EXPECT_EQ("Zero-length string", ThrownText([] { Dec("-"); }));
    EXPECT_EQ("Invalid Char: +", ThrownText([] { Dec("+5"); }));
    EXPECT_EQ("Invalid Char:  ", ThrownText([] { Dec(" 5"); }));
    EXPECT_EQ("Invalid Char: -", ThrownText([] { Dec("--5"); }));
    EXPECT_EQ("Invalid Char: x", ThrownText([] { Dec("00x1"); }));
    // A digit outside the base is refused rather than read as a meaningless value.
    EXPECT_EQ("Invalid Char: a", ThrownText([] { Dec("12a"); }));
    EXPECT_EQ("Invalid Char: 2", ThrownText([] { TBigint::CreateFromString("102", 2); }));
    EXPECT_THROW(TBigint::CreateFromString("1", 37), std::invalid_argument);
    EXPECT_THROW(Dec("5")->ToString(1), std::invalid_argument);
}

TEST(BigintText, CaseAndBases) {
    auto upper = TBigint::CreateFromString("ABC", 16);
    auto lower = TBigint::CreateFromString("abc", 16);
    EXPECT_TRUE(upper->Equals(*lower));
    EXPECT_EQ("abc", upper->ToString(16));
    EXPECT_EQ("2748", upper->ToString());
    EXPECT_EQ("-zz", TBigint::CreateFromString("-ZZ", 36)->ToString(36));
    EXPECT_EQ("-1295", TBigint::CreateFromString("-ZZ", 36)->ToString());
    EXPECT_EQ("101", TBigint::CreateFromInt64(5)->ToString(2));
}

TEST(BigintText, ChunkBoundaries) {
    const std::string eighteen = "123456789012345678";
    const std::string nineteen = "9" + eighteen;
    const std::string thirtySix = eighteen + "987654321098765432";
    for (const std::string& text : {eighteen, nineteen, thirtySix, std::string("1") + std::string(36, '0')}) {
        EXPECT_EQ(text, Dec(text.c_str())->ToString());
        EXPECT_EQ("-" + text, Dec(("-" + text).c_str())->ToString());
    }
    EXPECT_EQ(18, ChunkDigits(10));
    EXPECT_EQ(62, ChunkDigits(2));
    EXPECT_EQ(39, ChunkDigits(3));
    EXPECT_EQ(12, ChunkDigits(36));
    EXPECT_EQ("1000000000000000000", ChunkPowers(10).ToString());
    // 10^18 - 1 and 10^18 straddle one chunk.
    EXPECT_EQ("999999999999999999", Dec("000999999999999999999")->ToString());
    EXPECT_EQ(std::string(62, '1'), TBigint::CreateFromString(std::string(62, '1'), 2)->ToString(2));
    EXPECT_EQ(std::string(63, '1'), TBigint::CreateFromString(std::string(63, '1'), 2)->ToString(2));
}

TEST(BigintConstruct, FromInt64) {
    auto min = TBigint::CreateFromInt64(std::numeric_limits<int64_t>::min());
    ASSERT_EQ(4, min->DigitCount());
    EXPECT_EQ(0, min->GetDigit(0));
    EXPECT_EQ(0, min->GetDigit(1));
    EXPECT_EQ(0, min->GetDigit(2));
    EXPECT_EQ(0x8000, min->GetDigit(3));
    EXPECT_TRUE(min->IsNegative());
    EXPECT_EQ("-9223372036854775808", min->ToString());
    EXPECT_EQ(1, TBigint::CreateFromInt64(65535)->DigitCount());
    EXPECT_EQ(2, TBigint::CreateFromInt64(65536)->DigitCount());
    EXPECT_EQ(3, TBigint::CreateFromInt64(-(int64_t{1} << 32))->DigitCount());
    EXPECT_EQ("9223372036854775807", TBigint::CreateFromInt64(std::numeric_limits<int64_t>::max())->ToString());
}

TEST(BigintConstruct, DigitsAndCreate) {
    auto x = TBigint::CreateFromDigits({0x1234, 0, 0xABCD});
    EXPECT_EQ(3, x->DigitCount());
    EXPECT_EQ(0x1234, x->GetDigit(0));
    EXPECT_EQ(0, x->GetDigit(1));
    EXPECT_EQ(0xABCD, x->GetDigit(2));
    EXPECT_EQ("abcd00001234", x->ToString(16));
    EXPECT_THROW(x->GetDigit(3), std::out_of_range);
    EXPECT_THROW(x->GetDigit(-1), std::out_of_range);
    EXPECT_EQ(1, TBigint::CreateFromDigits({7, 0, 0})->DigitCount());

    auto buffer = TBigint::Create(5);
    EXPECT_EQ(5, buffer->DigitCount());
    EXPECT_TRUE(buffer->IsZero());
    EXPECT_EQ(0, buffer->GetDigit(4));
    buffer->AddDigit(3);
    EXPECT_EQ(1, buffer->DigitCount());
    EXPECT_EQ("3", buffer->ToString());
}

TEST(BigintConstruct, CopyAssignAndConstants) {
    auto a = Dec("-123456789012345678901234567890");
    auto b = TBigint::CreateCopy(*a);
    EXPECT_TRUE(a->Equals(*b));
    auto c = Dec("7");
    c->Assign(*a);
    EXPECT_EQ(a->ToString(), c->ToString());
    EXPECT_EQ(a->DigitCount(), c->DigitCount());
    c->Assign(*c);
    EXPECT_EQ(a->ToString(), c->ToString());
    c->AddDigit(1);
    EXPECT_FALSE(a->Equals(*c));  // a deep copy
    EXPECT_EQ("0", BigZero().ToString());
    EXPECT_EQ("1", BigOne().ToString());
    EXPECT_EQ("-1", BigMinusOne().ToString());
    EXPECT_EQ("2", BigTwo().ToString());
    EXPECT_EQ("3", BigThree().ToString());
    EXPECT_EQ("4", BigFour().ToString());
    EXPECT_EQ("8", BigEight().ToString());
    EXPECT_EQ('z', DigitChars[35]);
}

TEST(BigintConstruct, DestructionWipesMultiDigitValuesOnly) {
    ResetGeneralRandom();
    { auto one = TBigint::CreateFromInt64(65535); }
    const uint32_t afterOneDigit = GeneralRandom(1u << 31);
    ResetGeneralRandom();
    EXPECT_EQ(afterOneDigit, GeneralRandom(1u << 31));  // no draw for a one-digit value

    ResetGeneralRandom();
    { auto three = TBigint::CreateFromDigits({1, 2, 3}); }
    const uint32_t afterThree = GeneralRandom(1u << 31);
    ResetGeneralRandom();
    GeneralRandom(65535);
    GeneralRandom(65535);
    GeneralRandom(65535);
    EXPECT_EQ(afterThree, GeneralRandom(1u << 31));  // one draw per digit
}

TEST(BigintQueries, CompareAndParity) {
    EXPECT_EQ(-1, Dec("-5")->Compare(*Dec("3")));
    EXPECT_EQ(1, Dec("-5")->Compare(*Dec("-7")));
    EXPECT_EQ(1, Dec("3")->Compare(*Dec("-5")));
    auto x = Dec("123456789123456789123456789");
    EXPECT_EQ(0, x->Compare(*x));
    EXPECT_EQ(-1, Dec("65535")->Compare(*Dec("65536")));
    EXPECT_TRUE(Dec("1")->IsOne());
    EXPECT_FALSE(Dec("-1")->IsOne());
    EXPECT_TRUE(Dec("-4")->IsEven());
    EXPECT_TRUE(Dec("-3")->IsOdd());
    EXPECT_TRUE(Dec("0")->IsEven());
    EXPECT_EQ(0, Dec("0")->BitLength());
    EXPECT_EQ(0, Dec("0")->LowestSetBit());
    EXPECT_EQ(17, Dec("65536")->BitLength());
    EXPECT_EQ(16, Dec("65536")->LowestSetBit());
    EXPECT_EQ(16, Dec("-65535")->BitLength());
}

TEST(BigintArithmetic, SignsAndZero) {
    auto x = Dec("5");
    x->Subtract(*x);
    EXPECT_TRUE(x->IsZero());
    EXPECT_FALSE(x->IsNegative());
    x = Dec("5");
    x->SubtractDigit(5);
    EXPECT_EQ("0", x->ToString());
    EXPECT_FALSE(x->IsNegative());
    x = Dec("-5");
    x->AddDigit(5);
    EXPECT_EQ("0", x->ToString());
    EXPECT_FALSE(x->IsNegative());
    x = Dec("3");
    x->SubtractDigit(10);
    EXPECT_EQ("-7", x->ToString());
    x = Dec("-3");
    x->SubtractDigit(10);
    EXPECT_EQ("-13", x->ToString());
    x = Dec("-3");
    x->AddDigit(10);
    EXPECT_EQ("7", x->ToString());
    x = Dec("-3");
    x->MultiplyDigit(0, false);
    EXPECT_EQ("0", x->ToString());
    EXPECT_FALSE(x->IsNegative());
    x = Dec("-3");
    x->MultiplyDigit(4, true);
    EXPECT_EQ("12", x->ToString());
    x = Dec("-3");
    x->Multiply(*Dec("0"));
    EXPECT_FALSE(x->IsNegative());
    x = Dec("65535");
    x->AddDigit(1);
    EXPECT_EQ(2, x->DigitCount());
    x = Dec("65536");
    x->SubtractDigit(1);
    EXPECT_EQ(1, x->DigitCount());
    x = Dec("-100000000000000000000");
    x->Add(*Dec("100000000000000000000"));
    EXPECT_FALSE(x->IsNegative());
    EXPECT_EQ(1, x->DigitCount());
}

TEST(BigintArithmetic, Shifts) {
    auto x = TBigint::CreateFromInt64(0x8000);
    x->ShiftLeft(17);
    EXPECT_EQ("4294967296", x->ToString());
    EXPECT_EQ(3, x->DigitCount());
    x = Dec("1");
    x->ShiftRight(1);
    EXPECT_TRUE(x->IsZero());
    EXPECT_EQ(1, x->DigitCount());
    x = Dec("-1");
    x->ShiftRight(1);
    EXPECT_FALSE(x->IsNegative());
    x = Dec("-5");
    x->ShiftRight(1);
    EXPECT_EQ("-2", x->ToString());  // the magnitude is shifted
    x = Dec("-5");
    x->ShiftLeft(-1);
    EXPECT_EQ("-2", x->ToString());
    x = Dec("0");
    x->ShiftLeftDigits(3);
    EXPECT_EQ(1, x->DigitCount());
    x = Dec("1");
    x->ShiftLeftDigits(2);
    EXPECT_EQ(3, x->DigitCount());
    x->ShiftRightDigits(5);
    EXPECT_TRUE(x->IsZero());
    x = Dec("-1");
    x->ShiftLeftDigits(1);
    x->ShiftRightDigits(1);
    EXPECT_EQ("-1", x->ToString());
}

TEST(BigintDivision, EuclideanForNegativeDividends) {
    const struct {
        const char *a, *b, *q, *r;
    } cases[] = {{"7", "2", "3", "1"},
                 {"-7", "2", "-4", "1"},
                 {"7", "-2", "-3", "1"},
                 {"-7", "-2", "4", "1"},
                 {"-6", "2", "-3", "0"},
                 {"3", "100000000000000000000", "0", "3"},
                 {"-3", "100000000000000000000", "-1", "99999999999999999997"}};
    for (const auto& c : cases) {
        const TDivModResult result = Dec(c.a)->DivMod(*Dec(c.b));
        EXPECT_EQ(c.q, result.Quotient->ToString()) << c.a << " / " << c.b;
        EXPECT_EQ(c.r, result.Remainder->ToString()) << c.a << " / " << c.b;
    }
    const TDivModResult digit = Dec("-7")->DivModDigit(2, true);
    EXPECT_EQ("4", digit.Quotient->ToString());
    EXPECT_EQ("1", digit.Remainder->ToString());
    auto x = Dec("-7");
    x->ModuloDigit(3);
    EXPECT_EQ("2", x->ToString());
    auto dividend = Dec("123");
    (void)dividend->DivMod(*Dec("10"));
    EXPECT_EQ("123", dividend->ToString());  // receiver unchanged
}

TEST(BigintDivision, ZeroDivisor) {
    EXPECT_THROW(Dec("5")->DivMod(*Dec("0")), EDivByZero);
    EXPECT_THROW(Dec("5")->DivModDigit(0, false), EDivByZero);
    auto x = Dec("5");
    EXPECT_THROW(x->Modulo(*Dec("0")), EDivByZero);
    EXPECT_THROW(x->ModuloDigit(0), EDivByZero);
    EXPECT_THROW(x->MulMod(*Dec("3"), *Dec("0")), EDivByZero);
    EXPECT_THROW(x->PowMod(*Dec("3"), *Dec("0")), EDivByZero);
    EXPECT_EQ("5", x->ToString());
}

// Sixteen-bit cases of Algorithm D's rare branches, checked by the identity.
TEST(BigintDivision, RareBranchesByIdentity) {
    const char* cases[][2] = {{"7fff800000000000", "800000000001"},                          // add-back
                              {"ffff0000abaf", "7fff80007fff"},                              // add-back
                              {"fffe00018000ffff00002589fffefffe", "fffe80008000ffff0001"},  // estimate 65535
                              {"1", "ffffffffffffffffffff"}};  // dividend shorter than the divisor
    for (const auto& c : cases) {
        auto a = TBigint::CreateFromString(c[0], 16);
        auto b = TBigint::CreateFromString(c[1], 16);
        const TDivModResult result = a->DivMod(*b);
        auto check = TBigint::CreateCopy(*result.Quotient);
        check->Multiply(*b);
        check->Add(*result.Remainder);
        EXPECT_TRUE(check->Equals(*a)) << c[0];
        EXPECT_LT(result.Remainder->Compare(*b), 0);
        EXPECT_FALSE(result.Remainder->IsNegative());
    }
}

TEST(BigintRandom, BitsAndBelow) {
    SeedBigRandom(1, 2);
    EXPECT_EQ("Invalid number of bits: 0", ThrownText([] { TBigint::CreateRandomBits(0); }));
    EXPECT_EQ("Invalid number of bits: -3", ThrownText([] { TBigint::CreateRandomBits(-3); }));
    EXPECT_EQ("Invalid Max: 0", ThrownText([] { TBigint::CreateRandomBelow(*Dec("0")); }));
    EXPECT_EQ("Invalid Max: -12", ThrownText([] { TBigint::CreateRandomBelow(*Dec("-12")); }));
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(1, TBigint::CreateRandomBits(16)->DigitCount());
        auto seventeen = TBigint::CreateRandomBits(17);
        EXPECT_LE(seventeen->DigitCount(), 2);
        if (seventeen->DigitCount() == 2) {
            EXPECT_EQ(1, seventeen->GetDigit(1));
        }
        EXPECT_LT(TBigint::CreateRandomBits(100)->BitLength(), 101);
        EXPECT_EQ(1, TBigint::CreateRandomBelow(*Dec("65536"))->DigitCount());
        EXPECT_TRUE(TBigint::CreateRandomBelow(*Dec("1"))->IsZero());
        auto max = Dec("123456789012345678901234567890");
        auto below = TBigint::CreateRandomBelow(*max);
        EXPECT_LT(below->Compare(*max), 0);
        EXPECT_FALSE(below->IsNegative());
    }
}

TEST(BigintRandom, DrawOrderTopDigitFirst) {
    SeedBigRandom(7, 9);
    auto x = TBigint::CreateRandomBits(40);  // three digits, the top one masked to 8 bits
    TIsaac reference;
    const uint32_t words[2] = {7, 9};
    reference.Seed(words, 1, true);
    const int32_t top = reference.Range(65536) & 0xFF;
    const int32_t middle = reference.Range(65536);
    const int32_t low = reference.Range(65536);
    EXPECT_EQ(top, x->DigitCount() == 3 ? x->GetDigit(2) : 0);
    EXPECT_EQ(middle, x->GetDigit(1));
    EXPECT_EQ(low, x->GetDigit(0));

    SeedBigRandom(7, 9);
    auto max = TBigint::CreateFromDigits({5, 6, 300});
    auto below = TBigint::CreateRandomBelow(*max);
    reference.Seed(words, 1, true);
    const int32_t topBelow = reference.Range(300);
    const int32_t midBelow = reference.Range(65536);
    const int32_t lowBelow = reference.Range(65536);
    auto expected = TBigint::CreateFromDigits(
        {static_cast<uint16_t>(lowBelow), static_cast<uint16_t>(midBelow), static_cast<uint16_t>(topBelow)});
    EXPECT_TRUE(expected->Equals(*below));
}

TEST(BigintRandom, TopDigitOfOneBoundsTheFirstDrawAtEveryPlaceOfTheTopLimb) {
    // A top digit of 1 makes the first draw Range(1): always 0, but it still
    // takes a value. Powers of two put that digit at each place of a limb.
    const uint32_t words[2] = {3, 5};
    for (int32_t shift : {16, 48, 64, 112, 128}) {
        auto max = TBigint::CreateFromInt64(1);
        max->ShiftLeft(shift);
        ASSERT_EQ(max->GetDigit(max->DigitCount() - 1), 1) << shift;
        SeedBigRandom(3, 5);
        auto below = TBigint::CreateRandomBelow(*max);
        TIsaac reference;
        reference.Seed(words, 1, true);
        EXPECT_EQ(reference.Range(1), 0);
        TDynamicDigitArray digits(static_cast<std::size_t>(shift / 16));
        for (auto digit = digits.rbegin(); digit != digits.rend(); ++digit)
            *digit = static_cast<uint16_t>(reference.Range(65536));
        EXPECT_TRUE(TBigint::CreateFromDigits(digits)->Equals(*below)) << shift;
    }
}

}  // namespace
