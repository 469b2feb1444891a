#include "bigmath/bigmath.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "bigmath/kernels.h"
#include "isaac/generalrandom.h"
#include "isaac/isaac.h"
#include "secure/securewipe.h"

using bigmath::TLimbs;
using bigmath::u64;

namespace {

constexpr int DigitsOf(u64 top) {
    int digits = 0;
    while (top) {
        ++digits;
        top >>= 16;
    }
    return digits;
}

int32_t DigitCountOf(const TLimbs& limbs) {
    if (limbs.empty()) return 1;
    return static_cast<int32_t>(4 * (limbs.size() - 1)) + DigitsOf(limbs.back());
}

void Trim(TLimbs& limbs) {
    while (!limbs.empty() && limbs.back() == 0) limbs.pop_back();
}

int MagCmp(const TLimbs& a, const TLimbs& b) { return bigmath::Cmp(a.data(), a.size(), b.data(), b.size()); }

TLimbs MagAdd(const TLimbs& a, const TLimbs& b) {
    const TLimbs& longer = a.size() >= b.size() ? a : b;
    const TLimbs& shorter = a.size() >= b.size() ? b : a;
    TLimbs r(longer.size() + 1, 0);
    r[longer.size()] = bigmath::Add(r.data(), longer.data(), longer.size(), shorter.data(), shorter.size());
    Trim(r);
    return r;
}

// a - b for a >= b.
TLimbs MagSub(const TLimbs& a, const TLimbs& b) {
    TLimbs r(a.size(), 0);
    bigmath::Sub(r.data(), a.data(), a.size(), b.data(), b.size());
    Trim(r);
    return r;
}

TLimbs MagMul(const TLimbs& a, const TLimbs& b) {
    if (a.empty() || b.empty()) return {};
    TLimbs r(a.size() + b.size(), 0);
    bigmath::Mul(r.data(), a.data(), a.size(), b.data(), b.size());
    Trim(r);
    return r;
}

// Truncating division of magnitudes; b non-empty.
void MagDivMod(const TLimbs& a, const TLimbs& b, TLimbs* q, TLimbs& r) {
    if (MagCmp(a, b) < 0) {
        if (q) q->clear();
        r = a;
        return;
    }
    if (b.size() == 1) {
        TLimbs quotient(a.size(), 0);
        const u64 rem = bigmath::DivRem1(q ? quotient.data() : nullptr, a.data(), a.size(), b[0]);
        r.assign(1, rem);
        Trim(r);
        if (q) {
            Trim(quotient);
            *q = std::move(quotient);
        }
        return;
    }
    TLimbs quotient(q ? a.size() - b.size() + 1 : 0, 0);
    TLimbs rem(b.size(), 0);
    bigmath::DivRem(q ? quotient.data() : nullptr, rem.data(), a.data(), a.size(), b.data(), b.size());
    Trim(rem);
    r = std::move(rem);
    if (q) {
        Trim(quotient);
        *q = std::move(quotient);
    }
}

TLimbs MagMod(const TLimbs& a, const TLimbs& m) {
    TLimbs r;
    MagDivMod(a, m, nullptr, r);
    return r;
}

TLimbs MagShiftLeft(const TLimbs& a, uint64_t bits) {
    if (a.empty()) return {};
    const std::size_t whole = static_cast<std::size_t>(bits / 64);
    const unsigned rest = static_cast<unsigned>(bits % 64);
    TLimbs r(a.size() + whole + 1, 0);
    r[a.size() + whole] = bigmath::ShiftLeftBits(r.data() + whole, a.data(), a.size(), rest);
    Trim(r);
    return r;
}

TLimbs MagShiftRight(const TLimbs& a, uint64_t bits) {
    const uint64_t whole = bits / 64;
    if (whole >= a.size()) return {};
    const unsigned rest = static_cast<unsigned>(bits % 64);
    TLimbs r(a.size() - static_cast<std::size_t>(whole), 0);
    bigmath::ShiftRightBits(r.data(), a.data() + whole, r.size(), rest);
    Trim(r);
    return r;
}

TLimbs LimbsFromU64(u64 v) { return v ? TLimbs{v} : TLimbs{}; }

std::size_t LowestSetBitOf(const TLimbs& a) {
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i]) return i * 64 + static_cast<std::size_t>(__builtin_ctzll(a[i]));
    }
    return 0;
}

