// Base64 and the text encryption of the channel on arbitrary input under a
// fixed key: decoding and decrypting never fail, the buffer and text forms
// of the decoder agree, and encoding or encrypting then reversing gives the
// bytes back. The batch encryption of file chunks must equal the single one.

#include <cstring>

#include "cipher/base64.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "cipher/textbatch.h"
#include "fuzzsupport.h"
#include "session/channel.h"

namespace {

constexpr const char* kKey = "Fuzz session key of 32 chars ok!";

void CheckDecoders(const std::string& text) {
    const std::string decoded = DecodeBase64Text(text);
    FUZZ_CHECK(decoded.size() <= text.size() / 4 * 3);
    std::vector<char> buffer(text.size() / 4 * 3 + 1);
    const int32_t written = DecodeBase64(text.data(), buffer.data(), static_cast<int32_t>(text.size()));
    FUZZ_CHECK(written >= 0 && static_cast<std::size_t>(written) == decoded.size());
    FUZZ_CHECK(std::memcmp(buffer.data(), decoded.data(), decoded.size()) == 0);
}

void CheckRoundTrips(const std::string& bytes) {
    const std::string encoded = EncodeBase64Text(bytes);
    FUZZ_CHECK(encoded.size() == (bytes.size() + 2) / 3 * 4);
    FUZZ_CHECK(DecodeBase64Text(encoded) == bytes);

    const std::string ciphertext = SealUnder(kKey, bytes);
    FUZZ_CHECK(OpenUnder(kKey, ciphertext) == bytes);
    const std::vector<std::string> batch = EncryptTextsUnderPassphrase(kKey, {bytes, bytes}, false);
    FUZZ_CHECK(batch.size() == 2 && batch[0] == ciphertext && batch[1] == ciphertext);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    CheckDecoders(text);
    // As a received payload: the plaintext may be anything, but no more bytes than were decoded.
    FUZZ_CHECK(OpenUnder(kKey, text).size() == DecodeBase64Text(text).size());
    TRijndael cipher;
    cipher.SetKeyFromText(kKey, TSha256::Class());
    FUZZ_CHECK(cipher.DecryptText(text) == OpenUnder(kKey, text));
    cipher.Wipe();
    CheckRoundTrips(text);
    return 0;
}
