#include "bigmath/kernels.h"

#include <algorithm>
#include <array>
#include <utility>
#include <cstring>

#include "secure/securewipe.h"

// Full unrolling of the fixed-size kernels pays only in optimised builds;
// under the sanitizers it would just make compiling slow.
#if defined(__OPTIMIZE__) && !defined(__SANITIZE_ADDRESS__)
#define BIGMATH_UNROLL _Pragma("GCC unroll 32")
#else
#define BIGMATH_UNROLL
#endif

namespace bigmath {

namespace {

// Below these sizes (in limbs) schoolbook beats Karatsuba on x86-64, as timed
// for 16 to 256 limbs; key sizes up to 4096 bits stay below them.
constexpr std::size_t kKaratsubaMul = 96;
constexpr std::size_t kKaratsubaSqr = 128;

inline unsigned CountLeadingZeros(u64 x) { return static_cast<unsigned>(__builtin_clzll(x)); }

// (hi:lo) / d for hi < d.
inline u64 Div128(u64 hi, u64 lo, u64 d, u64* rem) {
#if defined(__x86_64__)
    u64 q, r;
    __asm__("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d) : "cc");
    *rem = r;
    return q;
#else
    const u128 num = (static_cast<u128>(hi) << 64) | lo;
    *rem = static_cast<u64>(num % d);
    return static_cast<u64>(num / d);
#endif
}

void MulBasecase(u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn) {
    r[an] = Mul1(r, a, an, b[0]);
    for (std::size_t i = 1; i < bn; ++i) r[an + i] = AddMul1(r + i, a, an, b[i]);
}

void SqrBasecase(u64* r, const u64* a, std::size_t n) {
    if (n == 1) {
        const u128 sq = static_cast<u128>(a[0]) * a[0];
        r[0] = static_cast<u64>(sq);
        r[1] = static_cast<u64>(sq >> 64);
        return;
    }
    // Cross products once, doubled, then the squares on the diagonal.
    r[0] = 0;
    r[n] = Mul1(r + 1, a + 1, n - 1, a[0]);
    for (std::size_t i = 1; i + 1 < n; ++i) r[i + n] = AddMul1(r + 2 * i + 1, a + i + 1, n - i - 1, a[i]);
    r[2 * n - 1] = 0;
    ShiftLeftBits(r, r, 2 * n, 1);
    u64 carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u128 sq = static_cast<u128>(a[i]) * a[i];
        u128 s = static_cast<u128>(r[2 * i]) + static_cast<u64>(sq) + carry;
        r[2 * i] = static_cast<u64>(s);
        s = static_cast<u128>(r[2 * i + 1]) + static_cast<u64>(sq >> 64) + static_cast<u64>(s >> 64);
        r[2 * i + 1] = static_cast<u64>(s);
        carry = static_cast<u64>(s >> 64);
    }
}

// |x - y| for x, y of n limbs into r; true when x < y.
bool AbsDiff(u64* r, const u64* x, const u64* y, std::size_t n) {
    std::size_t i = n;
    while (i > 0 && x[i - 1] == y[i - 1]) --i;
    if (i == 0) {
        std::fill(r, r + n, 0);
        return false;
    }
    if (x[i - 1] > y[i - 1]) {
        SubN(r, x, y, n);
        return false;
    }
    SubN(r, y, x, n);
    return true;
}

void MulBalanced(u64* r, const u64* a, const u64* b, std::size_t n);
void SqrRec(u64* r, const u64* a, std::size_t n);

// Karatsuba on two n-limb operands (subtractive form, no carries in the middle term).
void Karatsuba(u64* r, const u64* a, const u64* b, std::size_t n) {
    const std::size_t k = n / 2;  // low half
    const std::size_t h = n - k;  // high half, h == k or k + 1
    TLimbs scratch(4 * h + 2, 0);
    u64* da = scratch.data();
    u64* db = da + h;
    u64* mid = db + h;  // 2h limbs, then one spare

    // Zero-extend the low halves to h limbs for the differences.
    TLimbs lowA(h, 0), lowB(h, 0);
    std::copy(a, a + k, lowA.begin());
    std::copy(b, b + k, lowB.begin());
    const bool negA = AbsDiff(da, a + k, lowA.data(), h);  // a1 - a0
    const bool negB = AbsDiff(db, lowB.data(), b + k, h);  // b0 - b1

    MulBalanced(r, a, b, k);                  // z0 in r[0..2k)
    MulBalanced(r + 2 * k, a + k, b + k, h);  // z2 in r[2k..2n)
    MulBalanced(mid, da, db, h);

    // middle = z0 + z2 +- d, added at offset k.
    TLimbs t(2 * h + 1, 0);
    std::copy(r, r + 2 * k, t.begin());
    t[2 * h] = Add(t.data(), t.data(), 2 * h, r + 2 * k, 2 * h);
    if (negA == negB) {
        t[2 * h] += AddN(t.data(), t.data(), mid, 2 * h);
    } else {
        t[2 * h] -= SubN(t.data(), t.data(), mid, 2 * h);
    }
    const u64 carry = Add(r + k, r + k, 2 * n - k, t.data(), 2 * h + 1);
    (void)carry;  // the full product fits 2n limbs
}

void MulBalanced(u64* r, const u64* a, const u64* b, std::size_t n) {
    if (n < kKaratsubaMul) {
        MulBasecase(r, a, n, b, n);
    } else {
        Karatsuba(r, a, b, n);
    }
}

void KaratsubaSqr(u64* r, const u64* a, std::size_t n) {
    const std::size_t k = n / 2;
    const std::size_t h = n - k;
    TLimbs lowA(h, 0);
    std::copy(a, a + k, lowA.begin());
    TLimbs d(h, 0), mid(2 * h, 0);
    AbsDiff(d.data(), a + k, lowA.data(), h);
    SqrRec(r, a, k);
    SqrRec(r + 2 * k, a + k, h);
    SqrRec(mid.data(), d.data(), h);
    // middle = z0 + z2 - d^2.
    TLimbs t(2 * h + 1, 0);
    std::copy(r, r + 2 * k, t.begin());
    t[2 * h] = Add(t.data(), t.data(), 2 * h, r + 2 * k, 2 * h);
    t[2 * h] -= SubN(t.data(), t.data(), mid.data(), 2 * h);
    Add(r + k, r + k, 2 * n - k, t.data(), 2 * h + 1);
}

void SqrRec(u64* r, const u64* a, std::size_t n) {
    if (n < kKaratsubaSqr) {
        SqrBasecase(r, a, n);
    } else {
        KaratsubaSqr(r, a, n);
    }
}

}  // namespace

std::size_t Trimmed(const u64* a, std::size_t n) {
    while (n > 0 && a[n - 1] == 0) --n;
    return n;
}

int Cmp(const u64* a, std::size_t an, const u64* b, std::size_t bn) {
    if (an != bn) return an < bn ? -1 : 1;
    for (std::size_t i = an; i-- > 0;) {
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

u64 AddN(u64* r, const u64* a, const u64* b, std::size_t n) {
    u64 carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u128 s = static_cast<u128>(a[i]) + b[i] + carry;
        r[i] = static_cast<u64>(s);
        carry = static_cast<u64>(s >> 64);
    }
    return carry;
}

u64 SubN(u64* r, const u64* a, const u64* b, std::size_t n) {
    u64 borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u128 d = static_cast<u128>(a[i]) - b[i] - borrow;
        r[i] = static_cast<u64>(d);
        borrow = static_cast<u64>(d >> 64) & 1;
    }
    return borrow;
}

u64 Add(u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn) {
    u64 carry = AddN(r, a, b, bn);
    for (std::size_t i = bn; i < an; ++i) {
        r[i] = a[i] + carry;
        carry = (carry && r[i] == 0) ? 1 : 0;
    }
    return carry;
}

u64 Sub(u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn) {
    u64 borrow = SubN(r, a, b, bn);
    for (std::size_t i = bn; i < an; ++i) {
        const u64 t = a[i];
        r[i] = t - borrow;
        borrow = (borrow && t == 0) ? 1 : 0;
    }
    return borrow;
}

u64 Mul1(u64* r, const u64* a, std::size_t n, u64 b) {
    u64 carry = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u128 t = static_cast<u128>(a[i]) * b + carry;
        r[i] = static_cast<u64>(t);
        carry = static_cast<u64>(t >> 64);
    }
    return carry;
}

