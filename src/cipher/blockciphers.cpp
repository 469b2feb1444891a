#include "cipher/blockciphers.h"

#include "cipher/cryptconst.h"
#include "secure/securewipe.h"

#include <cstring>

namespace {

// Clears a local that held keystream or plaintext when the scope ends.
struct ScopedWipe {
    void* Memory;
    std::size_t Size;
    ~ScopedWipe() { SecureWipe(Memory, Size); }
};

}  // namespace

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

void TBlockCipher128::StepCounter() {
    for (int i = 15; i >= 0; --i) {
        if (++ChainValue[i] != 0) break;
    }
}

void TBlockCipher128::KeystreamTail(const uint8_t* input, uint8_t* output, uint32_t size) {
    EncryptBlock(ChainValue, ChainValue);
    for (uint32_t j = 0; j < size; ++j) output[j] = static_cast<uint8_t>(input[j] ^ ChainValue[j]);
}

void TBlockCipher128::CbcEncrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    uint8_t block[16];
    ScopedWipe guard{block, sizeof block};
    for (uint32_t n = size / 16; n > 0; --n, in += 16, out += 16) {
        std::memcpy(block, in, 16);
        XorInto(block, ChainValue, 16);
        EncryptBlock(block, ChainValue);
        std::memcpy(out, ChainValue, 16);
    }
    if (size % 16 != 0) KeystreamTail(in, out, size % 16);
}

void TBlockCipher128::CbcDecrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    uint8_t saved[16];
    uint8_t block[16];
    ScopedWipe guard{block, sizeof block};
    for (uint32_t n = size / 16; n > 0; --n, in += 16, out += 16) {
        std::memcpy(saved, in, 16);
        DecryptBlock(saved, block);
        XorInto(block, ChainValue, 16);
        std::memcpy(out, block, 16);
        std::memcpy(ChainValue, saved, 16);
    }
    if (size % 16 != 0) KeystreamTail(in, out, size % 16);
}

void TBlockCipher128::CfbBlockEncrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    for (uint32_t n = size / 16; n > 0; --n, in += 16, out += 16) {
        EncryptBlock(ChainValue, ChainValue);
        XorInto(ChainValue, in, 16);
        std::memcpy(out, ChainValue, 16);
    }
    if (size % 16 != 0) KeystreamTail(in, out, size % 16);
}

void TBlockCipher128::CfbBlockDecrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    uint8_t saved[16];
    for (uint32_t n = size / 16; n > 0; --n, in += 16, out += 16) {
        std::memcpy(saved, in, 16);
        EncryptBlock(ChainValue, ChainValue);
        for (int j = 0; j < 16; ++j) out[j] = static_cast<uint8_t>(saved[j] ^ ChainValue[j]);
        std::memcpy(ChainValue, saved, 16);
    }
    if (size % 16 != 0) KeystreamTail(in, out, size % 16);
}

void TBlockCipher128::OfbStream(const uint8_t* in, uint8_t* out, uint32_t size) {
    CheckReady();
    for (uint32_t n = size / 16; n > 0; --n, in += 16, out += 16) {
        EncryptBlock(ChainValue, ChainValue);
        for (int j = 0; j < 16; ++j) out[j] = static_cast<uint8_t>(in[j] ^ ChainValue[j]);
    }
    if (size % 16 != 0) KeystreamTail(in, out, size % 16);
}

void TBlockCipher128::OfbEncrypt(const void* input, void* output, uint32_t size) {
    OfbStream(static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output), size);
}

void TBlockCipher128::OfbDecrypt(const void* input, void* output, uint32_t size) {
    OfbStream(static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output), size);
}

void TBlockCipher128::CtrStream(const uint8_t* in, uint8_t* out, uint32_t size) {
    CheckReady();
    uint8_t keystream[16];
    ScopedWipe guard{keystream, sizeof keystream};
    for (uint32_t n = size / 16; n > 0; --n, in += 16, out += 16) {
        EncryptBlock(ChainValue, keystream);
        StepCounter();
        for (int j = 0; j < 16; ++j) out[j] = static_cast<uint8_t>(in[j] ^ keystream[j]);
    }
    if (const uint32_t tail = size % 16; tail != 0) {
        EncryptBlock(ChainValue, keystream);
        StepCounter();
        for (uint32_t j = 0; j < tail; ++j) out[j] = static_cast<uint8_t>(in[j] ^ keystream[j]);
    }
}

void TBlockCipher128::CtrEncrypt(const void* input, void* output, uint32_t size) {
    CtrStream(static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output), size);
}

void TBlockCipher128::CtrDecrypt(const void* input, void* output, uint32_t size) {
    CtrStream(static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output), size);
}

void TBlockCipher128::Cfb8Encrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
    uint8_t keystream[16];
    ScopedWipe guard{keystream, sizeof keystream};
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
    ScopedWipe guard{keystream, sizeof keystream};
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t c = in[i];
        EncryptBlock(ChainValue, keystream);
        out[i] = static_cast<uint8_t>(c ^ keystream[0]);
        std::memmove(ChainValue, ChainValue + 1, 15);
        ChainValue[15] = c;
    }
}
