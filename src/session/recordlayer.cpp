#include "session/recordlayer.h"

#include <future>

#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "cipher/textbatch.h"

namespace {

// Below this a second thread costs more than it gives.
constexpr std::size_t kTwoThreadBatch = 16;

// A fresh cipher for each text, wiped before it goes, also on an error.
template <class Operation>
std::string WithSessionCipher(const std::string& sessionKey, Operation operation) {
    TRijndael cipher;
    try {
        cipher.SetKeyFromText(sessionKey, TSha256::Class());
        std::string result = operation(cipher);
        cipher.Wipe();
        return result;
    } catch (...) {
        cipher.Wipe();
        throw;
    }
}

}  // namespace

std::string TMessageCipher::Seal(const std::string& plaintext) const {
    return WithSessionCipher(sessionKey_.str(), [&](TRijndael& cipher) { return cipher.EncryptText(plaintext); });
}

std::string TMessageCipher::Open(const std::string& payload) const {
    return WithSessionCipher(sessionKey_.str(), [&](TRijndael& cipher) { return cipher.DecryptText(payload); });
}

std::vector<std::string> TMessageCipher::SealMany(const std::vector<std::string>& plaintexts) const {
    const std::string& key = sessionKey_.str();
    if (plaintexts.size() < kTwoThreadBatch) return EncryptTextsUnderPassphrase(key, plaintexts);
    const auto middle = plaintexts.begin() + static_cast<std::ptrdiff_t>(plaintexts.size() / 2);
    const std::vector<std::string> first(plaintexts.begin(), middle);
    const std::vector<std::string> second(middle, plaintexts.end());
    auto other = std::async(std::launch::async, [&] { return EncryptTextsUnderPassphrase(key, second); });
    std::vector<std::string> result = EncryptTextsUnderPassphrase(key, first);
    std::vector<std::string> rest = other.get();
    result.insert(result.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
    return result;
}
