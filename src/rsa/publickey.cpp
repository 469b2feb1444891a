#include "rsa/publickey.h"

#include <algorithm>
#include <array>

#include "rsa/encryptionplan.h"
#include "rsa/parallelwork.h"

namespace {

// The product of the factors' ciphertexts modulo n: the ciphertext of their product.
std::unique_ptr<TBigint> Combine(const TEncryptionPlan& plan, unsigned char byte,
                                 const std::vector<std::unique_ptr<TBigint>>& powers, const TBigint& n) {
    auto number = TBigint::CreateCopy(*powers[plan.Factor(byte, 0)]);
    for (std::size_t i = 1; i < plan.FactorCount(byte); ++i) number->MulMod(*powers[plan.Factor(byte, i)], n);
    return number;
}

}  // namespace

void TCiphertextList::Add(std::string text, std::unique_ptr<TBigint> number) {
    Entries.push_back(TCiphertextEntry{std::move(text), std::move(number)});
}

bool TCiphertextList::AddSorted(std::string text, std::unique_ptr<TBigint> number) {
    const auto at =
        std::lower_bound(Entries.begin(), Entries.end(), text,
                         [](const TCiphertextEntry& entry, const std::string& key) { return entry.Text < key; });
    if (at != Entries.end() && at->Text == text) return false;
    Entries.insert(at, TCiphertextEntry{std::move(text), std::move(number)});
    return true;
}

TCiphertextEntry TCiphertextList::TakeFirst() {
    TCiphertextEntry first = std::move(Entries.front());
    Entries.erase(Entries.begin());
    return first;
}

std::unique_ptr<TPublicKey> TPublicKey::Create(const TBigint& e, const TBigint& n) {
    return std::make_unique<TPublicKey>(e, n);
}

std::unique_ptr<TBigint> TPublicKey::EncryptByte(unsigned char byte) const {
    auto number = TBigint::CreateFromDigits(TDynamicDigitArray{byte});
    number->PowMod(E, N);
    return number;
}

void TPublicKey::Encrypt(std::string_view text, TCiphertextList& list) const {
    for (std::size_t i = 0; i < text.size(); ++i) {
        list.Add(std::to_string(i + 1), EncryptByte(static_cast<unsigned char>(text[i])));
    }
}

void TPublicKey::EncryptParallel(std::string_view text, TCiphertextList& list, unsigned threads) const {
    const TEncryptionPlan plan(text, !E.IsZero() && !E.IsNegative());
    // Each worker writes only its own slot; E and N are only read.
    std::vector<std::unique_ptr<TBigint>> powers(plan.PowerCount());
    RunSpread(plan.PowerCount(), ThreadsForModulus(N.BitLength(), threads),
              [&](std::size_t i) { powers[i] = EncryptByte(plan.Power(i)); });
    std::array<std::unique_ptr<TBigint>, TEncryptionPlan::kByteValues> byByte;
    std::vector<std::unique_ptr<TBigint>> numbers;
    numbers.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (!byByte[byte]) byByte[byte] = Combine(plan, byte, powers, N);
        numbers.push_back(TBigint::CreateCopy(*byByte[byte]));
    }
    for (std::size_t i = 0; i < numbers.size(); ++i) list.Add(std::to_string(i + 1), std::move(numbers[i]));
}
