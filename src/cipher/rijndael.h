#pragma once
// Rijndael with a 128-bit block, that is AES: the key schedule and the block
// transform; all chaining comes from TBlockCipher128.
//
// Where the processor has AES instructions they do the work; the
// table-driven transform is the fallback and gives the same bytes.

#include "cipher/blockciphers.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TRijndael : public TBlockCipher128 {
public:
    TRijndael();
    ~TRijndael() override;

    static int32_t Id() { return 9; }
    static std::string Algorithm() { return "Rijndael"; }
    static int32_t MaxKeySize() { return 256; }
    // Known answers of FIPS-197 for all three key sizes, both directions.
    static bool SelfCheck();

    const TCipherClass& ClassType() const override { return CipherClassOf<TRijndael>(); }

    void Wipe() override;
    // Takes the whole bytes of the key, zero-extends them to 16, 24 or 32
    // bytes and expands them; bits past the last whole byte are ignored.
    void PrepareKey(const void* key, uint32_t sizeInBits) override;
    void EncryptBlock(const void* input, void* output) override;
    void DecryptBlock(const void* input, void* output) override;

    // The session's hot path: byte-at-a-time feedback without a virtual call
    // per byte, and decryption many bytes at a time since all ciphertext is
    // known up front.
    void Cfb8Encrypt(const void* input, void* output, uint32_t size) override;
    void Cfb8Decrypt(const void* input, void* output, uint32_t size) override;

    // One stream of Cfb8EncryptMany: size bytes from input to output,
    // chained from Cipher's current register.
    struct TCfb8Stream {
        TRijndael* Cipher;
        const void* Input;
        void* Output;
        std::size_t Size;
    };
    // Leaves every stream's output and cipher exactly as Cfb8Encrypt over it
    // alone would. Streams whose ciphers use the instructions run up to eight
    // at a time side by side, which hides the latency of the one-byte
    // feedback. Each cipher appears at most once and no two streams overlap;
    // "Cipher not initialized" comes before any byte is written.
    static void Cfb8EncryptMany(const TCfb8Stream* streams, std::size_t count);

    // True when this processor has the AES instructions.
    static bool HardwareAvailable();
    // Chooses the instructions (when available) or the tables for this
    // object; returns whether the instructions are now in use.
    bool UseHardware(bool enable);
    bool UsingHardware() const noexcept { return Hardware; }

    int32_t GetRounds() const noexcept { return Rounds; }

protected:
    int32_t Rounds = 0;
    uint32_t EncRoundKeys[15][8] = {};
    uint32_t DecRoundKeys[15][8] = {};

private:
    bool Hardware;
};