u64 AddMul1(u64* r, const u64* a, std::size_t n, u64 b) {
    u64 carry = 0;
    std::size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        u128 t0 = static_cast<u128>(a[i]) * b + r[i] + carry;
        r[i] = static_cast<u64>(t0);
        u128 t1 = static_cast<u128>(a[i + 1]) * b + r[i + 1] + static_cast<u64>(t0 >> 64);
        r[i + 1] = static_cast<u64>(t1);
        u128 t2 = static_cast<u128>(a[i + 2]) * b + r[i + 2] + static_cast<u64>(t1 >> 64);
        r[i + 2] = static_cast<u64>(t2);
        u128 t3 = static_cast<u128>(a[i + 3]) * b + r[i + 3] + static_cast<u64>(t2 >> 64);
        r[i + 3] = static_cast<u64>(t3);
        carry = static_cast<u64>(t3 >> 64);
    }
    for (; i < n; ++i) {
        const u128 t = static_cast<u128>(a[i]) * b + r[i] + carry;
        r[i] = static_cast<u64>(t);
        carry = static_cast<u64>(t >> 64);
    }
    return carry;
}

u64 SubMul1(u64* r, const u64* a, std::size_t n, u64 b) {
    u64 borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u128 p = static_cast<u128>(a[i]) * b + borrow;
        const u64 lo = static_cast<u64>(p);
        const u64 t = r[i];
        r[i] = t - lo;
        borrow = static_cast<u64>(p >> 64) + (t < lo ? 1 : 0);
    }
    return borrow;
}

