#pragma once
// SHA-256 of FIPS 180-2: the digest of the session key text is the AES key of
// every message, so it must match the standard on every input.

#include "cipher/cryptbase.h"

#include <cstdint>
#include <string>

class TSha256 : public THash {
public:
    TSha256() = default;
    ~TSha256() override;

    static int32_t Id() { return 28; }
    static std::string Algorithm() { return "SHA256"; }
    static int32_t HashSize() { return 256; }
    // Known answers of FIPS 180-2 ("abc" and the 56-byte message).
    static bool SelfCheck();
    // This class as a value, for SetKeyFromText.
    static const THashClass& Class() { return HashClassOf<TSha256>(); }

    const THashClass& ClassType() const override { return HashClassOf<TSha256>(); }

    void Initialize() override;
    // Writes 32 bytes, then wipes; "Hash not initialized" unless Ready.
    void Finish(void* digest) override;
    void Wipe() override;
    // "Hash not initialized" unless Ready, even for size 0.
    void AddBytes(const void* buffer, uint32_t size) override;

    // True when this processor has the SHA instructions.
    static bool HardwareAvailable();
    // Chooses the instructions (when available) or plain code for this
    // object; returns whether the instructions are now in use.
    bool UseHardware(bool enable);

protected:
    uint32_t BitCountHigh = 0;
    uint32_t BitCountLow = 0;
    uint32_t BufferFill = 0;
    uint32_t ChainState[8] = {};
    uint8_t BlockBuffer[64] = {};

private:
    void Compress();
    bool Hardware = HardwareAvailable();
};
