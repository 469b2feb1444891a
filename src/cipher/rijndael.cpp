#include "cipher/rijndael.h"

#include "cipher/cpufeatures.h"
#include "cipher/rijndael_tables.h"
#include "secure/securewipe.h"

#ifdef QUELLMERE_AESNI
#include "cipher/rijndael_aesni.h"
#endif

#include <algorithm>
#include <cstring>
#include <vector>

using namespace rijndael_tables;

namespace {

inline uint32_t Load32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

inline void Store32(uint8_t* p, uint32_t w) {
    p[0] = static_cast<uint8_t>(w);
    p[1] = static_cast<uint8_t>(w >> 8);
    p[2] = static_cast<uint8_t>(w >> 16);
    p[3] = static_cast<uint8_t>(w >> 24);
}

inline uint8_t B(uint32_t w, int k) { return static_cast<uint8_t>(w >> (8 * k)); }

inline uint32_t SubWord(uint32_t w) { return Word(Sbox[B(w, 0)], Sbox[B(w, 1)], Sbox[B(w, 2)], Sbox[B(w, 3)]); }

void TableEncrypt(const uint32_t (*rk)[8], int rounds, const uint8_t* in, uint8_t* out) {
    uint32_t s0 = Load32(in) ^ rk[0][0];
    uint32_t s1 = Load32(in + 4) ^ rk[0][1];
    uint32_t s2 = Load32(in + 8) ^ rk[0][2];
    uint32_t s3 = Load32(in + 12) ^ rk[0][3];
    for (int r = 1; r < rounds; ++r) {
        // ShiftRows takes row k of column j from column j + k.
        const uint32_t t0 = Te[0][B(s0, 0)] ^ Te[1][B(s1, 1)] ^ Te[2][B(s2, 2)] ^ Te[3][B(s3, 3)] ^ rk[r][0];
        const uint32_t t1 = Te[0][B(s1, 0)] ^ Te[1][B(s2, 1)] ^ Te[2][B(s3, 2)] ^ Te[3][B(s0, 3)] ^ rk[r][1];
        const uint32_t t2 = Te[0][B(s2, 0)] ^ Te[1][B(s3, 1)] ^ Te[2][B(s0, 2)] ^ Te[3][B(s1, 3)] ^ rk[r][2];
        const uint32_t t3 = Te[0][B(s3, 0)] ^ Te[1][B(s0, 1)] ^ Te[2][B(s1, 2)] ^ Te[3][B(s2, 3)] ^ rk[r][3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const uint32_t* last = rk[rounds];
    Store32(out, Word(Sbox[B(s0, 0)], Sbox[B(s1, 1)], Sbox[B(s2, 2)], Sbox[B(s3, 3)]) ^ last[0]);
    Store32(out + 4, Word(Sbox[B(s1, 0)], Sbox[B(s2, 1)], Sbox[B(s3, 2)], Sbox[B(s0, 3)]) ^ last[1]);
    Store32(out + 8, Word(Sbox[B(s2, 0)], Sbox[B(s3, 1)], Sbox[B(s0, 2)], Sbox[B(s1, 3)]) ^ last[2]);
    Store32(out + 12, Word(Sbox[B(s3, 0)], Sbox[B(s0, 1)], Sbox[B(s1, 2)], Sbox[B(s2, 3)]) ^ last[3]);
}

void TableDecrypt(const uint32_t (*dk)[8], int rounds, const uint8_t* in, uint8_t* out) {
    uint32_t s0 = Load32(in) ^ dk[rounds][0];
    uint32_t s1 = Load32(in + 4) ^ dk[rounds][1];
    uint32_t s2 = Load32(in + 8) ^ dk[rounds][2];
    uint32_t s3 = Load32(in + 12) ^ dk[rounds][3];
    for (int r = rounds - 1; r > 0; --r) {
        // InvShiftRows takes row k of column j from column j - k.
        const uint32_t t0 = Td[0][B(s0, 0)] ^ Td[1][B(s3, 1)] ^ Td[2][B(s2, 2)] ^ Td[3][B(s1, 3)] ^ dk[r][0];
        const uint32_t t1 = Td[0][B(s1, 0)] ^ Td[1][B(s0, 1)] ^ Td[2][B(s3, 2)] ^ Td[3][B(s2, 3)] ^ dk[r][1];
        const uint32_t t2 = Td[0][B(s2, 0)] ^ Td[1][B(s1, 1)] ^ Td[2][B(s0, 2)] ^ Td[3][B(s3, 3)] ^ dk[r][2];
        const uint32_t t3 = Td[0][B(s3, 0)] ^ Td[1][B(s2, 1)] ^ Td[2][B(s1, 2)] ^ Td[3][B(s0, 3)] ^ dk[r][3];
        s0 = t0;
        s1 = t1;
        s2 = t2;
        s3 = t3;
    }
    const uint32_t* last = dk[0];
    Store32(out, Word(InvSbox[B(s0, 0)], InvSbox[B(s3, 1)], InvSbox[B(s2, 2)], InvSbox[B(s1, 3)]) ^ last[0]);
    Store32(out + 4, Word(InvSbox[B(s1, 0)], InvSbox[B(s0, 1)], InvSbox[B(s3, 2)], InvSbox[B(s2, 3)]) ^ last[1]);
    Store32(out + 8, Word(InvSbox[B(s2, 0)], InvSbox[B(s1, 1)], InvSbox[B(s0, 2)], InvSbox[B(s3, 3)]) ^ last[2]);
    Store32(out + 12, Word(InvSbox[B(s3, 0)], InvSbox[B(s2, 1)], InvSbox[B(s1, 2)], InvSbox[B(s0, 3)]) ^ last[3]);
}

// One byte of 8-bit CFB at a time on the table path; the register lives in a
// local so the compiler can keep it out of the object.
template <bool Encrypting>
void TableCfb8(const uint32_t (*rk)[8], int rounds, uint8_t* chain, const uint8_t* in, uint8_t* out, uint32_t size) {
    uint8_t reg[16];
    uint8_t keystream[16];
    std::memcpy(reg, chain, 16);
    for (uint32_t i = 0; i < size; ++i) {
        const uint8_t x = in[i];
        TableEncrypt(rk, rounds, reg, keystream);
        const auto y = static_cast<uint8_t>(x ^ keystream[0]);
        std::memmove(reg, reg + 1, 15);
        reg[15] = Encrypting ? y : x;
        out[i] = y;
    }
    std::memcpy(chain, reg, 16);
    SecureWipe(keystream, sizeof keystream);
}

}  // namespace

bool TRijndael::HardwareAvailable() {
#ifdef QUELLMERE_AESNI
    return cpufeatures::AesKernelsSupported();
#else
    return false;
#endif
}

TRijndael::TRijndael() : Hardware(HardwareAvailable()) {
    // Rounds and both schedules start zero; the base set up its vectors.
}

TRijndael::~TRijndael() {
    if (Ready) TRijndael::Wipe();
}

bool TRijndael::UseHardware(bool enable) {
    Hardware = enable && HardwareAvailable();
    return Hardware;
}

void TRijndael::Wipe() {
    Rounds = 0;
    SecureWipe(EncRoundKeys, sizeof EncRoundKeys);
    SecureWipe(DecRoundKeys, sizeof DecRoundKeys);
    TBlockCipher128::Wipe();
}

void TRijndael::PrepareKey(const void* key, uint32_t sizeInBits) {
    const uint32_t keyBytes = sizeInBits / 8 > 32 ? 32 : sizeInBits / 8;
    uint8_t workArea[32] = {};
    std::memcpy(workArea, key, keyBytes);

    int nk;
    if (keyBytes <= 16) {
        nk = 4;
        Rounds = 10;
    } else if (keyBytes <= 24) {
        nk = 6;
        Rounds = 12;
    } else {
        nk = 8;
        Rounds = 14;
    }

    uint32_t w[60];
    const int total = 4 * (Rounds + 1);
    for (int i = 0; i < nk; ++i) w[i] = Load32(workArea + 4 * i);
    // Walks the words one key length at a time rather than testing i % nk,
    // since the schedule runs for every message.
    for (int i = nk, rcon = 1; i < total; ++rcon) {
        // RotWord moves byte 1 to byte 0: a right rotation of our words.
        w[i] = w[i - nk] ^ SubWord((w[i - 1] >> 8) | (w[i - 1] << 24)) ^ Rcon[rcon];
        ++i;
        for (int j = 1; j < nk && i < total; ++j, ++i) {
            const uint32_t temp = (nk > 6 && j == 4) ? SubWord(w[i - 1]) : w[i - 1];
            w[i] = w[i - nk] ^ temp;
        }
    }

    // Rows past Rounds and words 4..7 of every row stay zero.
    SecureWipe(EncRoundKeys, sizeof EncRoundKeys);
    SecureWipe(DecRoundKeys, sizeof DecRoundKeys);
    for (int r = 0; r <= Rounds; ++r) {
        for (int c = 0; c < 4; ++c) {
            const uint32_t v = w[4 * r + c];
            EncRoundKeys[r][c] = v;
            // Inner rows of the equivalent inverse cipher get InvMixColumns.
            DecRoundKeys[r][c] =
                (r == 0 || r == Rounds) ? v : Tk[0][B(v, 0)] ^ Tk[1][B(v, 1)] ^ Tk[2][B(v, 2)] ^ Tk[3][B(v, 3)];
        }
    }
    SecureWipe(w, sizeof w);
    SecureWipe(workArea, sizeof workArea);
}

void TRijndael::EncryptBlock(const void* input, void* output) {
    CheckReady();
#ifdef QUELLMERE_AESNI
    if (Hardware) {
        rijndael_aesni::EncryptBlock(EncRoundKeys, Rounds, static_cast<const uint8_t*>(input),
                                     static_cast<uint8_t*>(output));
        return;
    }
#endif
    TableEncrypt(EncRoundKeys, Rounds, static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output));
}

void TRijndael::DecryptBlock(const void* input, void* output) {
    CheckReady();
#ifdef QUELLMERE_AESNI
    if (Hardware) {
        rijndael_aesni::DecryptBlock(DecRoundKeys, Rounds, static_cast<const uint8_t*>(input),
                                     static_cast<uint8_t*>(output));
        return;
    }
#endif
    TableDecrypt(DecRoundKeys, Rounds, static_cast<const uint8_t*>(input), static_cast<uint8_t*>(output));
}

void TRijndael::Cfb8Encrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
#ifdef QUELLMERE_AESNI
    if (Hardware) {
        rijndael_aesni::Cfb8Encrypt(EncRoundKeys, Rounds, ChainValue, in, out, size);
        return;
    }
#endif
    TableCfb8<true>(EncRoundKeys, Rounds, ChainValue, in, out, size);
}

