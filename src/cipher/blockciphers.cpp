#include "cipher/blockciphers.h"

#include "cipher/cryptconst.h"
#include "secure/securewipe.h"

#include <cstring>

TBlockCipher128::TBlockCipher128() {
    // The base constructor cannot reach this Wipe, so start wiped here.
    TBlockCipher128::Wipe();
}

TBlockCipher128::~TBlockCipher128() {
    if (Ready) TBlockCipher128::Wipe();
}

void TBlockCipher128::CheckReady() const {
    if (!Ready) throw EBlockCipher(cryptconst::SCipherNotInitialized);
}

void TBlockCipher128::SetKey(const void* key, uint32_t sizeInBits, const void* initVector) {
    TCipher::SetKey(key, sizeInBits, initVector);
    PrepareKey(key, sizeInBits);
    if (initVector == nullptr) {
        std::memset(InitVector, 0, sizeof InitVector);
        EncryptBlock(InitVector, InitVector);
    } else {
        std::memcpy(InitVector, initVector, sizeof InitVector);
    }
    Restart();
}

void TBlockCipher128::Wipe() {
    SecureWipe(InitVector, sizeof InitVector, 0xFF);
    SecureWipe(ChainValue, sizeof ChainValue, 0xFF);
    TBlockCipher::Wipe();
}

void TBlockCipher128::Restart() {
    CheckReady();
    std::memcpy(ChainValue, InitVector, sizeof ChainValue);
}

void TBlockCipher128::LoadIV(const void* block) {
    CheckReady();
    std::memmove(InitVector, block, sizeof InitVector);
    Restart();
}

void TBlockCipher128::GetChainValue(void* block) {
    CheckReady();
    std::memmove(block, ChainValue, sizeof ChainValue);
}

void TBlockCipher128::Cfb8Encrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    uint8_t keystream[16];
    TScopedWipe guard{keystream, sizeof keystream};
    for (uint32_t i = 0; i < size; ++i) {
        EncryptBlock(ChainValue, keystream);
        const auto c = static_cast<uint8_t>(in[i] ^ keystream[0]);
        std::memmove(ChainValue, ChainValue + 1, 15);
        ChainValue[15] = c;
        out[i] = c;
    }
}

void TBlockCipher128::Cfb8Decrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    uint8_t keystream[16];
    TScopedWipe guard{keystream, sizeof keystream};
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t c = in[i];
        EncryptBlock(ChainValue, keystream);
        out[i] = static_cast<uint8_t>(c ^ keystream[0]);
        std::memmove(ChainValue, ChainValue + 1, 15);
        ChainValue[15] = c;
    }
}
