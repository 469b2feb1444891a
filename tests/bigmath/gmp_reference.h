#pragma once
// Test oracles on GMP: conversions through the digit view, and the prime and
// key searches written out step by step on mpz_t, drawing from their own TIsaac
// in the same order as the library, so both can be fed identical seeds.

#include <gmp.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bigmath/bigmath.h"
#include "isaac/isaac.h"

namespace gmpref {

// RAII wrapper for an mpz_t.
class Z {
public:
    Z() { mpz_init(v); }
    explicit Z(long x) { mpz_init_set_si(v, x); }
    explicit Z(int x) { mpz_init_set_si(v, x); }
    explicit Z(const char* text, int base = 10) { mpz_init_set_str(v, text, base); }
    Z(const Z& o) { mpz_init_set(v, o.v); }
    Z& operator=(const Z& o) {
        mpz_set(v, o.v);
        return *this;
    }
    ~Z() { mpz_clear(v); }
    mpz_ptr get() { return v; }
    mpz_srcptr get() const { return v; }
    std::string str(int base = 10) const {
        std::vector<char> buffer(mpz_sizeinbase(v, base) + 2);
        mpz_get_str(buffer.data(), base, v);
        return buffer.data();
    }

private:
    mpz_t v;
};

inline Z ToZ(const TBigint& x) {
    Z z;
    std::vector<uint16_t> digits;
    for (int32_t i = 0; i < x.DigitCount(); ++i) digits.push_back(x.GetDigit(i));
    mpz_import(z.get(), digits.size(), -1, sizeof(uint16_t), 0, 0, digits.data());
    if (x.IsNegative()) mpz_neg(z.get(), z.get());
    return z;
}

inline std::unique_ptr<TBigint> FromZ(const Z& z) {
    std::size_t count = 0;
    std::vector<uint16_t> digits((mpz_sizeinbase(z.get(), 2) + 15) / 16 + 1);
    mpz_export(digits.data(), &count, -1, sizeof(uint16_t), 0, 0, z.get());
    digits.resize(count == 0 ? 1 : count);
    auto result = TBigint::CreateFromDigits(digits);
    if (mpz_sgn(z.get()) < 0) result->MultiplyDigit(1, true);
    return result;
}

inline Z RandomBits(TIsaac& random, int32_t bits) {
    const int32_t size = bits / 16 + (bits % 16 ? 1 : 0);
    Z z;
    for (int32_t i = size - 1; i >= 0; --i) {
        uint32_t digit = static_cast<uint32_t>(random.Range(65536));
        if (i == size - 1 && bits % 16) digit &= (1u << (bits % 16)) - 1;
        mpz_mul_2exp(z.get(), z.get(), 16);
        mpz_add_ui(z.get(), z.get(), digit);
    }
    return z;
}

inline Z RandomBelow(TIsaac& random, const Z& max) {
    const std::size_t size = (mpz_sizeinbase(max.get(), 2) + 15) / 16;
    Z top;
    mpz_tdiv_q_2exp(top.get(), max.get(), 16 * (size - 1));
    Z z;
    for (std::size_t i = size; i-- > 0;) {
        const int32_t range = i == size - 1 ? static_cast<int32_t>(mpz_get_ui(top.get())) : 65536;
        mpz_mul_2exp(z.get(), z.get(), 16);
        mpz_add_ui(z.get(), z.get(), static_cast<unsigned long>(random.Range(range)));
    }
    return z;
}

inline bool MillerRabin(const Z& n, const Z& witness) {
    Z nm1;
    mpz_sub_ui(nm1.get(), n.get(), 1);
    const mp_bitcnt_t s = mpz_scan1(nm1.get(), 0);
    Z d;
    mpz_tdiv_q_2exp(d.get(), nm1.get(), s);
    Z x;
    mpz_powm(x.get(), witness.get(), d.get(), n.get());
    if (mpz_cmp_ui(x.get(), 1) == 0 || mpz_cmp(x.get(), nm1.get()) == 0) return true;
    for (mp_bitcnt_t i = 1; i < s; ++i) {
        mpz_mul(x.get(), x.get(), x.get());
        mpz_mod(x.get(), x.get(), n.get());
        if (mpz_cmp(x.get(), nm1.get()) == 0) return true;
    }
    return false;
}

// Trial division by each small prime in ascending order, then `trials` rounds.
inline bool IsProbablePrime(TIsaac& random, const Z& n, int trials) {
    if (mpz_cmp_ui(n.get(), 1) <= 0) return false;
    for (int32_t p : SmallPrimes) {
        if (mpz_cmp_ui(n.get(), static_cast<unsigned long>(p)) == 0) return true;
        if (mpz_divisible_ui_p(n.get(), static_cast<unsigned long>(p))) return false;
    }
    if (trials <= 0) return true;
    for (int t = 0; t < trials; ++t) {
        Z witness;
        do {
            witness = RandomBelow(random, n);
        } while (mpz_cmp_ui(witness.get(), 1) <= 0);
        if (!MillerRabin(n, witness)) return false;
    }
    return true;
}

inline Z ProbablePrime(TIsaac& random, int32_t bits) {
    for (;;) {
        Z candidate = RandomBits(random, bits);
        mpz_setbit(candidate.get(), 0);
        if (IsProbablePrime(random, candidate, 40)) return candidate;
    }
}

// The binary extended Euclid with four coefficients, step by step. Returns
// false where there is no inverse. Without fullReduction the last coefficient
// only has the modulus added when negative, which can leave it >= modulus.
inline bool ModInverse(const Z& x, const Z& modulus, Z& result, bool fullReduction = true) {
    Z x0;
    mpz_mod(x0.get(), x.get(), modulus.get());
    if (mpz_sgn(x0.get()) == 0) return false;
    if (mpz_cmp_ui(x0.get(), 1) == 0) {
        mpz_set_ui(result.get(), 1);
        return true;
    }
    Z y0 = modulus;
    const mp_bitcnt_t k = std::min(mpz_scan1(x0.get(), 0), mpz_scan1(y0.get(), 0));
    mpz_tdiv_q_2exp(x0.get(), x0.get(), k);
    mpz_tdiv_q_2exp(y0.get(), y0.get(), k);
    Z u = x0, v = y0, a(1), b(0), c(0), d(1);
    for (;;) {
        while (mpz_even_p(u.get())) {
            mpz_tdiv_q_2exp(u.get(), u.get(), 1);
            if (mpz_odd_p(a.get()) || mpz_odd_p(b.get())) {
                mpz_add(a.get(), a.get(), y0.get());
                mpz_sub(b.get(), b.get(), x0.get());
            }
            mpz_tdiv_q_2exp(a.get(), a.get(), 1);
            mpz_tdiv_q_2exp(b.get(), b.get(), 1);
        }
        while (mpz_even_p(v.get())) {
            mpz_tdiv_q_2exp(v.get(), v.get(), 1);
            if (mpz_odd_p(c.get()) || mpz_odd_p(d.get())) {
                mpz_add(c.get(), c.get(), y0.get());
                mpz_sub(d.get(), d.get(), x0.get());
            }
            mpz_tdiv_q_2exp(c.get(), c.get(), 1);
            mpz_tdiv_q_2exp(d.get(), d.get(), 1);
        }
        if (mpz_cmp(u.get(), v.get()) < 0) {
            mpz_sub(v.get(), v.get(), u.get());
            mpz_sub(c.get(), c.get(), a.get());
            mpz_sub(d.get(), d.get(), b.get());
        } else {
            mpz_sub(u.get(), u.get(), v.get());
            mpz_sub(a.get(), a.get(), c.get());
            mpz_sub(b.get(), b.get(), d.get());
        }
        if (mpz_sgn(u.get()) == 0) break;
    }
    if (k != 0 || mpz_cmp_ui(v.get(), 1) != 0) return false;
    result = c;
    if (fullReduction) {
        mpz_mod(result.get(), result.get(), modulus.get());
    } else if (mpz_sgn(result.get()) < 0) {
        mpz_add(result.get(), result.get(), modulus.get());
    }
    return true;
}

struct TKey {
    Z E, N, D;
};

// Key generation as the library does it: two primes of half the size, a
// random exponent below phi coprime to it, its inverse.
inline TKey GenerateKey(TIsaac& random, int32_t keySize) {
    const int32_t half = keySize / 2;
    Z p = ProbablePrime(random, half);
    Z q = ProbablePrime(random, half);
    while (mpz_cmp(p.get(), q.get()) == 0) q = ProbablePrime(random, half);
    TKey key;
    mpz_mul(key.N.get(), p.get(), q.get());
    Z phi, pm1, qm1, g;
    mpz_sub_ui(pm1.get(), p.get(), 1);
    mpz_sub_ui(qm1.get(), q.get(), 1);
    mpz_mul(phi.get(), pm1.get(), qm1.get());
    for (;;) {
        key.E = RandomBelow(random, phi);
        if (mpz_cmp_ui(key.E.get(), 3) < 0) mpz_set_ui(key.E.get(), 3);
        mpz_gcd(g.get(), key.E.get(), phi.get());
        if (mpz_cmp_ui(g.get(), 1) == 0) break;
    }
    ModInverse(key.E, phi, key.D);
    return key;
}

}  // namespace gmpref