void TRijndael::Cfb8Decrypt(const void* input, void* output, uint32_t size) {
    CheckReady();
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
#ifdef QUELLMERE_AESNI
    if (Hardware) {
        rijndael_aesni::Cfb8Decrypt(EncRoundKeys, Rounds, ChainValue, in, out, size);
        return;
    }
#endif
    TableCfb8<false>(EncRoundKeys, Rounds, ChainValue, in, out, size);
}

void TRijndael::Cfb8EncryptMany(const TCfb8Stream* streams, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) streams[i].Cipher->CheckReady();
#ifdef QUELLMERE_AESNI
    // The interleaved kernel wants one round count per call.
    std::vector<rijndael_aesni::Cfb8Stream> byRounds[3];
#endif
    for (std::size_t i = 0; i < count; ++i) {
        TRijndael& c = *streams[i].Cipher;
        const auto* in = static_cast<const uint8_t*>(streams[i].Input);
        auto* out = static_cast<uint8_t*>(streams[i].Output);
#ifdef QUELLMERE_AESNI
        if (c.Hardware) {
            byRounds[(c.Rounds - 10) / 2].push_back({c.EncRoundKeys, c.ChainValue, in, out, streams[i].Size});
            continue;
        }
#endif
        // The table path gains nothing from interleaving; its byte count is
        // 32 bits wide, so long streams go in pieces.
        constexpr std::size_t kPiece = std::size_t{1} << 30;
        for (std::size_t at = 0; at < streams[i].Size; at += kPiece) {
            const auto piece = static_cast<uint32_t>(std::min(kPiece, streams[i].Size - at));
            TableCfb8<true>(c.EncRoundKeys, c.Rounds, c.ChainValue, in + at, out + at, piece);
        }
    }