void ShiftRightInPlace(TLimbs& a, std::size_t bits) {
    if (bits == 0 || a.empty()) return;
    const std::size_t whole = bits / 64;
    if (whole >= a.size()) {
        a.clear();
        return;
    }
    if (whole) a.erase(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(whole));
    bigmath::ShiftRightBits(a.data(), a.data(), a.size(), static_cast<unsigned>(bits % 64));
    Trim(a);
}

std::runtime_error Error(const std::string& text) { return std::runtime_error(text); }

// Base^k with k = ChunkDigits(base): the largest k with base^k < 2^63.
struct TChunk {
    int Digits = 0;
    u64 Power = 0;
};

constexpr TChunk ChunkFor(int base) {
    TChunk chunk;
    if (base < 2 || base > 36) return chunk;
    u64 power = 1;
    const u64 limit = u64{1} << 63;
    while (power <= (limit - 1) / static_cast<u64>(base)) {
        power *= static_cast<u64>(base);
        ++chunk.Digits;
    }
    chunk.Power = power;
    return chunk;
}

static_assert(ChunkFor(2).Digits == 62 && ChunkFor(3).Digits == 39);
static_assert(ChunkFor(10).Digits == 18 && ChunkFor(10).Power == 1000000000000000000ULL);
static_assert(ChunkFor(36).Digits == 12);

void CheckBase(int base) {
    if (base < 2 || base > 36) throw std::invalid_argument("Invalid base: " + std::to_string(base));
}

int CharValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    return -1;
}

constexpr std::array<int32_t, kSmallPrimeCount> MakeSmallPrimes() {
    std::array<int32_t, kSmallPrimeCount> primes{};
    std::array<bool, 10000> composite{};
    std::size_t count = 0;
    for (int32_t i = 2; i < 10000; ++i) {
        if (composite[static_cast<std::size_t>(i)]) continue;
        primes[count++] = i;
        for (int32_t j = i * i; j < 10000; j += i) composite[static_cast<std::size_t>(j)] = true;
    }
    return primes;
}

// Consecutive small primes grouped so that each group's product fits 64 bits:
// one remainder per limb and group instead of one per limb and prime.
struct TPrimeGroup {
    u64 Product;
    std::size_t First;
    std::size_t Count;
};

std::vector<TPrimeGroup> MakePrimeGroups() {
    std::vector<TPrimeGroup> groups;
    std::size_t i = 0;
    while (i < kSmallPrimeCount) {
        TPrimeGroup group{1, i, 0};
        while (i < kSmallPrimeCount) {
            const u64 p = static_cast<u64>(SmallPrimes[i]);
            if (group.Product > std::numeric_limits<u64>::max() / p) break;
            group.Product *= p;
            ++group.Count;
            ++i;
        }
        groups.push_back(group);
    }
    return groups;
}

const std::vector<TPrimeGroup>& PrimeGroups() {
    static const std::vector<TPrimeGroup> groups = MakePrimeGroups();
    return groups;
}

// Signed value for the extended binary Euclid, updated in place so the loop
// does not allocate.
struct TSigned {
    TLimbs Mag;
    bool Negative = false;

    bool IsOdd() const { return !Mag.empty() && (Mag[0] & 1); }

    void AddSigned(const TLimbs& other, bool otherNegative, TLimbs& scratch) {
        if (other.empty()) return;
        if (Mag.empty()) {
            Mag = other;
            Negative = otherNegative;
            return;
        }
        if (Negative == otherNegative) {
            const std::size_t n = std::max(Mag.size(), other.size());
            Mag.resize(n + 1, 0);
            Mag[n] = bigmath::Add(Mag.data(), Mag.data(), n, other.data(), other.size());
            Trim(Mag);
            return;
        }
        const int c = MagCmp(Mag, other);
        if (c == 0) {
            Mag.clear();
            Negative = false;
        } else if (c > 0) {
            bigmath::Sub(Mag.data(), Mag.data(), Mag.size(), other.data(), other.size());
            Trim(Mag);
        } else {
            scratch.assign(other.size(), 0);
            bigmath::Sub(scratch.data(), other.data(), other.size(), Mag.data(), Mag.size());
            Mag.swap(scratch);
            Trim(Mag);
            Negative = otherNegative;
        }
    }

