// The chaining modes the program never uses: CBC, block-wide CFB, OFB and
// CTR over any 128-bit block transform, and the dispatch on CipherMode that
// reaches them. The chat and the file transfer use 8-bit CFB alone
// (blockciphers.cpp and rijndael.cpp); these stay for the library's
// completeness and keep their known-answer tests.

#include "cipher/blockciphers.h"
#include "secure/securewipe.h"

#include <cstring>

void TBlockCipher::EncryptBytes(const void* input, void* output, uint32_t size) {
    switch (CipherMode) {
        case cmCBC: CbcEncrypt(input, output, size); break;
        case cmCFB8bit: Cfb8Encrypt(input, output, size); break;
        case cmCFBblock: CfbBlockEncrypt(input, output, size); break;
        case cmOFB: OfbEncrypt(input, output, size); break;
        case cmCTR: CtrEncrypt(input, output, size); break;
        default: break;
    }
}

void TBlockCipher::DecryptBytes(const void* input, void* output, uint32_t size) {
    switch (CipherMode) {
        case cmCBC: CbcDecrypt(input, output, size); break;
        case cmCFB8bit: Cfb8Decrypt(input, output, size); break;
        case cmCFBblock: CfbBlockDecrypt(input, output, size); break;
        case cmOFB: OfbDecrypt(input, output, size); break;
        case cmCTR: CtrDecrypt(input, output, size); break;
        default: break;
    }
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
    TScopedWipe guard{block, sizeof block};
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
    TScopedWipe guard{block, sizeof block};
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
    TScopedWipe guard{keystream, sizeof keystream};
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
