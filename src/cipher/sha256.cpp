#include "cipher/sha256.h"

#include "cipher/cpufeatures.h"
#include "cipher/sha256_constants.h"

#include "cipher/cryptconst.h"
#include "secure/securewipe.h"

#ifdef QUELLMERE_SHANI
#include "cipher/sha256_shani.h"
#endif

#include <cstring>

namespace {

constexpr uint32_t kInitial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                  0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

using sha256_constants::kRound;

inline uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

void PortableCompress(uint32_t state[8], const uint8_t block[64]) {
    uint32_t w[64];
    for (int t = 0; t < 16; ++t)
        w[t] = uint32_t{block[4 * t]} << 24 | uint32_t{block[4 * t + 1]} << 16 | uint32_t{block[4 * t + 2]} << 8 |
               uint32_t{block[4 * t + 3]};
    for (int t = 16; t < 64; ++t) {
        const uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        const uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + ((e & f) ^ (~e & g)) + kRound[t] + w[t];
        const uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
    SecureWipe(w, sizeof w);
}

}  // namespace

bool TSha256::HardwareAvailable() {
#ifdef QUELLMERE_SHANI
    return cpufeatures::ShaKernelSupported();
#else
    return false;
#endif
}

bool TSha256::UseHardware(bool enable) {
    Hardware = enable && HardwareAvailable();
    return Hardware;
}

TSha256::~TSha256() {
    if (Ready) TSha256::Wipe();
}

void TSha256::Compress() {
#ifdef QUELLMERE_SHANI
    if (Hardware)
        sha256_shani::Compress(ChainState, BlockBuffer);
    else
#endif
        PortableCompress(ChainState, BlockBuffer);
    SecureWipe(BlockBuffer, sizeof BlockBuffer);
    BufferFill = 0;
}

void TSha256::Initialize() {
    Wipe();
    std::memcpy(ChainState, kInitial, sizeof ChainState);
    Ready = true;
}

void TSha256::AddBytes(const void* buffer, uint32_t size) {
    if (!Ready) throw EHash(cryptconst::SHashNotInitialized);
    const uint32_t bits = size << 3;
    BitCountHigh += size >> 29;
    BitCountLow += bits;
    if (BitCountLow < bits) ++BitCountHigh;

    const auto* in = static_cast<const uint8_t*>(buffer);
    uint32_t remaining = size;
    while (remaining > 0) {
        const uint32_t room = 64 - BufferFill;
        if (remaining >= room) {
            std::memcpy(BlockBuffer + BufferFill, in, room);
            in += room;
            remaining -= room;
            Compress();
        } else {
            std::memcpy(BlockBuffer + BufferFill, in, remaining);
            BufferFill += remaining;
            remaining = 0;
        }
    }
}

void TSha256::Finish(void* digest) {
    if (!Ready) throw EHash(cryptconst::SHashNotInitialized);
    BlockBuffer[BufferFill] = 0x80;
    if (BufferFill >= 56) Compress();
    for (int k = 0; k < 4; ++k) {
        BlockBuffer[56 + k] = static_cast<uint8_t>(BitCountHigh >> (24 - 8 * k));
        BlockBuffer[60 + k] = static_cast<uint8_t>(BitCountLow >> (24 - 8 * k));
    }
    Compress();
    auto* out = static_cast<uint8_t*>(digest);
    for (int i = 0; i < 8; ++i)
        for (int k = 0; k < 4; ++k) out[4 * i + k] = static_cast<uint8_t>(ChainState[i] >> (24 - 8 * k));
    Wipe();
}

void TSha256::Wipe() {
    BitCountHigh = 0;
    BitCountLow = 0;
    BufferFill = 0;
    SecureWipe(BlockBuffer, sizeof BlockBuffer);
    SecureWipe(ChainState, sizeof ChainState);
    Ready = false;
}

namespace {

constexpr uint8_t kAbcDigest[32] = {0xba, 0x78, 0x16, 0xbf, 0x8f, 0x01, 0xcf, 0xea, 0x41, 0x41, 0x40,
                                    0xde, 0x5d, 0xae, 0x22, 0x23, 0xb0, 0x03, 0x61, 0xa3, 0x96, 0x17,
                                    0x7a, 0x9c, 0xb4, 0x10, 0xff, 0x61, 0xf2, 0x00, 0x15, 0xad};
constexpr uint8_t kTwoBlockDigest[32] = {0x24, 0x8d, 0x6a, 0x61, 0xd2, 0x06, 0x38, 0xb8, 0xe5, 0xc0, 0x26,
                                         0x93, 0x0c, 0x3e, 0x60, 0x39, 0xa3, 0x3c, 0xe4, 0x59, 0x64, 0xff,
                                         0x21, 0x67, 0xf6, 0xec, 0xed, 0xd4, 0x19, 0xdb, 0x06, 0xc1};

bool RunKnownAnswers(TSha256& hash) {
    uint8_t digest[32];
    hash.Initialize();
    hash.AddText("abc");
    hash.Finish(digest);
    bool passed = std::memcmp(digest, kAbcDigest, 32) == 0;
    hash.Initialize();
    hash.AddText("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq");
    hash.Finish(digest);
    passed &= std::memcmp(digest, kTwoBlockDigest, 32) == 0;
    return passed;
}

}  // namespace

bool TSha256::SelfCheck() {
    try {
        TSha256 hash;
        bool passed = RunKnownAnswers(hash);
        // Also hold the plain code to the known answers when the instructions
        // would otherwise hide it.
        if (hash.Hardware) {
            hash.UseHardware(false);
            passed &= RunKnownAnswers(hash);
        }
        return passed;
    } catch (...) {
        return false;
    }
}