    void HalveExact() {
        bigmath::ShiftRightBits(Mag.data(), Mag.data(), Mag.size(), 1);
        Trim(Mag);
        if (Mag.empty()) Negative = false;
    }
};

}  // namespace

const std::array<int32_t, kSmallPrimeCount> SmallPrimes = MakeSmallPrimes();

int ChunkDigits(int base) { return ChunkFor(base).Digits; }

const TBigint& ChunkPowers(int base) {
    CheckBase(base);
    static const std::array<std::unique_ptr<TBigint>, 37> powers = [] {
        std::array<std::unique_ptr<TBigint>, 37> table;
        for (int b = 2; b <= 36; ++b)
            table[static_cast<std::size_t>(b)] = TBigint::CreateFromInt64(static_cast<int64_t>(ChunkFor(b).Power));
        return table;
    }();
    return *powers[static_cast<std::size_t>(base)];
}

#define BIG_CONSTANT(name, value)                                                         \
    const TBigint& name() {                                                               \
        static const std::unique_ptr<TBigint> constant = TBigint::CreateFromInt64(value); \
        return *constant;                                                                 \
    }
BIG_CONSTANT(BigZero, 0)
BIG_CONSTANT(BigOne, 1)
BIG_CONSTANT(BigMinusOne, -1)
BIG_CONSTANT(BigTwo, 2)
BIG_CONSTANT(BigThree, 3)
BIG_CONSTANT(BigFour, 4)
BIG_CONSTANT(BigEight, 8)
#undef BIG_CONSTANT

TIsaac& BigRandom() {
    static TIsaac* generator = [] {
        static TIsaac instance;
        SeedFromSystemEntropy(instance);
        return &instance;
    }();
    return *generator;
}

// ---------------------------------------------------------------- lifetime

TBigint::TBigint(const TBigint& other) : Negative(other.Negative), Size(other.Size), Limbs(other.Limbs) {}

TBigint::TBigint(TBigint&& other) noexcept : Negative(other.Negative), Size(other.Size), Limbs(std::move(other.Limbs)) {
    other.Negative = false;
    other.Size = 1;
    other.Limbs.clear();
}

TBigint& TBigint::operator=(const TBigint& other) {
    if (this != &other) Assign(other);
    return *this;
}

TBigint& TBigint::operator=(TBigint&& other) noexcept {
    if (this != &other) {
        Wipe();
        Negative = other.Negative;
        Size = other.Size;
        Limbs = std::move(other.Limbs);
        other.Negative = false;
        other.Size = 1;
        other.Limbs.clear();
    }
    return *this;
}

TBigint::~TBigint() { Wipe(); }

void TBigint::Wipe() {
    // Multi-digit values are overwritten digit by digit, top first; the limb
    // memory is cleared again when it is released.
    if (Size > 1) {
        for (int32_t i = Size - 1; i >= 0; --i) {
            const u64 noise = GeneralRandom(65535);
            const std::size_t limb = static_cast<std::size_t>(i) / 4;
            if (limb < Limbs.size()) {
                const unsigned shift = 16 * (static_cast<unsigned>(i) % 4);
                Limbs[limb] = (Limbs[limb] & ~(u64{0xFFFF} << shift)) | (noise << shift);
            }
        }
    }
    SecureWipe(Limbs.data(), Limbs.size() * sizeof(u64));
}

void TBigint::SetFromLimbs(TLimbs&& limbs, bool negative) {
    Trim(limbs);
    Limbs = std::move(limbs);
    Negative = negative && !Limbs.empty();
    Size = DigitCountOf(Limbs);
}

void TBigint::Renormalise() { Size = DigitCountOf(Limbs); }

