#pragma once
// RSA key pair: owns E, N and D (wiped on destruction). The primes are not kept.

#include <cstdint>
#include <memory>
#include <string>

#include "bigmath/bigmath.h"
#include "rsa/publickey.h"

class TPrivateKey {
public:
    // Generates a new pair whose modulus has at most keySize bits (two primes
    // of keySize div 2 bits each, top bit not forced). Draws from BigRandom().
    // Throws std::runtime_error: "Invalid number of bits: 0" for sizes below 2,
    // "Key size too small: %d (at least 6 bits)" for sizes 2 to 5.
    explicit TPrivateKey(int32_t keySize);

    // A key that refers to this key's E and N; it must not outlive this key.
    std::unique_ptr<TPublicKey> GetPublicKey() const;

    // Raises each entry's number to D modulo N in place (the list then holds
    // the plain values) and returns one byte per digit of each, low 8 bits,
    // least significant digit first, in list order.
    std::string Decrypt(TCiphertextList& list) const;

    const TBigint& GetE() const { return *E; }
    const TBigint& GetN() const { return *N; }
    const TBigint& GetD() const { return *D; }

private:
    std::unique_ptr<TBigint> E;
    std::unique_ptr<TBigint> N;
    std::unique_ptr<TBigint> D;
};
