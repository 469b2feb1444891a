#include "rsa/privatekey.h"

#include <stdexcept>

TPrivateKey::TPrivateKey(int32_t keySize) {
    const int32_t half = keySize / 2;
    // Below 6 bits there are no two different odd primes of half the size,
    // and the search for the second one would never end.
    if (half >= 1 && keySize < 6) {
        throw std::runtime_error("Key size too small: " + std::to_string(keySize) + " (at least 6 bits)");
    }
    auto p = TBigint::CreateProbablePrime(half);
    auto q = TBigint::CreateProbablePrime(half);
    while (q->Equals(*p)) q = TBigint::CreateProbablePrime(half);

    auto n = TBigint::CreateCopy(*p);
    n->Multiply(*q);

    p->SubtractDigit(1);
    q->SubtractDigit(1);
    auto phi = std::move(p);
    phi->Multiply(*q);
    q.reset();

    std::unique_ptr<TBigint> e;
    for (;;) {
        e = TBigint::CreateRandomBelow(*phi);
        if (e->Compare(BigThree()) < 0) e = TBigint::CreateCopy(BigThree());
        if (e->Gcd(*phi)->IsOne()) break;
    }

    auto d = e->ModInverse(*phi);
    if (d->IsNegative()) throw std::runtime_error("Negative inverse. This shouldn't happen.");
    auto check = TBigint::CreateCopy(*d);
    check->MulMod(*e, *phi);
    if (!check->IsOne()) throw std::runtime_error("Incorrect inverse. This shouldn't happen.");

    E = std::move(e);
    N = std::move(n);
    D = std::move(d);
}

std::unique_ptr<TPublicKey> TPrivateKey::GetPublicKey() const { return TPublicKey::Create(*E, *N); }

std::string TPrivateKey::Decrypt(TCiphertextList& list) const {
    std::string text;
    for (TCiphertextEntry& entry : list) {
        if (!entry.Number) throw std::invalid_argument("Missing ciphertext number for part " + entry.Text);
        entry.Number->PowMod(*D, *N);
        for (int32_t i = 0; i < entry.Number->DigitCount(); ++i) {
            text.push_back(static_cast<char>(entry.Number->GetDigit(i) & 0xFF));
        }
    }
    return text;
}