// ---------------------------------------------------------------- constructors

std::unique_ptr<TBigint> TBigint::Create(int32_t count) {
    auto result = std::make_unique<TBigint>();
    result->Size = std::max<int32_t>(count, 1);
    return result;
}

std::unique_ptr<TBigint> TBigint::CreateFromString(std::string_view text, int base) {
    CheckBase(base);
    if (text.empty() || text == "-") throw Error("Zero-length string");
    std::size_t pos = 0;
    const bool negative = text[0] == '-';
    if (negative) pos = 1;
    while (pos < text.size() && text[pos] == '0') ++pos;
    auto result = std::make_unique<TBigint>();
    const std::size_t length = text.size() - pos;
    if (length == 0) return result;
    const std::size_t k = static_cast<std::size_t>(ChunkDigits(base));
    const u64 power = ChunkFor(base).Power;
    std::size_t chunk = length % k == 0 ? k : length % k;
    TLimbs value;
    value.reserve(length / 15 + 2);
    while (pos < text.size()) {
        u64 v = 0;
        for (std::size_t i = 0; i < chunk; ++i) {
            const char c = text[pos + i];
            const int digit = CharValue(c);
            // A digit outside the base is refused too: it could only give a meaningless value.
            if (digit < 0 || digit >= base) throw Error(std::string("Invalid Char: ") + c);
            v = v * static_cast<u64>(base) + static_cast<u64>(digit);
        }
        pos += chunk;
        chunk = k;
        // value := value * power + v
        u64 carry = bigmath::Mul1(value.data(), value.data(), value.size(), power);
        if (carry) value.push_back(carry);
        if (value.empty()) value.push_back(0);
        u64 add = v;
        for (std::size_t i = 0; i < value.size() && add; ++i) {
            value[i] += add;
            add = value[i] < add ? 1 : 0;
        }
        if (add) value.push_back(add);
    }
    result->SetFromLimbs(std::move(value), negative);
    return result;
}

std::unique_ptr<TBigint> TBigint::CreateFromDecimal(std::string_view text) { return CreateFromString(text, 10); }

std::unique_ptr<TBigint> TBigint::CreateCopy(const TBigint& source) { return std::make_unique<TBigint>(source); }

std::unique_ptr<TBigint> TBigint::CreateFromInt64(int64_t value) {
    auto result = std::make_unique<TBigint>();
    const u64 magnitude = value < 0 ? ~static_cast<u64>(value) + 1 : static_cast<u64>(value);
    result->SetFromLimbs(LimbsFromU64(magnitude), value < 0);
    return result;
}

std::unique_ptr<TBigint> TBigint::CreateFromDigits(const TDynamicDigitArray& digits) {
    TLimbs limbs((digits.size() + 3) / 4, 0);
    for (std::size_t i = 0; i < digits.size(); ++i) limbs[i / 4] |= static_cast<u64>(digits[i]) << (16 * (i % 4));
    auto result = std::make_unique<TBigint>();
    result->SetFromLimbs(std::move(limbs), false);
    return result;
}

std::unique_ptr<TBigint> TBigint::CreateRandomBits(int32_t bits) {
    if (bits < 1) throw Error("Invalid number of bits: " + std::to_string(bits));
    const std::size_t size = static_cast<std::size_t>(bits / 16 + (bits % 16 ? 1 : 0));
    TLimbs limbs((size + 3) / 4, 0);
    TIsaac& random = BigRandom();
    for (std::size_t i = size; i-- > 0;) {
        u64 digit = static_cast<u64>(random.Range(65536));
        if (i == size - 1 && bits % 16) digit &= (u64{1} << (bits % 16)) - 1;
        limbs[i / 4] |= digit << (16 * (i % 4));
    }
    auto result = std::make_unique<TBigint>();
    result->SetFromLimbs(std::move(limbs), false);
    return result;
}

