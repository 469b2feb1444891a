#include "cipher/cryptbase.h"

#include "cipher/base64.h"
#include "cipher/cryptconst.h"
#include "secure/securewipe.h"

#include <algorithm>
#include <vector>

namespace {

// The byte operations count in 32 bits; longer texts go through in pieces.
// The piece is a multiple of every block size, so only the last piece can
// have a tail and the result equals one call over the whole text.
constexpr std::size_t kPiece = std::size_t{1} << 30;

template <class Operation>
void InPieces(std::size_t length, Operation operation) {
    std::size_t offset = 0;
    do {
        const std::size_t piece = std::min(length - offset, kPiece);
        operation(offset, static_cast<uint32_t>(piece));
        offset += piece;
    } while (offset < length);
}

}  // namespace

void XorInto(void* destination, const void* source, uint32_t count) {
    auto* d = static_cast<unsigned char*>(destination);
    const auto* s = static_cast<const unsigned char*>(source);
    for (uint32_t i = 0; i < count; ++i) d[i] ^= s[i];
}

void THash::AddText(const std::string& text) {
    InPieces(text.size(), [&](std::size_t offset, uint32_t size) { AddBytes(text.data() + offset, size); });
}

void TCipher::SetKey(const void* /*key*/, uint32_t sizeInBits, const void* /*initVector*/) {
    if (Ready) Wipe();
    const auto maxKeySize = static_cast<uint32_t>(GetMaxKeySize());
    if (sizeInBits == 0 || sizeInBits % 4 != 0 || sizeInBits > maxKeySize) throw ECipher(cryptconst::SInvalidKeySize);
    Ready = true;
}

void TCipher::SetKeyFromText(const std::string& passphrase, const THashClass& hashClass) {
    if (Ready) Wipe();
    std::vector<unsigned char> digest;
    THash* hash = nullptr;
    try {
        const int32_t hashBits = hashClass.HashSize();
        digest.resize(static_cast<std::size_t>(std::max(hashBits / 8, 0)));
        hash = &hashClass.Create(*this);
        hash->Initialize();
        hash->AddText(passphrase);
        hash->Finish(digest.data());
        FreeComponent(*hash);
        hash = nullptr;
        const int32_t maxKeySize = GetMaxKeySize();
        const int32_t keyBits = maxKeySize < hashBits ? maxKeySize : hashBits;
        SetKey(digest.data(), static_cast<uint32_t>(keyBits), nullptr);
    } catch (...) {
        // The digest is key material whatever went wrong, and the hash must
        // not linger in our list holding half a passphrase.
        SecureWipe(digest.data(), digest.size(), 0xFF);
        if (hash != nullptr) FreeComponent(*hash);
        if (Ready) Wipe();
        throw ECipher(cryptconst::SHashDigestAllocation);
    }
    SecureWipe(digest.data(), digest.size(), 0xFF);
}

std::string TCipher::EncryptText(const std::string& text) {
    std::string output(text.size(), '\0');
    InPieces(text.size(), [&](std::size_t offset, uint32_t size) {
        EncryptBytes(text.data() + offset, output.data() + offset, size);
    });
    return EncodeBase64Text(output);
}

std::string TCipher::DecryptText(const std::string& text) {
    std::string buffer = DecodeBase64Text(text);
    InPieces(buffer.size(), [&](std::size_t offset, uint32_t size) {
        DecryptBytes(buffer.data() + offset, buffer.data() + offset, size);
    });
    return buffer;
}

std::string TBlockCipher::EncryptText(const std::string& text) {
    std::string output(text.size(), '\0');
    InPieces(text.size(), [&](std::size_t offset, uint32_t size) {
        Cfb8Encrypt(text.data() + offset, output.data() + offset, size);
    });
    return EncodeBase64Text(output);
}

std::string TBlockCipher::DecryptText(const std::string& text) {
    std::string buffer = DecodeBase64Text(text);
    InPieces(buffer.size(), [&](std::size_t offset, uint32_t size) {
        Cfb8Decrypt(buffer.data() + offset, buffer.data() + offset, size);
    });
    return buffer;
}
