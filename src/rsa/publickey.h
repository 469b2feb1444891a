#pragma once
// RSA public half: textbook RSA applied to each character on its own.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bigmath/bigmath.h"

// One ciphertext part: a name (the 1-based character position from Encrypt,
// or the receiver's padded part index) and the number, owned by the entry.
struct TCiphertextEntry {
    std::string Text;
    std::unique_ptr<TBigint> Number;
};

// The list that Encrypt fills and Decrypt walks in order. Whoever holds the
// list owns its numbers; they are wiped when the list goes.
class TCiphertextList {
public:
    // Appends at the end.
    void Add(std::string text, std::unique_ptr<TBigint> number);
    // Inserts keeping the texts in ascending byte order. A text that is
    // already present is not added again (the first one stays) and false is
    // returned; the number passed in is then released.
    bool AddSorted(std::string text, std::unique_ptr<TBigint> number);
    // Removes and returns the first entry.
    TCiphertextEntry TakeFirst();
    void Clear() { Entries.clear(); }

    std::size_t Count() const { return Entries.size(); }
    bool Empty() const { return Entries.empty(); }
    TCiphertextEntry& operator[](std::size_t i) { return Entries[i]; }
    const TCiphertextEntry& operator[](std::size_t i) const { return Entries[i]; }
    auto begin() { return Entries.begin(); }
    auto end() { return Entries.end(); }
    auto begin() const { return Entries.begin(); }
    auto end() const { return Entries.end(); }

private:
    std::vector<TCiphertextEntry> Entries;
};

class TPublicKey {
public:
    // Refers to e and n without owning them: they must outlive the key.
    // Note the order: exponent first, modulus second.
    TPublicKey(const TBigint& e, const TBigint& n) : E(e), N(n) {}
    static std::unique_ptr<TPublicKey> Create(const TBigint& e, const TBigint& n);

    // Appends one entry per byte of text: name "1", "2", ..., number
    // byte^E mod N. The empty text appends nothing.
    void Encrypt(std::string_view text, TCiphertextList& list) const;
    // The same list Encrypt gives, with the exponentiations spread over
    // threads (0: one per core). Equal characters are computed once, and a
    // character whose code is a product of raised codes only by multiplying
    // their ciphertexts. Appends nothing if an exponentiation fails; its
    // exception comes back here.
    void EncryptParallel(std::string_view text, TCiphertextList& list, unsigned threads = 0) const;

    const TBigint& GetE() const { return E; }
    const TBigint& GetN() const { return N; }

private:
    std::unique_ptr<TBigint> EncryptByte(unsigned char byte) const;

    const TBigint& E;
    const TBigint& N;
};