void Mul(u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn) {
    if (an < bn) {
        std::swap(a, b);
        std::swap(an, bn);
    }
    if (a == b && an == bn) {
        SqrRec(r, a, an);
        return;
    }
    if (bn < kKaratsubaMul) {
        MulBasecase(r, a, an, b, bn);
        return;
    }
    if (an == bn) {
        Karatsuba(r, a, b, an);
        return;
    }
    // Unbalanced: slices of a, each bn long, multiplied by b and summed.
    std::fill(r, r + an + bn, 0);
    TLimbs part(2 * bn, 0);
    for (std::size_t offset = 0; offset < an; offset += bn) {
        const std::size_t len = std::min(bn, an - offset);
        if (len == bn) {
            Karatsuba(part.data(), a + offset, b, bn);
        } else {
            Mul(part.data(), b, bn, a + offset, len);
        }
        const std::size_t width = len + bn;
        const u64 carry = Add(r + offset, r + offset, an + bn - offset, part.data(), width);
        (void)carry;
    }
}

void Sqr(u64* r, const u64* a, std::size_t n) { SqrRec(r, a, n); }

u64 ShiftLeftBits(u64* r, const u64* a, std::size_t n, unsigned bits) {
    if (n == 0) return 0;
    if (bits == 0) {
        if (r != a) std::memmove(r, a, n * sizeof(u64));
        return 0;
    }
    const u64 out = a[n - 1] >> (64 - bits);
    for (std::size_t i = n - 1; i > 0; --i) r[i] = (a[i] << bits) | (a[i - 1] >> (64 - bits));
    r[0] = a[0] << bits;
    return out;
}

