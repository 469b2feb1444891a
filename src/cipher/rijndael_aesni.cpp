// Compiled with -maes -msse4.1; reached only after a run-time check.
#include "cipher/rijndael_aesni.h"

#include <immintrin.h>

#include <cstring>

namespace rijndael_aesni {
namespace {

template <int Rounds>
struct Keys {
    __m128i k[Rounds + 1];
    explicit Keys(const uint32_t (*rk)[8]) {
        for (int r = 0; r <= Rounds; ++r) k[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk[r]));
    }
};

template <int Rounds>
inline __m128i Encrypt(const Keys<Rounds>& keys, __m128i b) {
    b = _mm_xor_si128(b, keys.k[0]);
    for (int r = 1; r < Rounds; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
    return _mm_aesenclast_si128(b, keys.k[Rounds]);
}

template <int Rounds>
void EncryptBlockT(const uint32_t (*rk)[8], const uint8_t* in, uint8_t* out) {
    const Keys<Rounds> keys(rk);
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), Encrypt(keys, b));
}

template <int Rounds>
void DecryptBlockT(const uint32_t (*dk)[8], const uint8_t* in, uint8_t* out) {
    // The decryption schedule already holds InvMixColumns of the inner round
    // keys, which is what the instruction expects.
    const Keys<Rounds> keys(dk);
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    b = _mm_xor_si128(b, keys.k[Rounds]);
    for (int r = Rounds - 1; r > 0; --r) b = _mm_aesdec_si128(b, keys.k[r]);
    b = _mm_aesdeclast_si128(b, keys.k[0]);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), b);
}

// Encryption is one long dependency chain, so the point is to keep the chain
// short. The register is held whitened with round key 0 (s = R ^ k0). The
// plaintext byte and k0[15] are folded into byte 0 of the last round key, so
// the last round yields c ^ k0[15] in byte 0; moving that byte to position 15
// over the shifted register gives the next whitened register. After every 16
// bytes the register is the last 16 ciphertext bytes, stored in one go.
template <int Rounds>
void Cfb8EncryptT(const uint32_t (*rk)[8], uint8_t* chain, const uint8_t* in, uint8_t* out, std::size_t size) {
    const Keys<Rounds> keys(rk);
    const __m128i k0 = keys.k[0];
    const auto k0Top = static_cast<uint8_t>(_mm_extract_epi8(k0, 15));
    const __m128i topMask = _mm_srli_si128(_mm_set1_epi8(-1), 1);  // bytes 0..14
    // srli(R, 1) ^ k0 with byte 15 clear, from s = R ^ k0: srli(s,1) ^ shiftFix.
    const __m128i shiftFix = _mm_xor_si128(_mm_srli_si128(k0, 1), _mm_and_si128(k0, topMask));
    const __m128i lastKey = keys.k[Rounds];

    __m128i s = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chain)), k0);

    auto step = [&](uint8_t p) {
        __m128i base = _mm_xor_si128(_mm_srli_si128(s, 1), shiftFix);
        // Keeps the compiler from folding shiftFix in after the last round,
        // where it would lengthen the chain by one instruction per byte.
        __asm__("" : "+x"(base));
        const __m128i last = _mm_xor_si128(lastKey, _mm_cvtsi32_si128(static_cast<uint8_t>(p ^ k0Top)));
        __m128i b = s;
        for (int r = 1; r < Rounds; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
        b = _mm_aesenclast_si128(b, last);
        s = _mm_xor_si128(base, _mm_slli_si128(b, 15));
    };

    std::size_t i = 0;
    for (; i + 16 <= size; i += 16) {
        for (int j = 0; j < 16; ++j) step(in[i + j]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_xor_si128(s, k0));
    }
    const std::size_t rest = size - i;
    for (std::size_t j = 0; j < rest; ++j) step(in[i + j]);
    alignas(16) uint8_t reg[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(reg), _mm_xor_si128(s, k0));
    // The last rest ciphertext bytes are the top of the register.
    std::memcpy(out + i, reg + 16 - rest, rest);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(chain), _mm_xor_si128(s, k0));
}

