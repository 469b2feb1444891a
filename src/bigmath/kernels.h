#pragma once
// Magnitude kernels on 64-bit limbs (least significant first). Callers size
// every output; nothing here allocates except where a scratch type is passed.

#include <cstddef>
#include <cstdint>

#include "bigmath/limbs.h"

namespace bigmath {

using u64 = uint64_t;
__extension__ typedef unsigned __int128 u128;

// Limbs in use once top zero limbs are ignored.
std::size_t Trimmed(const u64* a, std::size_t n);
int Cmp(const u64* a, std::size_t an, const u64* b, std::size_t bn);  // trimmed inputs

u64 AddN(u64* r, const u64* a, const u64* b, std::size_t n);
u64 SubN(u64* r, const u64* a, const u64* b, std::size_t n);
// r[0..an) = a + b with an >= bn; returns the carry out.
u64 Add(u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn);
// r[0..an) = a - b with a >= b (an >= bn); returns the borrow out.
u64 Sub(u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn);
u64 Mul1(u64* r, const u64* a, std::size_t n, u64 b);
u64 AddMul1(u64* r, const u64* a, std::size_t n, u64 b);
u64 SubMul1(u64* r, const u64* a, std::size_t n, u64 b);

// r[0..an+bn) = a * b; r must not overlap a or b.
void Mul(u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn);
// r[0..2n) = a^2; r must not overlap a.
void Sqr(u64* r, const u64* a, std::size_t n);

// r[0..n) = a << bits (bits < 64); returns the bits shifted out.
u64 ShiftLeftBits(u64* r, const u64* a, std::size_t n, unsigned bits);
// r[0..n) = a >> bits (bits < 64); r may equal a.
void ShiftRightBits(u64* r, const u64* a, std::size_t n, unsigned bits);

// Remainder of a by a single limb d != 0; q (n limbs, may be null) takes the quotient.
u64 DivRem1(u64* q, const u64* a, std::size_t n, u64 d);

// Knuth's Algorithm D. a has an limbs, b has bn >= 2 limbs with a non-zero top
// limb, an >= bn. q gets an - bn + 1 limbs (may be null), r gets bn limbs.
void DivRem(u64* q, u64* r, const u64* a, std::size_t an, const u64* b, std::size_t bn);

// Modular exponentiation r = base^exp mod m for an odd m > 1 of n limbs, base < m
// (n limbs), exp with en > 0 limbs and a non-zero top limb. Montgomery
// multiplication with a sliding window.
void PowModOdd(u64* r, const u64* base, const u64* exp, std::size_t en, const u64* m, std::size_t n);

}  // namespace bigmath
