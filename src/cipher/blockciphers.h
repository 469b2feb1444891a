#pragma once
// The 128-bit block layer: initial vector, chaining value and the five
// chaining modes over any block transform that a descendant supplies.

#include "cipher/cryptbase.h"

#include <cstdint>

class TBlockCipher128 : public TBlockCipher {
public:
    TBlockCipher128();
    ~TBlockCipher128() override;

    static int32_t BlockSize() { return 128; }

    const TCipherClass& ClassType() const override { return CipherClassOf<TBlockCipher128>(); }

    // Keys, then takes the given 16-byte vector, or derives it as the
    // encryption of the zero block when initVector is null; then Restart.
    void SetKey(const void* key, uint32_t sizeInBits, const void* initVector) override;
    // Both vectors become 0xFF bytes and the object is no longer Ready.
    void Wipe() override;
    void Restart() override;
    void LoadIV(const void* block) override;
    void GetChainValue(void* block) override;

    // 8-bit CFB: what the chat and the file transfer use.
    void Cfb8Encrypt(const void* input, void* output, uint32_t size) override;
    void Cfb8Decrypt(const void* input, void* output, uint32_t size) override;

    // Kept, not used by the program: cipher/kept/chainingmodes.cpp.
    void CbcEncrypt(const void* input, void* output, uint32_t size) override;
    void CbcDecrypt(const void* input, void* output, uint32_t size) override;
    void CfbBlockEncrypt(const void* input, void* output, uint32_t size) override;
    void CfbBlockDecrypt(const void* input, void* output, uint32_t size) override;
    void OfbEncrypt(const void* input, void* output, uint32_t size) override;
    void OfbDecrypt(const void* input, void* output, uint32_t size) override;
    void CtrEncrypt(const void* input, void* output, uint32_t size) override;
    void CtrDecrypt(const void* input, void* output, uint32_t size) override;

    // ChainValue + 1 as a big-endian 128-bit number; all-0xFF wraps to zero.
    void StepCounter();

protected:
    // Raises "Cipher not initialized" unless a key is installed.
    void CheckReady() const;

    uint8_t InitVector[16];
    uint8_t ChainValue[16];

private:
    // C := E(C); output := input XOR the first size bytes of C.
    void KeystreamTail(const uint8_t* input, uint8_t* output, uint32_t size);
    // The shared loop of OFB and CTR, which are their own inverse.
    void OfbStream(const uint8_t* input, uint8_t* output, uint32_t size);
    void CtrStream(const uint8_t* input, uint8_t* output, uint32_t size);
};
