// Compiled with -maes -msse4.1; reached only after a run-time check.
#include "cipher/rijndael_aesni.h"

#include "secure/securewipe.h"

#include <immintrin.h>

#include <algorithm>

#include <cstring>

namespace rijndael_aesni {
namespace {

inline __m128i RoundKey(const uint32_t (*rk)[8], int r) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(rk[r]));
}

// The round keys copied next to the loops that use them many times over;
// the copy is wiped when it goes.
template <int Rounds>
struct Keys {
    __m128i k[Rounds + 1];
    explicit Keys(const uint32_t (*rk)[8]) {
        for (int r = 0; r <= Rounds; ++r) k[r] = RoundKey(rk, r);
    }
    Keys(const Keys&) = delete;
    Keys& operator=(const Keys&) = delete;
    ~Keys() { SecureWipe(k, sizeof k); }
};

template <int Rounds>
inline __m128i Encrypt(const Keys<Rounds>& keys, __m128i b) {
    b = _mm_xor_si128(b, keys.k[0]);
    for (int r = 1; r < Rounds; ++r) b = _mm_aesenc_si128(b, keys.k[r]);
    return _mm_aesenclast_si128(b, keys.k[Rounds]);
}

// A single block takes each round key straight from the schedule: a local
// copy would gain nothing and would have to be wiped.
template <int Rounds>
void EncryptBlockT(const uint32_t (*rk)[8], const uint8_t* in, uint8_t* out) {
    __m128i b = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), RoundKey(rk, 0));
    for (int r = 1; r < Rounds; ++r) b = _mm_aesenc_si128(b, RoundKey(rk, r));
    b = _mm_aesenclast_si128(b, RoundKey(rk, Rounds));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), b);
}

template <int Rounds>
void DecryptBlockT(const uint32_t (*dk)[8], const uint8_t* in, uint8_t* out) {
    // The decryption schedule already holds InvMixColumns of the inner round
    // keys, which is what the instruction expects.
    __m128i b = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)), RoundKey(dk, Rounds));
    for (int r = Rounds - 1; r > 0; --r) b = _mm_aesdec_si128(b, RoundKey(dk, r));
    b = _mm_aesdeclast_si128(b, RoundKey(dk, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), b);
}

// Encryption is one long dependency chain, so the point is to keep the chain
// short. The register is held whitened with round key 0 (s = R ^ k0). The
// plaintext byte and k0[15] are folded into byte 0 of the last round key, so
// the last round yields c ^ k0[15] in byte 0; moving that byte to position 15
// over the shifted register gives the next whitened register. After every 16
// bytes the register is the last 16 ciphertext bytes, stored in one go.
template <int Rounds>
[[gnu::noinline]] void Cfb8EncryptT(const uint32_t (*rk)[8], uint8_t* chain, const uint8_t* in, uint8_t* out,
                                    std::size_t size) {
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
[[gnu::noinline]] void Cfb8DecryptT(const uint32_t (*rk)[8], uint8_t* chain, const uint8_t* in, uint8_t* out,
                                    std::size_t size) {
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

// Several independent encryption chains. One chain leaves the AES unit idle
// for most of each round's latency; with eight in flight it stays busy, so
// eight streams cost little more than one. Each lane runs the same step as
// Cfb8EncryptT on its own whitened register and keys.
constexpr int kMaxLanes = 8;

template <int Rounds>
struct Lane {
    __m128i K[Rounds + 1];
    __m128i ShiftFix;
    __m128i S;
    const uint8_t* In;
    uint8_t* Out;
    uint8_t* Chain;
    std::size_t Left;
    uint32_t K0Top;
};

template <int Rounds>
void LoadLane(Lane<Rounds>& lane, const Cfb8Stream& stream) {
    for (int r = 0; r <= Rounds; ++r)
        lane.K[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stream.RoundKeys[r]));
    const __m128i k0 = lane.K[0];
    lane.K0Top = static_cast<uint8_t>(_mm_extract_epi8(k0, 15));
    const __m128i topMask = _mm_srli_si128(_mm_set1_epi8(-1), 1);
    lane.ShiftFix = _mm_xor_si128(_mm_srli_si128(k0, 1), _mm_and_si128(k0, topMask));
    lane.S = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(stream.Chain)), k0);
    lane.In = stream.Input;
    lane.Out = stream.Output;
    lane.Chain = stream.Chain;
    lane.Left = stream.Size;
}

