// Big-integer and RSA speed against GMP in the same run. Each line reads
// "NAME: ours X, gmp Y, ratio Z" with the ratio our time over GMP's.
//
// The prime and key searches are random, so both sides are fed identical
// seeds: they then test the very same candidates (the library draws in a
// fixed order and the GMP side replays that order), and the totals compare
// identical work.
#include <benchmark/benchmark.h>
#include <gmp.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bigmath/bigmath.h"
#include "isaac/isaac.h"
#include "rsa/privatekey.h"

namespace {

// CPU time of this thread: the machine is shared, and time spent waiting
// for a core would otherwise land on whichever side happened to be running.
double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

double Seconds(const std::function<void()>& work) {
    const double start = ThreadSeconds();
    work();
    return ThreadSeconds() - start;
}

std::string Format(double seconds) {
    char text[64];
    if (seconds < 1e-3) {
        std::snprintf(text, sizeof text, "%.1f us", seconds * 1e6);
    } else if (seconds < 1.0) {
        std::snprintf(text, sizeof text, "%.2f ms", seconds * 1e3);
    } else {
        std::snprintf(text, sizeof text, "%.3f s", seconds);
    }
    return text;
}

void Report(const char* name, double ours, double gmp) {
    std::printf("%s: ours %s, gmp %s, ratio %.2f\n", name, Format(ours).c_str(), Format(gmp).c_str(), ours / gmp);
    std::fflush(stdout);
}

void Seed(TIsaac& generator, uint32_t a, uint32_t b) {
    const uint32_t words[2] = {a, b};
    generator.Seed(words, 1, true);
}

class Z {
public:
    Z() { mpz_init(v); }
    Z(const Z&) = delete;
    Z& operator=(const Z&) = delete;
    ~Z() { mpz_clear(v); }
    mpz_ptr get() { return v; }
    mpz_srcptr get() const { return v; }

private:
    mpz_t v;
};

void ToZ(const TBigint& x, Z& z) {
    std::vector<uint16_t> digits;
    for (int32_t i = 0; i < x.DigitCount(); ++i) digits.push_back(x.GetDigit(i));
    mpz_import(z.get(), digits.size(), -1, sizeof(uint16_t), 0, 0, digits.data());
}

// ---- the prime and key searches on GMP, drawing in the library's order ----

void RandomBits(TIsaac& random, int32_t bits, Z& out) {
    const int32_t size = bits / 16 + (bits % 16 ? 1 : 0);
    std::vector<uint16_t> digits(static_cast<std::size_t>(size));
    for (int32_t i = size - 1; i >= 0; --i)
        digits[static_cast<std::size_t>(i)] = static_cast<uint16_t>(random.Range(65536));
    if (bits % 16) digits.back() &= static_cast<uint16_t>((1u << (bits % 16)) - 1);
    mpz_import(out.get(), digits.size(), -1, sizeof(uint16_t), 0, 0, digits.data());
}

void RandomBelow(TIsaac& random, const Z& max, Z& out) {
    const std::size_t size = (mpz_sizeinbase(max.get(), 2) + 15) / 16;
    std::vector<uint16_t> digits(size);
    const int32_t top = static_cast<int32_t>(
        mpz_getlimbn(max.get(), static_cast<mp_size_t>((size - 1) / 4)) >> (16 * ((size - 1) % 4)) & 0xFFFF);
    for (std::size_t i = size; i-- > 0;) digits[i] = static_cast<uint16_t>(random.Range(i == size - 1 ? top : 65536));
    mpz_import(out.get(), digits.size(), -1, sizeof(uint16_t), 0, 0, digits.data());
}

struct TGroup {
    unsigned long Product;
    std::size_t First, Count;
};

const std::vector<TGroup>& Groups() {
    static const std::vector<TGroup> groups = [] {
        std::vector<TGroup> result;
        std::size_t i = 0;
        while (i < SmallPrimes.size()) {
            TGroup g{1, i, 0};
            while (i < SmallPrimes.size() && g.Product <= ~0ul / static_cast<unsigned long>(SmallPrimes[i])) {
                g.Product *= static_cast<unsigned long>(SmallPrimes[i++]);
                ++g.Count;
            }
            result.push_back(g);
        }
        return result;
    }();
    return groups;
}

bool GmpIsProbablePrime(TIsaac& random, const Z& n, int trials) {
    if (mpz_cmp_ui(n.get(), 10000) < 0) {
        return std::binary_search(SmallPrimes.begin(), SmallPrimes.end(), static_cast<int32_t>(mpz_get_ui(n.get())));
    }
    for (const TGroup& g : Groups()) {
        const unsigned long r = mpz_fdiv_ui(n.get(), g.Product);
        for (std::size_t i = g.First; i < g.First + g.Count; ++i) {
            if (r % static_cast<unsigned long>(SmallPrimes[i]) == 0) return false;
        }
    }
    Z nm1, d, x, w;
    mpz_sub_ui(nm1.get(), n.get(), 1);
    const mp_bitcnt_t s = mpz_scan1(nm1.get(), 0);
    mpz_tdiv_q_2exp(d.get(), nm1.get(), s);
    for (int t = 0; t < trials; ++t) {
        do {
            RandomBelow(random, n, w);
        } while (mpz_cmp_ui(w.get(), 1) <= 0);
        mpz_powm(x.get(), w.get(), d.get(), n.get());
        if (mpz_cmp_ui(x.get(), 1) == 0 || mpz_cmp(x.get(), nm1.get()) == 0) continue;
        bool pass = false;
        for (mp_bitcnt_t i = 1; i < s && !pass; ++i) {
            mpz_mul(x.get(), x.get(), x.get());
            mpz_mod(x.get(), x.get(), n.get());
            pass = mpz_cmp(x.get(), nm1.get()) == 0;
        }
        if (!pass) return false;
    }
    return true;
}

void GmpProbablePrime(TIsaac& random, int32_t bits, Z& out) {
    for (;;) {
        RandomBits(random, bits, out);
        mpz_setbit(out.get(), 0);
        if (GmpIsProbablePrime(random, out, 40)) return;
    }
}

void GmpKeyGeneration(TIsaac& random, int32_t keySize, Z& e, Z& n, Z& d) {
    const int32_t half = keySize / 2;
    Z p, q, phi, g;
    GmpProbablePrime(random, half, p);
    GmpProbablePrime(random, half, q);
    while (mpz_cmp(p.get(), q.get()) == 0) GmpProbablePrime(random, half, q);
    mpz_mul(n.get(), p.get(), q.get());
    mpz_sub_ui(p.get(), p.get(), 1);
    mpz_sub_ui(q.get(), q.get(), 1);
    mpz_mul(phi.get(), p.get(), q.get());
    for (;;) {
        RandomBelow(random, phi, e);
        if (mpz_cmp_ui(e.get(), 3) < 0) mpz_set_ui(e.get(), 3);
        mpz_gcd(g.get(), e.get(), phi.get());
        if (mpz_cmp_ui(g.get(), 1) == 0) break;
    }
    mpz_invert(d.get(), e.get(), phi.get());
}

// ---- the measurements ----

void PowModBench(const char* name, int bits, int rounds) {
    TIsaac random;
    Seed(random, 0xC0FFEE, static_cast<uint32_t>(bits));
    BigRandom() = random;
    auto modulus = TBigint::CreateRandomBits(bits);
    auto top = TBigint::CreateFromInt64(1);
    top->ShiftLeft(bits - 1);
    if (modulus->BitLength() < bits) modulus->Add(*top);
    if (modulus->IsEven()) modulus->AddDigit(1);
    auto exponent = TBigint::CreateRandomBits(bits);
    auto base = TBigint::CreateFromInt64(65 + bits % 50);
    Z zm, ze, zb, zr;
    ToZ(*modulus, zm);
    ToZ(*exponent, ze);
    ToZ(*base, zb);

    std::vector<double> ours, gmp;
    const int batch = bits <= 1024 ? 20 : 5;
    for (int r = 0; r < rounds; ++r) {
        ours.push_back(Seconds([&] {
                           for (int i = 0; i < batch; ++i) {
                               auto x = TBigint::CreateCopy(*base);
                               x->PowMod(*exponent, *modulus);
                               benchmark::DoNotOptimize(x);
                           }
                       }) /
                       batch);
        gmp.push_back(Seconds([&] {
                          for (int i = 0; i < batch; ++i) {
                              mpz_powm(zr.get(), zb.get(), ze.get(), zm.get());
                              benchmark::DoNotOptimize(zr);
                          }
                      }) /
                      batch);
    }
    auto x = TBigint::CreateCopy(*base);
    x->PowMod(*exponent, *modulus);
    Z check;
    ToZ(*x, check);
    if (mpz_cmp(check.get(), zr.get()) != 0) std::printf("%s: RESULTS DIFFER\n", name);
    std::sort(ours.begin(), ours.end());
    std::sort(gmp.begin(), gmp.end());
    Report(name, ours[ours.size() / 2], gmp[gmp.size() / 2]);
}

// Total time over identical candidate sequences (one seed per search).
void PrimeBench(const char* name, int bits, int searches) {
    double ours = 0, gmp = 0;
    TIsaac reference;
    for (int s = 0; s < searches; ++s) {
        Seed(BigRandom(), 0xBEEF, static_cast<uint32_t>(s));
        Seed(reference, 0xBEEF, static_cast<uint32_t>(s));
        std::unique_ptr<TBigint> prime;
        ours += Seconds([&] { prime = TBigint::CreateProbablePrime(bits); });
        Z zp;
        gmp += Seconds([&] { GmpProbablePrime(reference, bits, zp); });
        Z check;
        ToZ(*prime, check);
        if (mpz_cmp(check.get(), zp.get()) != 0) std::printf("%s: PRIMES DIFFER\n", name);
    }
    Report(name, ours / searches, gmp / searches);
}

void KeyBench(const char* name, int bits, int keys) {
    double ours = 0, gmp = 0;
    TIsaac reference;
    for (int s = 0; s < keys; ++s) {
        Seed(BigRandom(), 0xD00D, static_cast<uint32_t>(s));
        Seed(reference, 0xD00D, static_cast<uint32_t>(s));
        std::unique_ptr<TPrivateKey> key;
        ours += Seconds([&] { key = std::make_unique<TPrivateKey>(bits); });
        Z e, n, d;
        gmp += Seconds([&] { GmpKeyGeneration(reference, bits, e, n, d); });
        Z check;
        ToZ(key->GetD(), check);
        if (mpz_cmp(check.get(), d.get()) != 0) std::printf("%s: KEYS DIFFER\n", name);
    }
    Report(name, ours / keys, gmp / keys);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string only = argc > 1 ? argv[1] : "";
    const auto wanted = [&](const char* name) { return only.empty() || std::string(name).find(only) == 0; };
    if (wanted("powmod-1024")) PowModBench("powmod-1024", 1024, 41);
    if (wanted("powmod-2048")) PowModBench("powmod-2048", 2048, 41);
    if (wanted("prime-512")) PrimeBench("prime-512", 512, 150);
    if (wanted("prime-1024")) PrimeBench("prime-1024", 1024, 40);
    if (wanted("keygen-1024")) KeyBench("keygen-1024", 1024, 80);
    if (wanted("keygen-2048")) KeyBench("keygen-2048", 2048, 16);
    if (wanted("keygen-4096")) KeyBench("keygen-4096", 4096, 5);
    return 0;
}