void ShiftRightBits(u64* r, const u64* a, std::size_t n, unsigned bits) {
    if (n == 0) return;
    if (bits == 0) {
        if (r != a) std::memmove(r, a, n * sizeof(u64));
        return;
    }
    for (std::size_t i = 0; i + 1 < n; ++i) r[i] = (a[i] >> bits) | (a[i + 1] << (64 - bits));
    r[n - 1] = a[n - 1] >> bits;
}

u64 DivRem1(u64* q, const u64* a, std::size_t n, u64 d) {
    u64 rem = 0;
    for (std::size_t i = n; i-- > 0;) {
        const u64 digit = Div128(rem, a[i], d, &rem);
        if (q) q[i] = digit;
    }
    return rem;
}

void DivRem(u64* q, u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn) {
    const unsigned s = CountLeadingZeros(b[bn - 1]);
    TLimbs work(an + 1 + bn, 0);
    u64* un = work.data();
    u64* vn = un + an + 1;
    ShiftLeftBits(vn, b, bn, s);
    un[an] = ShiftLeftBits(un, a, an, s);
    const u64 v1 = vn[bn - 1];
    const u64 v2 = vn[bn - 2];
    for (std::size_t j = an - bn + 1; j-- > 0;) {
        const u64 u0 = un[j + bn];
        const u64 u1 = un[j + bn - 1];
        const u64 u2 = un[j + bn - 2];
        u64 qhat;
        u64 rhat;
        bool rhatOverflow = false;
        if (u0 >= v1) {
            qhat = ~u64{0};
            rhat = u1 + v1;
            rhatOverflow = rhat < u1;
        } else {
            qhat = Div128(u0, u1, v1, &rhat);
        }
        while (!rhatOverflow && static_cast<u128>(qhat) * v2 > ((static_cast<u128>(rhat) << 64) | u2)) {
            --qhat;
            const u64 before = rhat;
            rhat += v1;
            rhatOverflow = rhat < before;
        }
        const u64 borrow = SubMul1(un + j, vn, bn, qhat);
        const u64 top = un[j + bn];
        un[j + bn] = top - borrow;
        if (top < borrow) {
            --qhat;
            un[j + bn] += AddN(un + j, un + j, vn, bn);
        }
        if (q) q[j] = qhat;
    }
    ShiftRightBits(r, un, bn, s);
    if (s) r[bn - 1] |= un[bn] << (64 - s);
}

