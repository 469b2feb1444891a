#pragma once
// TBigint: arbitrary-precision signed integer. The observable form is sign plus
// 16-bit digits, least significant first, always normalised; underneath, the
// magnitude is kept in 64-bit limbs so the kernels run four digits at a time.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bigmath/limbs.h"

class TIsaac;

// Raised for a division or remainder by zero (and a zero modulus).
class EDivByZero : public std::runtime_error {
public:
    explicit EDivByZero(const std::string& text = "Division by zero") : std::runtime_error(text) {}
};

// Input of CreateFromDigits: 16-bit digits, element 0 least significant.
using TDynamicDigitArray = std::vector<uint16_t>;

class TBigint;

struct TDivModResult {
    std::unique_ptr<TBigint> Quotient;
    std::unique_ptr<TBigint> Remainder;
};

class TBigint {
public:
    // Zero. Prefer the Create* factories; values can also be copied and moved.
    TBigint() = default;
    TBigint(const TBigint& other);
    TBigint(TBigint&& other) noexcept;
    TBigint& operator=(const TBigint& other);
    TBigint& operator=(TBigint&& other) noexcept;
    // Overwrites the digits of a multi-digit value before the memory goes back.
    ~TBigint();

    // ---- constructors ----
    // Zero with `count` zero digits (not normalised: DigitCount() is `count`).
    static std::unique_ptr<TBigint> Create(int32_t count);
    // Bases 2 to 36 (std::invalid_argument otherwise); "Zero-length string",
    // "Invalid Char: %s" also for a digit not below the base.
    static std::unique_ptr<TBigint> CreateFromString(std::string_view text, int base);
    static std::unique_ptr<TBigint> CreateFromDecimal(std::string_view text);
    static std::unique_ptr<TBigint> CreateCopy(const TBigint& source);
    static std::unique_ptr<TBigint> CreateFromInt64(int64_t value);
    // [0, 2^bits), digits drawn from BigRandom from the top digit down.
    static std::unique_ptr<TBigint> CreateRandomBits(int32_t bits);
    // [0, max), digits drawn from BigRandom from the top digit down.
    static std::unique_ptr<TBigint> CreateRandomBelow(const TBigint& max);
    // Random probable prime below 2^bits (bits >= 2).
    static std::unique_ptr<TBigint> CreateProbablePrime(int32_t bits);
    // Non-negative value with these digits; leading zero digits are dropped and
    // an empty array gives zero.
    static std::unique_ptr<TBigint> CreateFromDigits(const TDynamicDigitArray& digits);

    // ---- queries ----
    // Optional "-", digits 0-9a-z, no leading zeros; bases 2 to 36.
    std::string ToString(int base = 10) const;
    int Compare(const TBigint& other) const;
    bool Equals(const TBigint& other) const { return Compare(other) == 0; }
    bool IsZero() const { return Limbs.empty(); }
    bool IsOne() const { return !Negative && Limbs.size() == 1 && Limbs[0] == 1; }
    bool IsEven() const { return Limbs.empty() || (Limbs[0] & 1) == 0; }
    bool IsOdd() const { return !IsEven(); }
    bool IsNegative() const { return Negative; }
    int32_t BitLength() const;
    int32_t LowestSetBit() const;
    int32_t DigitCount() const { return Size; }
    // Digit i, least significant first; std::out_of_range outside [0, DigitCount()).
    uint16_t GetDigit(int32_t i) const;

    // ---- in-place operations (the argument may be the receiver itself) ----
    void Abs() { Negative = false; }
    void Add(const TBigint& other);
    void Subtract(const TBigint& other);
    void Multiply(const TBigint& other);
    void AddDigit(uint16_t d);
    void SubtractDigit(uint16_t d);
    void MultiplyDigit(uint16_t d, bool negate);
    void ShiftLeft(int32_t bits);
    void ShiftRight(int32_t bits);
    void ShiftLeftDigits(int32_t n);
    void ShiftRightDigits(int32_t n);
    // Euclidean remainder: always in [0, |divisor|).
    void Modulo(const TBigint& divisor);
    void ModuloDigit(uint16_t d);
    void Assign(const TBigint& source);

    // Euclidean division; the receiver is unchanged.
    TDivModResult DivMod(const TBigint& divisor) const;
    TDivModResult DivModDigit(uint16_t d, bool divisorNegative) const;

    // ---- modular arithmetic and primes ----
    // Results lie in [0, |modulus|); a zero modulus raises EDivByZero.
    void MulMod(const TBigint& factor, const TBigint& modulus);
    // A zero exponent gives 1 (also modulo 1); "Negative exponent",
    // "Zero to the zeroth power is not defined".
    void PowMod(const TBigint& exponent, const TBigint& modulus);
    std::unique_ptr<TBigint> Gcd(const TBigint& other) const;
    // The inverse in [0, |modulus|); "Zero modulus" (EDivByZero), or
    // "%s does not have a multiplicative inverse modulo %s" when the two share a factor.
    std::unique_ptr<TBigint> ModInverse(const TBigint& modulus) const;
    bool PassesMillerRabin(const TBigint& witness) const;
    bool IsProbablePrime(int32_t trials) const;

private:
    void SetFromLimbs(bigmath::TLimbs&& limbs, bool negative);
    void Renormalise();
    void Wipe();

    bool Negative = false;
    int32_t Size = 1;
    // Magnitude, least significant limb first, no zero limb on top (zero: empty).
    bigmath::TLimbs Limbs;
};

// ---- module state ----
// The digit alphabet of ToString.
inline constexpr std::string_view DigitChars = "0123456789abcdefghijklmnopqrstuvwxyz";
// Largest k with base^k < 2^63, for bases 2 to 36 (0 elsewhere).
int ChunkDigits(int base);
// base^ChunkDigits(base).
const TBigint& ChunkPowers(int base);

const TBigint& BigZero();
const TBigint& BigOne();
const TBigint& BigMinusOne();
const TBigint& BigTwo();
const TBigint& BigThree();
const TBigint& BigFour();
const TBigint& BigEight();

// The shared generator of the random constructors, seeded from the operating
// system's entropy source on first use. Tests reseed it with Seed().
TIsaac& BigRandom();

// The 1229 primes below 10000, ascending.
inline constexpr std::size_t kSmallPrimeCount = 1229;
extern const std::array<int32_t, kSmallPrimeCount> SmallPrimes;
