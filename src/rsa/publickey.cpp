#include "rsa/publickey.h"

#include <algorithm>

void TCiphertextList::Add(std::string text, std::unique_ptr<TBigint> number) {
    Entries.push_back(TCiphertextEntry{std::move(text), std::move(number)});
}

bool TCiphertextList::AddSorted(std::string text, std::unique_ptr<TBigint> number) {
    const auto at = std::lower_bound(Entries.begin(), Entries.end(), text,
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

void TPublicKey::Encrypt(std::string_view text, TCiphertextList& list) const {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const TDynamicDigitArray code{static_cast<uint16_t>(static_cast<unsigned char>(text[i]))};
        auto number = TBigint::CreateFromDigits(code);
        number->PowMod(E, N);
        list.Add(std::to_string(i + 1), std::move(number));
    }
}