namespace {

// The Montgomery result is below 2m: subtract m once unless that would go
// below zero. Both values are computed so the choice does not branch.
template <std::size_t N>
inline void SubtractModulusOnce(u64* r, const u64* out, u64 high, const u64* m) {
    u64 diff[N];
    u64 borrow = 0;
    BIGMATH_UNROLL
    for (std::size_t j = 0; j < N; ++j) {
        const u128 d = static_cast<u128>(out[j]) - m[j] - borrow;
        diff[j] = static_cast<u64>(d);
        borrow = static_cast<u64>(d >> 64) & 1;
    }
    const bool keep = borrow && !high;
    BIGMATH_UNROLL
    for (std::size_t j = 0; j < N; ++j) r[j] = keep ? out[j] : diff[j];
}

// Montgomery multiplication for a limb count fixed at compile time, so the
// loops unroll completely. Product scanning with the reduction folded in,
// column by column, into a three-limb accumulator: no intermediate product in memory, and the carries
// stay in registers.
struct TAccumulator {
    u128 Low = 0;
    u64 High = 0;
    inline void Add(u64 a, u64 b) {
        const u128 p = static_cast<u128>(a) * b;
        High += __builtin_add_overflow(Low, p, &Low) ? 1 : 0;
    }
    // this += 2 * other.
    inline void AddDoubled(const TAccumulator& other) {
        const u128 doubled = other.Low << 1;
        High += (other.High << 1) + static_cast<u64>(other.Low >> 127);
        High += __builtin_add_overflow(Low, doubled, &Low) ? 1 : 0;
    }
    inline u64 Take() {
        const u64 out = static_cast<u64>(Low);
        Low = (Low >> 64) | (static_cast<u128>(High) << 64);
        High = 0;
        return out;
    }
};

template <std::size_t N>
void MontMulScan(u64* r, const u64* a, const u64* b, const u64* m, u64 inv, std::size_t, u64*) {
    u64 q[N];
    u64 out[N];
    TAccumulator acc;
    BIGMATH_UNROLL
    for (std::size_t i = 0; i < N; ++i) {
        BIGMATH_UNROLL
        for (std::size_t j = 0; j < i; ++j) {
            acc.Add(a[j], b[i - j]);
            acc.Add(q[j], m[i - j]);
        }
        acc.Add(a[i], b[0]);
        q[i] = static_cast<u64>(acc.Low) * inv;
        acc.Add(q[i], m[0]);
        acc.Take();
    }
    BIGMATH_UNROLL
    for (std::size_t i = N; i < 2 * N - 1; ++i) {
        BIGMATH_UNROLL
        for (std::size_t j = i - N + 1; j < N; ++j) {
            acc.Add(a[j], b[i - j]);
            acc.Add(q[j], m[i - j]);
        }
        out[i - N] = acc.Take();
    }
    out[N - 1] = acc.Take();
    SubtractModulusOnce<N>(r, out, static_cast<u64>(acc.Low), m);
}

// Any size: product with the general multiplication (Karatsuba when large),
// then reduction row by row.
void ReduceGeneric(u64* r, u64* t, const u64* m, u64 inv, std::size_t n) {
    u64 high = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const u64 c = AddMul1(t + i, m, n, t[i] * inv);
        const u128 s = static_cast<u128>(t[i + n]) + c + high;
        t[i + n] = static_cast<u64>(s);
        high = static_cast<u64>(s >> 64);
    }
    if (high || Cmp(t + n, n, m, n) >= 0) {
        SubN(r, t + n, m, n);
    } else {
        std::copy(t + n, t + 2 * n, r);
    }
}

void MontMulGeneric(u64* r, const u64* a, const u64* b, const u64* m, u64 inv, std::size_t n, u64* scratch) {
    Mul(scratch, a, n, b, n);
    ReduceGeneric(r, scratch, m, inv, n);
}

void MontSqrGeneric(u64* r, const u64* a, const u64*, const u64* m, u64 inv, std::size_t n, u64* scratch) {
    Sqr(scratch, a, n);
    ReduceGeneric(r, scratch, m, inv, n);
}

using TMontFn = void (*)(u64*, const u64*, const u64*, const u64*, u64, std::size_t, u64*);

// Squaring in the same scan: each cross product a_j * a_k (j < k) is taken
// once and the column's sum doubled, which saves a quarter of the products.
template <std::size_t N>
void MontSqrScan(u64* r, const u64* a, const u64*, const u64* m, u64 inv, std::size_t, u64*) {
    u64 q[N];
    u64 out[N];
    TAccumulator acc;
    BIGMATH_UNROLL
    for (std::size_t i = 0; i < N; ++i) {
        TAccumulator cross;
        BIGMATH_UNROLL
        for (std::size_t j = 0; j < i - j; ++j) cross.Add(a[j], a[i - j]);
        acc.AddDoubled(cross);
        if (i % 2 == 0) acc.Add(a[i / 2], a[i / 2]);
        BIGMATH_UNROLL
        for (std::size_t j = 0; j < i; ++j) acc.Add(q[j], m[i - j]);
        q[i] = static_cast<u64>(acc.Low) * inv;
        acc.Add(q[i], m[0]);
        acc.Take();
    }
    BIGMATH_UNROLL
    for (std::size_t i = N; i < 2 * N - 1; ++i) {
        TAccumulator cross;
        BIGMATH_UNROLL
        for (std::size_t j = i - N + 1; j < i - j; ++j) cross.Add(a[j], a[i - j]);
        acc.AddDoubled(cross);
        if (i % 2 == 0) acc.Add(a[i / 2], a[i / 2]);
        BIGMATH_UNROLL
        for (std::size_t j = i - N + 1; j < N; ++j) acc.Add(q[j], m[i - j]);
        out[i - N] = acc.Take();
    }
    out[N - 1] = acc.Take();
    SubtractModulusOnce<N>(r, out, static_cast<u64>(acc.Low), m);
}