std::unique_ptr<TBigint> TBigint::CreateRandomBelow(const TBigint& max) {
    if (max.Negative || max.IsZero()) throw Error("Invalid Max: " + max.ToString());
    // No zero limb is kept on top and the count stops at the top limb's highest
    // non-zero digit, so the bound of the first draw is never 0.
    const std::size_t size = static_cast<std::size_t>(DigitCountOf(max.Limbs));
    TLimbs limbs((size + 3) / 4, 0);
    TIsaac& random = BigRandom();
    for (std::size_t i = size; i-- > 0;) {
        const int32_t range = i == size - 1 ? max.GetDigit(static_cast<int32_t>(i)) : 65536;
        limbs[i / 4] |= static_cast<u64>(random.Range(range)) << (16 * (i % 4));
    }
    auto result = std::make_unique<TBigint>();
    result->SetFromLimbs(std::move(limbs), false);
    return result;
}

std::unique_ptr<TBigint> TBigint::CreateProbablePrime(int32_t bits) {
    // With one bit every candidate would be 1 and the search would never end.
    if (bits < 2) throw Error("Invalid number of bits: " + std::to_string(bits));
    for (;;) {
        auto candidate = CreateRandomBits(bits);
        if (candidate->Limbs.empty()) candidate->Limbs.push_back(0);
        candidate->Limbs[0] |= 1;
        candidate->Renormalise();
        if (candidate->IsProbablePrime(40)) return candidate;
    }
}

// ---------------------------------------------------------------- queries

std::string TBigint::ToString(int base) const {
    CheckBase(base);
    if (Limbs.empty()) return "0";
    const TChunk chunk = ChunkFor(base);
    // Room for the most digits any base gives, so that growing leaves no
    // unwiped copy of a secret's digits behind.
    std::string reversed;
    reversed.reserve(static_cast<std::size_t>(BitLength()) + 2);
    TLimbs rest = Limbs;
    while (!rest.empty()) {
        u64 part = bigmath::DivRem1(rest.data(), rest.data(), rest.size(), chunk.Power);
        Trim(rest);
        for (int i = 0; i < chunk.Digits && (part || !rest.empty()); ++i) {
            reversed.push_back(DigitChars[static_cast<std::size_t>(part % static_cast<u64>(base))]);
            part /= static_cast<u64>(base);
        }
    }
    if (Negative) reversed.push_back('-');
    std::string text(reversed.rbegin(), reversed.rend());
    SecureWipe(reversed);
    return text;
}

int TBigint::Compare(const TBigint& other) const {
    if (Negative != other.Negative) return Negative ? -1 : 1;
    const int magnitude = MagCmp(Limbs, other.Limbs);
    return Negative ? -magnitude : magnitude;
}

int32_t TBigint::BitLength() const {
    if (Limbs.empty()) return 0;
    return static_cast<int32_t>(64 * (Limbs.size() - 1) +
                                (64 - static_cast<std::size_t>(__builtin_clzll(Limbs.back()))));
}

int32_t TBigint::LowestSetBit() const { return static_cast<int32_t>(LowestSetBitOf(Limbs)); }

uint16_t TBigint::GetDigit(int32_t i) const {
    if (i < 0 || i >= Size) throw std::out_of_range("Digit index out of range: " + std::to_string(i));
    const std::size_t limb = static_cast<std::size_t>(i) / 4;
    if (limb >= Limbs.size()) return 0;
    return static_cast<uint16_t>(Limbs[limb] >> (16 * (static_cast<unsigned>(i) % 4)));
}

// ---------------------------------------------------------------- arithmetic

void TBigint::Add(const TBigint& other) {
    if (Negative == other.Negative) {
        SetFromLimbs(MagAdd(Limbs, other.Limbs), Negative);
        return;
    }
    const int c = MagCmp(Limbs, other.Limbs);
    if (c == 0) {
        SetFromLimbs({}, false);
    } else if (c > 0) {
        SetFromLimbs(MagSub(Limbs, other.Limbs), Negative);
    } else {
        SetFromLimbs(MagSub(other.Limbs, Limbs), other.Negative);
    }
}

void TBigint::Subtract(const TBigint& other) {
    if (&other == this) {
        SetFromLimbs({}, false);
        return;
    }
    TBigint negated;
    negated.Limbs = other.Limbs;
    negated.Negative = !other.Negative && !other.Limbs.empty();
    negated.Size = other.Size;
    Add(negated);
}

