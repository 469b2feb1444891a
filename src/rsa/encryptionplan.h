#pragma once
// Which byte values EncryptParallel raises to E, and how it gets the
// ciphertexts of the others. Since (a * b)^E = a^E * b^E mod N, a byte whose
// code factors into codes that are raised anyway needs only multiplications:
// a 32-character printable key text needs about 17 exponentiations instead of
// about 27 (one per distinct character).

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

class TEncryptionPlan {
public:
    static constexpr std::size_t kByteValues = 256;
    // Enough for every byte: 128 = 2^7 has the most prime factors.
    static constexpr std::size_t kMaxFactors = 7;

    // Plans the bytes of text. Without useProducts every distinct byte is
    // raised on its own, which is what a zero exponent needs: PowMod gives 1
    // for it whatever the modulus, so products would not agree with it.
    TEncryptionPlan(std::string_view text, bool useProducts);
    TEncryptionPlan(const TEncryptionPlan&) = delete;
    TEncryptionPlan& operator=(const TEncryptionPlan&) = delete;
    // The plan tells which characters the key text holds: wiped.
    ~TEncryptionPlan();

    // The values to raise to E, each once, in ascending order.
    std::size_t PowerCount() const { return PowerCountValue; }
    uint8_t Power(std::size_t index) const { return Powers[index]; }

    // For a byte of the text: indices of powers whose product is the byte
    // (an index repeats for a repeated factor). A raised byte has one, itself.
    std::size_t FactorCount(unsigned char byte) const { return Factors[byte].Count; }
    uint8_t Factor(unsigned char byte, std::size_t i) const { return Factors[byte].Indices[i]; }

private:
    struct TFactors {
        uint8_t Count = 0;
        std::array<uint8_t, kMaxFactors> Indices{};
    };

    void ChooseRaised(const std::array<bool, kByteValues>& present, bool useProducts);
    void ListPowers(const std::array<bool, kByteValues>& present);
    void ListFactors(const std::array<bool, kByteValues>& present);

    // Raised[b]: byte b is raised itself rather than built from its primes.
    std::array<bool, kByteValues> Raised{};
    std::array<uint8_t, kByteValues> Powers{};
    std::array<int16_t, kByteValues> PowerIndex{};
    std::size_t PowerCountValue = 0;
    std::array<TFactors, kByteValues> Factors{};
};