template <std::size_t... Sizes>
constexpr std::array<TMontFn, sizeof...(Sizes) + 1> ScanTable(std::index_sequence<Sizes...>) {
    return {nullptr, &MontMulScan<Sizes + 1>...};
}
template <std::size_t... Sizes>
constexpr std::array<TMontFn, sizeof...(Sizes) + 1> SquareTable(std::index_sequence<Sizes...>) {
    return {nullptr, &MontSqrScan<Sizes + 1>...};
}

constexpr std::size_t kFixedLimbs = 16;
constexpr auto kScanFixed = ScanTable(std::make_index_sequence<kFixedLimbs>{});
constexpr auto kSquareFixed = SquareTable(std::make_index_sequence<kFixedLimbs>{});

struct TMontgomery {
    const u64* M;
    std::size_t N;
    u64 Inv;  // -M^-1 mod 2^64
    TLimbs Scratch;
    TMontFn MulFn;
    TMontFn SqrFn;

    TMontgomery(const u64* m, std::size_t n) : M(m), N(n), Scratch(2 * n + 1, 0) {
        u64 inv = m[0];  // right to 3 bits for odd m; each step doubles that
        for (int i = 0; i < 5; ++i) inv *= 2 - m[0] * inv;
        Inv = ~inv + 1;
        if (n <= kFixedLimbs) {
            MulFn = kScanFixed[n];
            SqrFn = kSquareFixed[n];
        } else if (n == 24) {
            MulFn = &MontMulScan<24>;
            SqrFn = &MontSqrScan<24>;
        } else if (n == 32) {  // 2048-bit moduli: the primes of a 4096-bit key
            MulFn = &MontMulScan<32>;
            SqrFn = &MontSqrScan<32>;
        } else {
            MulFn = &MontMulGeneric;
            SqrFn = &MontSqrGeneric;
        }
    }

    void MulMont(u64* r, const u64* a, const u64* b) { MulFn(r, a, b, M, Inv, N, Scratch.data()); }
    void SqrMont(u64* r, const u64* a) { SqrFn(r, a, a, M, Inv, N, Scratch.data()); }

    // Out of the Montgomery domain: multiply by 1.
    void Leave(u64* r, const u64* a) {
        TLimbs one(N, 0);
        one[0] = 1;
        MulMont(r, a, one.data());
    }
};

inline bool Bit(const u64* e, std::size_t i) { return (e[i / 64] >> (i % 64)) & 1; }

std::size_t WindowBits(std::size_t bits) {
    if (bits <= 7) return 1;
    if (bits <= 25) return 2;
    if (bits <= 81) return 3;
    if (bits <= 241) return 4;
    if (bits <= 673) return 5;
    if (bits <= 1793) return 6;
    return 7;
}

// x = x * small mod M for x < M: one Knuth quotient step on the (N+1)-limb product.
void MulSmallMod(u64* x, u64 small, const u64* m, std::size_t n, u64* scratch) {
    scratch[n] = Mul1(scratch, x, n, small);
    const unsigned s = CountLeadingZeros(m[n - 1]);
    u64 v1 = m[n - 1];
    u64 u1 = scratch[n];
    u64 u0 = scratch[n - 1];
    if (s) {
        v1 = (v1 << s) | (n >= 2 ? m[n - 2] >> (64 - s) : 0);
        u1 = (u1 << s) | (u0 >> (64 - s));
        u0 = (u0 << s) | (n >= 2 ? scratch[n - 2] >> (64 - s) : 0);
    }
    u64 qhat;
    if (u1 >= v1) {
        qhat = ~u64{0};
    } else {
        u64 rem;
        qhat = Div128(u1, u0, v1, &rem);
    }
    // qhat overshoots the true quotient by at most 2.
    const u64 borrow = SubMul1(scratch, m, n, qhat);
    u64 top = scratch[n] - borrow;
    bool negative = scratch[n] < borrow;
    while (negative) {
        top += AddN(scratch, scratch, m, n);
        negative = top != 0;
    }
    std::copy(scratch, scratch + n, x);
}