void TBigint::Multiply(const TBigint& other) { SetFromLimbs(MagMul(Limbs, other.Limbs), Negative != other.Negative); }

void TBigint::AddDigit(uint16_t d) {
    TBigint digit;
    digit.SetFromLimbs(LimbsFromU64(d), false);
    Add(digit);
}

void TBigint::SubtractDigit(uint16_t d) {
    TBigint digit;
    digit.SetFromLimbs(LimbsFromU64(d), true);
    Add(digit);
}

void TBigint::MultiplyDigit(uint16_t d, bool negate) {
    TLimbs r(Limbs.size() + 1, 0);
    r[Limbs.size()] = bigmath::Mul1(r.data(), Limbs.data(), Limbs.size(), d);
    SetFromLimbs(std::move(r), Negative != negate);
}

void TBigint::ShiftLeft(int32_t bits) {
    if (bits < 0) {
        SetFromLimbs(MagShiftRight(Limbs, static_cast<uint64_t>(-static_cast<int64_t>(bits))), Negative);
    } else {
        SetFromLimbs(MagShiftLeft(Limbs, static_cast<uint64_t>(bits)), Negative);
    }
}

void TBigint::ShiftRight(int32_t bits) {
    if (bits < 0) {
        SetFromLimbs(MagShiftLeft(Limbs, static_cast<uint64_t>(-static_cast<int64_t>(bits))), Negative);
    } else {
        SetFromLimbs(MagShiftRight(Limbs, static_cast<uint64_t>(bits)), Negative);
    }
}

void TBigint::ShiftLeftDigits(int32_t n) {
    const int64_t bits = 16 * static_cast<int64_t>(n);
    if (bits < 0) {
        SetFromLimbs(MagShiftRight(Limbs, static_cast<uint64_t>(-bits)), Negative);
    } else {
        SetFromLimbs(MagShiftLeft(Limbs, static_cast<uint64_t>(bits)), Negative);
    }
}

void TBigint::ShiftRightDigits(int32_t n) {
    const int64_t bits = 16 * static_cast<int64_t>(n);
    if (bits < 0) {
        SetFromLimbs(MagShiftLeft(Limbs, static_cast<uint64_t>(-bits)), Negative);
    } else {
        SetFromLimbs(MagShiftRight(Limbs, static_cast<uint64_t>(bits)), Negative);
    }
}

TDivModResult TBigint::DivMod(const TBigint& divisor) const {
    if (divisor.IsZero()) throw EDivByZero();
    TLimbs q;
    TLimbs r;
    MagDivMod(Limbs, divisor.Limbs, &q, r);
    if (Negative && !r.empty()) {
        // Euclidean: the remainder is |divisor| - r, the quotient one further from zero.
        r = MagSub(divisor.Limbs, r);
        q = MagAdd(q, TLimbs{1});
    }
    TDivModResult result{std::make_unique<TBigint>(), std::make_unique<TBigint>()};
    result.Quotient->SetFromLimbs(std::move(q), Negative != divisor.Negative);
    result.Remainder->SetFromLimbs(std::move(r), false);
    return result;
}

TDivModResult TBigint::DivModDigit(uint16_t d, bool divisorNegative) const {
    if (d == 0) throw EDivByZero();
    TBigint divisor;
    divisor.SetFromLimbs(LimbsFromU64(d), divisorNegative);
    return DivMod(divisor);
}

void TBigint::Modulo(const TBigint& divisor) {
    if (divisor.IsZero()) throw EDivByZero();
    TLimbs r = MagMod(Limbs, divisor.Limbs);
    if (Negative && !r.empty()) r = MagSub(divisor.Limbs, r);
    SetFromLimbs(std::move(r), false);
}

void TBigint::ModuloDigit(uint16_t d) {
    if (d == 0) throw EDivByZero();
    TBigint divisor;
    divisor.SetFromLimbs(LimbsFromU64(d), false);
    Modulo(divisor);
}