// Decryption knows every register in advance (it is the 16 ciphertext bytes
// before the current one), so eight independent encryptions run side by side.
// The ciphertext goes through a local window first: that keeps the register
// history intact when output overwrites input, and puts the old register in
// front of the first bytes.
template <int Rounds>
void Cfb8DecryptT(const uint32_t (*rk)[8], uint8_t* chain, const uint8_t* in, uint8_t* out, std::size_t size) {
    const Keys<Rounds> keys(rk);
    constexpr std::size_t kWindow = 1024;
    alignas(16) uint8_t window[16 + kWindow];
    std::memcpy(window, chain, 16);

    while (size > 0) {
        const std::size_t m = size < kWindow ? size : kWindow;
        std::memcpy(window + 16, in, m);
        std::size_t i = 0;
        for (; i + 8 <= m; i += 8) {
            __m128i b[8];
            for (int j = 0; j < 8; ++j)
                b[j] = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(window + i + j)), keys.k[0]);
            for (int r = 1; r < Rounds; ++r)
                for (int j = 0; j < 8; ++j) b[j] = _mm_aesenc_si128(b[j], keys.k[r]);
            for (int j = 0; j < 8; ++j) b[j] = _mm_aesenclast_si128(b[j], keys.k[Rounds]);
            // Gather byte 0 of each of the eight blocks into one 64-bit lane.
            const __m128i u01 = _mm_unpacklo_epi8(b[0], b[1]);
            const __m128i u23 = _mm_unpacklo_epi8(b[2], b[3]);
            const __m128i u45 = _mm_unpacklo_epi8(b[4], b[5]);
            const __m128i u67 = _mm_unpacklo_epi8(b[6], b[7]);
            const __m128i v0 = _mm_unpacklo_epi16(u01, u23);
            const __m128i v1 = _mm_unpacklo_epi16(u45, u67);
            const __m128i keystream = _mm_unpacklo_epi32(v0, v1);
            const __m128i cipher = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(window + 16 + i));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_xor_si128(cipher, keystream));
        }
        for (; i < m; ++i) {
            const __m128i t = Encrypt(keys, _mm_loadu_si128(reinterpret_cast<const __m128i*>(window + i)));
            out[i] = static_cast<uint8_t>(window[16 + i] ^ static_cast<uint8_t>(_mm_cvtsi128_si32(t)));
        }
        // The last 16 ciphertext bytes seen are the next register.
        std::memmove(window, window + m, 16);
        in += m;
        out += m;
        size -= m;
    }
    std::memcpy(chain, window, 16);
}

}  // namespace

void EncryptBlock(const uint32_t (*roundKeys)[8], int rounds, const uint8_t* input, uint8_t* output) {
    switch (rounds) {
        case 10: EncryptBlockT<10>(roundKeys, input, output); break;
        case 12: EncryptBlockT<12>(roundKeys, input, output); break;
        default: EncryptBlockT<14>(roundKeys, input, output); break;
    }
}

void DecryptBlock(const uint32_t (*roundKeys)[8], int rounds, const uint8_t* input, uint8_t* output) {
    switch (rounds) {
        case 10: DecryptBlockT<10>(roundKeys, input, output); break;
        case 12: DecryptBlockT<12>(roundKeys, input, output); break;
        default: DecryptBlockT<14>(roundKeys, input, output); break;
    }
}

void Cfb8Encrypt(const uint32_t (*roundKeys)[8], int rounds, uint8_t* chain, const uint8_t* input,
                 uint8_t* output, std::size_t size) {
    switch (rounds) {
        case 10: Cfb8EncryptT<10>(roundKeys, chain, input, output, size); break;
        case 12: Cfb8EncryptT<12>(roundKeys, chain, input, output, size); break;
        default: Cfb8EncryptT<14>(roundKeys, chain, input, output, size); break;
    }
}

void Cfb8Decrypt(const uint32_t (*roundKeys)[8], int rounds, uint8_t* chain, const uint8_t* input,
                 uint8_t* output, std::size_t size) {
    switch (rounds) {
        case 10: Cfb8DecryptT<10>(roundKeys, chain, input, output, size); break;
        case 12: Cfb8DecryptT<12>(roundKeys, chain, input, output, size); break;
        default: Cfb8DecryptT<14>(roundKeys, chain, input, output, size); break;
    }
}

}  // namespace rijndael_aesni