// Kept out of line so that its frame, and those of the multiplications it
// calls, lie below the caller's when the caller wipes the stack.
[[gnu::noinline]] void PowModOddOnStack(u64* r, const u64* base, const u64* exp, std::size_t en, const u64* m,
                                        std::size_t n) {
    TMontgomery mont(m, n);
    // R^2 mod m, to bring values into the Montgomery domain.
    TLimbs rr(n, 0);
    {
        TLimbs big(2 * n + 1, 0);
        big[2 * n] = 1;
        if (n == 1) {
            rr[0] = DivRem1(nullptr, big.data(), big.size(), m[0]);
        } else {
            DivRem(nullptr, rr.data(), big.data(), 2 * n + 1, m, n);
        }
    }
    const std::size_t bits = (en - 1) * 64 + (64 - CountLeadingZeros(exp[en - 1]));
    TLimbs x(n, 0);
    TLimbs bm(n, 0);
    mont.MulMont(bm.data(), base, rr.data());

    if (Trimmed(base, n) <= 1) {
        // One-limb base: square, and multiply by the plain base, which costs
        // one limb row instead of a full Montgomery product.
        const u64 small = base[0];
        TLimbs scratch(n + 1, 0);
        x = bm;
        for (std::size_t i = bits - 1; i-- > 0;) {
            mont.SqrMont(x.data(), x.data());
            if (Bit(exp, i)) MulSmallMod(x.data(), small, m, n, scratch.data());
        }
    } else {
        const std::size_t k = WindowBits(bits);
        const std::size_t count = std::size_t{1} << (k - 1);
        TLimbs table(count * n, 0);
        std::copy(bm.begin(), bm.end(), table.begin());
        if (count > 1) {
            TLimbs square(n, 0);
            mont.SqrMont(square.data(), bm.data());
            for (std::size_t i = 1; i < count; ++i) mont.MulMont(&table[i * n], &table[(i - 1) * n], square.data());
        }
        bool first = true;
        std::size_t i = bits;
        while (i > 0) {
            const std::size_t top = i - 1;
            if (!Bit(exp, top)) {
                mont.SqrMont(x.data(), x.data());
                i = top;
                continue;
            }
            std::size_t low = top + 1 >= k ? top + 1 - k : 0;
            while (!Bit(exp, low)) ++low;
            std::size_t value = 0;
            for (std::size_t b = top + 1; b-- > low;) value = (value << 1) | (Bit(exp, b) ? 1 : 0);
            const u64* entry = &table[(value >> 1) * n];
            if (first) {
                std::copy(entry, entry + n, x.begin());
                first = false;
            } else {
                for (std::size_t s = 0; s < top - low + 1; ++s) mont.SqrMont(x.data(), x.data());
                mont.MulMont(x.data(), x.data(), entry);
            }
            i = low;
        }
    }
    mont.Leave(r, x.data());
}

}  // namespace

void PowModOdd(u64* r, const u64* base, const u64* exp, std::size_t en, const u64* m, std::size_t n) {
    PowModOddOnStack(r, base, exp, en, m, n);
    // The limb buffers wipe themselves on release, but the multiplications
    // leave quotient digits and unreduced results in their frames: the
    // modulus is one subtraction away, and in key generation it is a secret prime.
    SecureWipeStack();
}

}  // namespace bigmath