void TBigint::Assign(const TBigint& source) {
    if (&source == this) return;
    TLimbs copy = source.Limbs;
    Limbs = std::move(copy);
    Negative = source.Negative;
    Size = source.Size;
}

// ---------------------------------------------------------------- modular arithmetic

void TBigint::MulMod(const TBigint& factor, const TBigint& modulus) {
    if (modulus.IsZero()) throw EDivByZero();
    TLimbs product = MagMul(Limbs, factor.Limbs);
    TLimbs r = MagMod(product, modulus.Limbs);
    if (Negative != factor.Negative && !r.empty()) r = MagSub(modulus.Limbs, r);
    SetFromLimbs(std::move(r), false);
}

void TBigint::PowMod(const TBigint& exponent, const TBigint& modulus) {
    if (exponent.Negative) throw Error("Negative exponent");
    if (exponent.IsZero() && IsZero()) throw Error("Zero to the zeroth power is not defined");
    if (modulus.IsZero()) throw EDivByZero();
    if (exponent.IsZero()) {
        SetFromLimbs(TLimbs{1}, false);
        return;
    }
    const TLimbs& m = modulus.Limbs;
    if (m.size() == 1 && m[0] == 1) {
        SetFromLimbs({}, false);
        return;
    }
    // The value is the Euclidean residue of receiver^exponent, as repeated
    // MulMod would give it.
    TLimbs base = MagMod(Limbs, m);
    if (Negative && !base.empty()) base = MagSub(m, base);
    const std::size_t n = m.size();
    const TLimbs& e = exponent.Limbs;
    if (m[0] & 1) {
        base.resize(n, 0);
        TLimbs r(n, 0);
        bigmath::PowModOdd(r.data(), base.data(), e.data(), e.size(), m.data(), n);
        SetFromLimbs(std::move(r), false);
        return;
    }
    // Even modulus: left-to-right square and multiply with plain remainders.
    const std::size_t bits = static_cast<std::size_t>(exponent.BitLength());
    TLimbs x = base;
    for (std::size_t i = bits - 1; i-- > 0;) {
        x = MagMod(MagMul(x, x), m);
        if ((e[i / 64] >> (i % 64)) & 1) x = MagMod(MagMul(x, base), m);
    }
    SetFromLimbs(std::move(x), false);
}

std::unique_ptr<TBigint> TBigint::Gcd(const TBigint& other) const {
    if (Negative || other.Negative) throw Error("Can't take gcd of negative number");
    if (IsZero() && other.IsZero()) return CreateFromInt64(1);
    if (IsZero() || other.IsZero()) throw Error("Can't compute gcd: X or Y is zero");
    // Binary gcd, in place on limbs.
    TLimbs x = Limbs;
    TLimbs y = other.Limbs;
    const std::size_t k = std::min(LowestSetBitOf(x), LowestSetBitOf(y));
    ShiftRightInPlace(x, k);
    ShiftRightInPlace(y, k);
    while (!x.empty()) {
        ShiftRightInPlace(x, LowestSetBitOf(x));
        ShiftRightInPlace(y, LowestSetBitOf(y));
        if (MagCmp(x, y) < 0) {
            bigmath::Sub(y.data(), y.data(), y.size(), x.data(), x.size());
            Trim(y);
            ShiftRightInPlace(y, 1);
        } else {
            bigmath::Sub(x.data(), x.data(), x.size(), y.data(), y.size());
            Trim(x);
            ShiftRightInPlace(x, 1);
        }
    }
    auto result = std::make_unique<TBigint>();
    result->SetFromLimbs(MagShiftLeft(y, k), false);
    return result;
}

