// Compiled with -msha -msse4.1; reached only after a run-time check.
#include "cipher/sha256_shani.h"

#include <immintrin.h>

#include "cipher/sha256_constants.h"

namespace sha256_shani {

using sha256_constants::kRound;

void Compress(uint32_t state[8], const uint8_t block[64]) {
    // Message words are big-endian; the instructions want the state as the
    // lane pairs ABEF and CDGH.
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    __m128i efgh = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(dcba, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, dcba, 0xF0);
    const __m128i abefSaved = abef;
    const __m128i cdghSaved = cdgh;

    __m128i w[4];
    for (int g = 0; g < 4; ++g)
        w[g] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * g)), byteSwap);

#pragma GCC unroll 16
    for (int g = 0; g < 16; ++g) {
        __m128i msg = _mm_add_epi32(w[g & 3], _mm_load_si128(reinterpret_cast<const __m128i*>(kRound + 4 * g)));
        cdgh = _mm_sha256rnds2_epu32(cdgh, abef, msg);
        if (g >= 3 && g <= 14) {
            // Schedule words of the next group.
            const __m128i next = _mm_add_epi32(w[(g + 1) & 3], _mm_alignr_epi8(w[g & 3], w[(g + 3) & 3], 4));
            w[(g + 1) & 3] = _mm_sha256msg2_epu32(next, w[g & 3]);
        }
        msg = _mm_shuffle_epi32(msg, 0x0E);
        abef = _mm_sha256rnds2_epu32(abef, cdgh, msg);
        if (g >= 1 && g <= 12) w[(g + 3) & 3] = _mm_sha256msg1_epu32(w[(g + 3) & 3], w[g & 3]);
    }

    abef = _mm_add_epi32(abef, abefSaved);
    cdgh = _mm_add_epi32(cdgh, cdghSaved);
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

}  // namespace sha256_shani