#ifdef QUELLMERE_AESNI
    for (int g = 0; g < 3; ++g) {
        if (!byRounds[g].empty())
            rijndael_aesni::Cfb8EncryptInterleaved(10 + 2 * g, byRounds[g].data(), byRounds[g].size());
    }
#endif
}

namespace {

struct KnownAnswer {
    uint8_t Key[32];
    uint32_t KeyBits;
    uint8_t Plain[16];
    uint8_t Cipher[16];
};

// FIPS-197, Appendix C.1 to C.3.
constexpr KnownAnswer kKnownAnswers[3] = {
    {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f},
     128,
     {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
     {0x69, 0xc4, 0xe0, 0xd8, 0x6a, 0x7b, 0x04, 0x30, 0xd8, 0xcd, 0xb7, 0x80, 0x70, 0xb4, 0xc5, 0x5a}},
    {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b,
      0x0c, 0x0d, 0x0e, 0x0f, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17},
     192,
     {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
     {0xdd, 0xa9, 0x7c, 0xa4, 0x86, 0x4c, 0xdf, 0xe0, 0x6e, 0xaf, 0x70, 0xa0, 0xec, 0x0d, 0x71, 0x91}},
    {{0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f,
      0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f},
     256,
     {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff},
     {0x8e, 0xa2, 0xb7, 0xca, 0x51, 0x67, 0x45, 0xbf, 0xea, 0xfc, 0x49, 0x90, 0x4b, 0x49, 0x60, 0x89}},
};

bool RunKnownAnswers(TRijndael& cipher) {
    bool allMatched = true;
    for (const KnownAnswer& v : kKnownAnswers) {
        uint8_t block[16];
        cipher.SetKey(v.Key, v.KeyBits, nullptr);
        cipher.EncryptBlock(v.Plain, block);
        allMatched &= std::memcmp(block, v.Cipher, 16) == 0;
        cipher.DecryptBlock(block, block);
        cipher.Wipe();
        allMatched &= std::memcmp(block, v.Plain, 16) == 0;
    }
    return allMatched;
}

}  // namespace

bool TRijndael::SelfCheck() {
    try {
        TRijndael cipher;
        bool passed = RunKnownAnswers(cipher);
        // Both transforms must hold: the tables serve processors without the
        // instructions, and this is where that gets exercised.
        if (cipher.UsingHardware()) {
            cipher.UseHardware(false);
            passed &= RunKnownAnswers(cipher);
        }
        return passed;
    } catch (...) {
        return false;
    }
}
