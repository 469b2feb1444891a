#pragma once
// RSA key pair: owns E, N and D, and the primes with the values that let
// decryption work modulo each prime on its own (all wiped on destruction).

#include <cstdint>
#include <memory>
#include <string>

#include "bigmath/bigmath.h"
#include "rsa/publickey.h"

// Largest key size the constructor accepts.
inline constexpr int32_t kMaxKeyBits = 16384;

class TPrivateKey {
public:
    // Generates a new pair whose modulus has at most keySize bits (two primes
    // of keySize div 2 bits each, top bit not forced). Draws from BigRandom().
    // Throws std::runtime_error: "Invalid number of bits: 0" for sizes below 2,
    // "Key size too small: %d (at least 6 bits)" for sizes 2 to 5,
    // "Key size too large: %d (at most 16384 bits)" above kMaxKeyBits.
    explicit TPrivateKey(int32_t keySize);

    // A key that refers to this key's E and N; it must not outlive this key.
    std::unique_ptr<TPublicKey> GetPublicKey() const;

    // Raises each entry's number to D modulo N in place (the list then holds
    // the plain values) and returns one byte per digit of each, low 8 bits,
    // least significant digit first, in list order. An entry without a
    // number raises std::invalid_argument before any entry is changed.
    std::string Decrypt(TCiphertextList& list) const;
    // The same result and list contents as Decrypt, with the exponentiations
    // spread over threads (0: one per core); equal numbers are computed once.
    // An exception from a worker thread comes back here.
    std::string DecryptParallel(TCiphertextList& list, unsigned threads = 0) const;

    const TBigint& GetE() const { return *E; }
    const TBigint& GetN() const { return *N; }
    const TBigint& GetD() const { return *D; }
    const TBigint& GetP() const { return *P; }
    const TBigint& GetQ() const { return *Q; }

private:
    void KeepPrimes(std::unique_ptr<TBigint> p, std::unique_ptr<TBigint> q);
    // number^D mod N, computed modulo P and Q and recombined.
    void DecryptNumber(TBigint& number) const;

    std::unique_ptr<TBigint> E;
    std::unique_ptr<TBigint> N;
    std::unique_ptr<TBigint> D;
    std::unique_ptr<TBigint> P;
    std::unique_ptr<TBigint> Q;
    std::unique_ptr<TBigint> DP;    // D mod (P - 1)
    std::unique_ptr<TBigint> DQ;    // D mod (Q - 1)
    std::unique_ptr<TBigint> QInv;  // Q^-1 mod P
};
