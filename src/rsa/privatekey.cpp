#include "rsa/privatekey.h"

#include <algorithm>
#include <numeric>
#include <stdexcept>
#include <vector>

#include "rsa/parallelwork.h"

namespace {

void CheckKeySize(int32_t keySize) {
    // A peer reads numbers of at most this size, so a longer modulus could not
    // be used anyway; and generating one would take very long.
    if (keySize > kMaxKeyBits) {
        throw std::runtime_error("Key size too large: " + std::to_string(keySize) + " (at most " +
                                 std::to_string(kMaxKeyBits) + " bits)");
    }
    // Below 6 bits there are no two different odd primes of half the size,
    // and the search for the second one would never end.
    if (keySize / 2 >= 1 && keySize < 6) {
        throw std::runtime_error("Key size too small: " + std::to_string(keySize) + " (at least 6 bits)");
    }
}

std::unique_ptr<TBigint> MinusOne(const TBigint& value) {
    auto result = TBigint::CreateCopy(value);
    result->SubtractDigit(1);
    return result;
}

// A random E in [3, phi) coprime to phi.
std::unique_ptr<TBigint> DrawPublicExponent(const TBigint& phi) {
    for (;;) {
        auto e = TBigint::CreateRandomBelow(phi);
        if (e->Compare(BigThree()) < 0) e = TBigint::CreateCopy(BigThree());
        if (e->Gcd(phi)->IsOne()) return e;
    }
}

std::unique_ptr<TBigint> PrivateExponent(const TBigint& e, const TBigint& phi) {
    auto d = e.ModInverse(phi);
    if (d->IsNegative()) throw std::runtime_error("Negative inverse. This shouldn't happen.");
    auto check = TBigint::CreateCopy(*d);
    check->MulMod(e, phi);
    if (!check->IsOne()) throw std::runtime_error("Incorrect inverse. This shouldn't happen.");
    return d;
}

void RequireNumbers(const TCiphertextList& list) {
    for (const TCiphertextEntry& entry : list) {
        if (!entry.Number) throw std::invalid_argument("Missing ciphertext number for part " + entry.Text);
    }
}

std::string PlainText(const TCiphertextList& list) {
    // Room for all of it first: a text that grows leaves copies of its start behind.
    std::size_t length = 0;
    for (const TCiphertextEntry& entry : list) length += static_cast<std::size_t>(entry.Number->DigitCount());
    std::string text;
    text.reserve(length);
    for (const TCiphertextEntry& entry : list) {
        for (int32_t i = 0; i < entry.Number->DigitCount(); ++i) {
            text.push_back(static_cast<char>(entry.Number->GetDigit(i) & 0xFF));
        }
    }
    return text;
}

// For every entry, the index of the first entry with an equal number.
std::vector<std::size_t> FirstOfEqualNumbers(const TCiphertextList& list) {
    std::vector<std::size_t> order(list.Count());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&list](std::size_t a, std::size_t b) { return list[a].Number->Compare(*list[b].Number) < 0; });
    std::vector<std::size_t> first(list.Count());
    for (std::size_t k = 0; k < order.size(); ++k) {
        const bool sameAsPrevious = k > 0 && list[order[k]].Number->Equals(*list[order[k - 1]].Number);
        first[order[k]] = sameAsPrevious ? first[order[k - 1]] : order[k];
    }
    return first;
}

}  // namespace

TPrivateKey::TPrivateKey(int32_t keySize) {
    CheckKeySize(keySize);
    const int32_t half = keySize / 2;
    auto p = TBigint::CreateProbablePrime(half);
    auto q = TBigint::CreateProbablePrime(half);
    while (q->Equals(*p)) q = TBigint::CreateProbablePrime(half);

    auto n = TBigint::CreateCopy(*p);
    n->Multiply(*q);
    auto phi = MinusOne(*p);
    phi->Multiply(*MinusOne(*q));

    E = DrawPublicExponent(*phi);
    D = PrivateExponent(*E, *phi);
    N = std::move(n);
    KeepPrimes(std::move(p), std::move(q));
}

void TPrivateKey::KeepPrimes(std::unique_ptr<TBigint> p, std::unique_ptr<TBigint> q) {
    DP = TBigint::CreateCopy(*D);
    DP->Modulo(*MinusOne(*p));
    DQ = TBigint::CreateCopy(*D);
    DQ->Modulo(*MinusOne(*q));
    QInv = q->ModInverse(*p);
    P = std::move(p);
    Q = std::move(q);
}

std::unique_ptr<TPublicKey> TPrivateKey::GetPublicKey() const { return TPublicKey::Create(*E, *N); }

void TPrivateKey::DecryptNumber(TBigint& number) const {
    // Two exponentiations with half-size exponents and moduli instead of one
    // full one. Exact for every number, even one sharing a factor with N:
    // DP and DQ are at least 1 (D is coprime to P - 1 and Q - 1), so a
    // number that is 0 modulo a prime stays 0 there, as with D itself.
    // PowMod reduces the number modulo each prime first, which is what
    // reducing it modulo N first would come to.
    TBigint atP(number);
    atP.PowMod(*DP, *P);
    TBigint atQ(number);
    atQ.PowMod(*DQ, *Q);
    // Garner: atQ + Q * (QInv * (atP - atQ) mod P) lies in [0, N).
    atP.Subtract(atQ);
    atP.MulMod(*QInv, *P);
    atP.Multiply(*Q);
    atP.Add(atQ);
    number = std::move(atP);
}

std::string TPrivateKey::Decrypt(TCiphertextList& list) const {
    RequireNumbers(list);
    for (TCiphertextEntry& entry : list) DecryptNumber(*entry.Number);
    return PlainText(list);
}

std::string TPrivateKey::DecryptParallel(TCiphertextList& list, unsigned threads) const {
    RequireNumbers(list);
    const std::vector<std::size_t> first = FirstOfEqualNumbers(list);
    std::vector<std::size_t> distinct;
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (first[i] == i) distinct.push_back(i);
    }
    // Each worker changes only its own entry's number; the key is only read.
    RunSpread(distinct.size(), ThreadsForModulus(N->BitLength(), threads),
              [&](std::size_t k) { DecryptNumber(*list[distinct[k]].Number); });
    for (std::size_t i = 0; i < first.size(); ++i) {
        if (first[i] != i) list[i].Number->Assign(*list[first[i]].Number);
    }
    return PlainText(list);
}