// Advances the first N lanes by steps bytes each.
template <int Rounds, int N>
void RunLanes(Lane<Rounds>* lanes, std::size_t steps) {
    __m128i s[N];
    for (int l = 0; l < N; ++l) s[l] = lanes[l].S;

    auto step = [&](std::size_t at) {
        __m128i base[N], last[N], b[N];
        for (int l = 0; l < N; ++l) {
            base[l] = _mm_xor_si128(_mm_srli_si128(s[l], 1), lanes[l].ShiftFix);
            __asm__("" : "+x"(base[l]));
            const auto p = static_cast<uint8_t>(lanes[l].In[at] ^ lanes[l].K0Top);
            last[l] = _mm_xor_si128(lanes[l].K[Rounds], _mm_cvtsi32_si128(p));
            b[l] = s[l];
        }
        for (int r = 1; r < Rounds; ++r)
            for (int l = 0; l < N; ++l) b[l] = _mm_aesenc_si128(b[l], lanes[l].K[r]);
        for (int l = 0; l < N; ++l)
            s[l] = _mm_xor_si128(base[l], _mm_slli_si128(_mm_aesenclast_si128(b[l], last[l]), 15));
    };

    std::size_t i = 0;
    for (; i + 16 <= steps; i += 16) {
        for (std::size_t j = 0; j < 16; ++j) step(i + j);
        for (int l = 0; l < N; ++l)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes[l].Out + i), _mm_xor_si128(s[l], lanes[l].K[0]));
    }
    const std::size_t rest = steps - i;
    if (rest != 0) {
        for (std::size_t j = 0; j < rest; ++j) step(i + j);
        alignas(16) uint8_t reg[16];
        for (int l = 0; l < N; ++l) {
            _mm_store_si128(reinterpret_cast<__m128i*>(reg), _mm_xor_si128(s[l], lanes[l].K[0]));
            std::memcpy(lanes[l].Out + i, reg + 16 - rest, rest);
        }
    }
    for (int l = 0; l < N; ++l) {
        lanes[l].S = s[l];
        lanes[l].In += steps;
        lanes[l].Out += steps;
        lanes[l].Left -= steps;
    }
}

template <int Rounds>
void RunActive(Lane<Rounds>* lanes, int active, std::size_t steps) {
    switch (active) {
        case 1: RunLanes<Rounds, 1>(lanes, steps); break;
        case 2: RunLanes<Rounds, 2>(lanes, steps); break;
        case 3: RunLanes<Rounds, 3>(lanes, steps); break;
        case 4: RunLanes<Rounds, 4>(lanes, steps); break;
        case 5: RunLanes<Rounds, 5>(lanes, steps); break;
        case 6: RunLanes<Rounds, 6>(lanes, steps); break;
        case 7: RunLanes<Rounds, 7>(lanes, steps); break;
        default: RunLanes<Rounds, 8>(lanes, steps); break;
    }
}

// Lanes run together until the shortest ends; a finished lane hands its slot
// to the next waiting stream, or to the last busy lane once none waits.
template <int Rounds>
[[gnu::noinline]] void Cfb8EncryptInterleavedT(const Cfb8Stream* streams, std::size_t count) {
    Lane<Rounds> lanes[kMaxLanes];
    int active = 0;
    std::size_t next = 0;
    while (true) {
        while (active < kMaxLanes && next < count) {
            const Cfb8Stream& stream = streams[next++];
            // Nothing to encrypt leaves the register as it is.
            if (stream.Size != 0) LoadLane(lanes[active++], stream);
        }
        if (active == 0) break;
        std::size_t steps = lanes[0].Left;
        for (int l = 1; l < active; ++l) steps = std::min(steps, lanes[l].Left);
        RunActive(lanes, active, steps);
        for (int l = 0; l < active;) {
            if (lanes[l].Left != 0) {
                ++l;
                continue;
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes[l].Chain), _mm_xor_si128(lanes[l].S, lanes[l].K[0]));
            if (l != active - 1) lanes[l] = lanes[active - 1];
            --active;
        }
    }
    // The slots held copies of round keys.
    SecureWipe(lanes, sizeof lanes);
}

}  // namespace

// The byte-stream kernels need more registers than there are, so the
// compiler spills round keys, and values that give round key 0 away, into
// their frames. They are never inlined, so wiping the stack once they have
// returned clears those frames.

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

void Cfb8Encrypt(const uint32_t (*roundKeys)[8], int rounds, uint8_t* chain, const uint8_t* input, uint8_t* output,
                 std::size_t size) {
    switch (rounds) {
        case 10: Cfb8EncryptT<10>(roundKeys, chain, input, output, size); break;
        case 12: Cfb8EncryptT<12>(roundKeys, chain, input, output, size); break;
        default: Cfb8EncryptT<14>(roundKeys, chain, input, output, size); break;
    }
    SecureWipeStack();
}

void Cfb8Decrypt(const uint32_t (*roundKeys)[8], int rounds, uint8_t* chain, const uint8_t* input, uint8_t* output,
                 std::size_t size) {
    switch (rounds) {
        case 10: Cfb8DecryptT<10>(roundKeys, chain, input, output, size); break;
        case 12: Cfb8DecryptT<12>(roundKeys, chain, input, output, size); break;
        default: Cfb8DecryptT<14>(roundKeys, chain, input, output, size); break;
    }
    SecureWipeStack();
}

void Cfb8EncryptInterleaved(int rounds, const Cfb8Stream* streams, std::size_t count) {
    switch (rounds) {
        case 10: Cfb8EncryptInterleavedT<10>(streams, count); break;
        case 12: Cfb8EncryptInterleavedT<12>(streams, count); break;
        default: Cfb8EncryptInterleavedT<14>(streams, count); break;
    }
    SecureWipeStack();
}

}  // namespace rijndael_aesni