std::unique_ptr<TBigint> TBigint::ModInverse(const TBigint& modulus) const {
    if (modulus.IsZero()) throw EDivByZero("Zero modulus");
    const TLimbs& m = modulus.Limbs;  // a negative modulus counts by its magnitude
    const auto noInverse = [&] {
        return Error(ToString() + " does not have a multiplicative inverse modulo " + modulus.ToString());
    };
    TLimbs x0 = MagMod(Limbs, m);
    if (Negative && !x0.empty()) x0 = MagSub(m, x0);
    if (x0.empty()) throw noInverse();
    if (x0.size() == 1 && x0[0] == 1) return CreateFromInt64(1);
    TLimbs y0 = m;
    const std::size_t shift = std::min(LowestSetBitOf(x0), LowestSetBitOf(y0));
    // A common factor of two already rules out an inverse.
    if (shift > 0) throw noInverse();

    TSigned u{x0, false}, v{y0, false};
    TSigned a{TLimbs{1}, false}, b{{}, false}, c{{}, false}, d{TLimbs{1}, false};
    const std::size_t room = m.size() + 2;
    for (TSigned* s : {&u, &v, &a, &b, &c, &d}) s->Mag.reserve(room + 1);
    TLimbs scratch;
    scratch.reserve(room + 1);
    for (;;) {
        while (!u.IsOdd()) {
            u.HalveExact();
            if (a.IsOdd() || b.IsOdd()) {
                a.AddSigned(y0, false, scratch);
                b.AddSigned(x0, true, scratch);
            }
            a.HalveExact();
            b.HalveExact();
        }
        while (!v.IsOdd()) {
            v.HalveExact();
            if (c.IsOdd() || d.IsOdd()) {
                c.AddSigned(y0, false, scratch);
                d.AddSigned(x0, true, scratch);
            }
            c.HalveExact();
            d.HalveExact();
        }
        if (MagCmp(u.Mag, v.Mag) < 0) {
            v.AddSigned(u.Mag, true, scratch);
            c.AddSigned(a.Mag, !a.Negative, scratch);
            d.AddSigned(b.Mag, !b.Negative, scratch);
        } else {
            u.AddSigned(v.Mag, true, scratch);
            a.AddSigned(c.Mag, !c.Negative, scratch);
            b.AddSigned(d.Mag, !d.Negative, scratch);
        }
        if (u.Mag.empty()) break;
    }
    // v is now the gcd; anything but 1 means there is no inverse.
    if (!(v.Mag.size() == 1 && v.Mag[0] == 1)) throw noInverse();
    // The coefficient can end up anywhere in (-m, 2m); reduce it fully so the
    // result is the inverse in [0, m) and not merely congruent to it.
    TLimbs r = MagMod(c.Mag, m);
    if (c.Negative && !r.empty()) r = MagSub(m, r);
    auto result = std::make_unique<TBigint>();
    result->SetFromLimbs(std::move(r), false);
    return result;
}

bool TBigint::PassesMillerRabin(const TBigint& witness) const {
    TBigint nMinusOne(*this);
    nMinusOne.SubtractDigit(1);
    const int32_t s = nMinusOne.LowestSetBit();
    TBigint d(nMinusOne);
    d.ShiftRight(s);
    TBigint x(witness);
    x.PowMod(d, *this);
    if (x.IsOne() || x.Equals(nMinusOne)) return true;
    for (int32_t i = 1; i < s; ++i) {
        x.MulMod(x, *this);
        if (x.Equals(nMinusOne)) return true;
    }
    return false;
}

bool TBigint::IsProbablePrime(int32_t trials) const {
    if (Negative || Limbs.empty()) return false;
    if (Limbs.size() == 1 && Limbs[0] < 10000) {
        // Below 10000 the table decides: a composite has a listed factor below 100.
        return std::binary_search(SmallPrimes.begin(), SmallPrimes.end(), static_cast<int32_t>(Limbs[0]));
    }
    for (const TPrimeGroup& group : PrimeGroups()) {
        const u64 r = bigmath::DivRem1(nullptr, Limbs.data(), Limbs.size(), group.Product);
        for (std::size_t i = group.First; i < group.First + group.Count; ++i) {
            if (r % static_cast<u64>(SmallPrimes[i]) == 0) return false;
        }
    }
    if (trials <= 0) return true;
    for (int32_t t = 0; t < trials; ++t) {
        std::unique_ptr<TBigint> witness;
        do {
            witness = CreateRandomBelow(*this);
        } while (witness->IsZero() || witness->IsOne());
        if (!PassesMillerRabin(*witness)) return false;
    }
    return true;
}
