#include "cipher/base64.h"

#include <array>
#include <climits>
#include <cstddef>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kPad = 255;
// Characters outside the alphabet leave their slot as it was.
constexpr unsigned char kKeep = 254;

constexpr std::array<unsigned char, 256> MakeDecodeTable() {
    std::array<unsigned char, 256> table{};
    for (auto& v : table) v = kKeep;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<unsigned char>(i);
    table['='] = kPad;
    return table;
}

constexpr std::array<unsigned char, 256> kDecode = MakeDecodeTable();

// Whether the character count for size bytes fits the 32-bit result.
constexpr bool EncodedCountFits(int32_t size) { return (static_cast<int64_t>(size) + 2) / 3 * 4 <= INT32_MAX; }

static_assert(EncodedCountFits(1610612733) && !EncodedCountFits(1610612734));

// Both text routines can exceed what a 32-bit count holds, so the work is
// done here with full-width sizes; the buffer routines only narrow it.
std::size_t Encode(const unsigned char* in, char* out, std::size_t size) {
    char* o = out;
    std::size_t i = 0;
    for (; i + 3 <= size; i += 3) {
        const unsigned b0 = in[i], b1 = in[i + 1], b2 = in[i + 2];
        o[0] = kAlphabet[b0 >> 2];
        o[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        o[2] = kAlphabet[((b1 & 15) << 2) | (b2 >> 6)];
        o[3] = kAlphabet[b2 & 63];
        o += 4;
    }
    const std::size_t rest = size - i;
    if (rest == 1) {
        const unsigned b0 = in[i];
        o[0] = kAlphabet[b0 >> 2];
        o[1] = kAlphabet[(b0 & 3) << 4];
        o[2] = '=';
        o[3] = '=';
        o += 4;
    } else if (rest == 2) {
        const unsigned b0 = in[i], b1 = in[i + 1];
        o[0] = kAlphabet[b0 >> 2];
        o[1] = kAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        o[2] = kAlphabet[(b1 & 15) << 2];
        o[3] = '=';
        o += 4;
    }
    return static_cast<std::size_t>(o - out);
}

std::size_t Decode(const unsigned char* in, unsigned char* out, std::size_t size) {
    const std::size_t groups = size / 4;
    // Slots carry over from group to group; before the first they are zero.
    unsigned char t[4] = {0, 0, 0, 0};
    unsigned char* o = out;
    for (std::size_t g = 0; g < groups; ++g, in += 4) {
        for (int k = 0; k < 4; ++k) {
            const unsigned char v = kDecode[in[k]];
            if (v != kKeep) t[k] = v;
        }
        *o++ = static_cast<unsigned char>((t[0] << 2) | (t[1] >> 4));
        if (t[2] != kPad) {
            *o++ = static_cast<unsigned char>((t[1] << 4) | (t[2] >> 2));
            if (t[3] != kPad) *o++ = static_cast<unsigned char>((t[2] << 6) | t[3]);
        }
    }
    return static_cast<std::size_t>(o - out);
}

}  // namespace

int32_t EncodeBase64(const void* input, void* output, int32_t size) {
    if (size <= 0 || !EncodedCountFits(size)) return 0;
    return static_cast<int32_t>(
        Encode(static_cast<const unsigned char*>(input), static_cast<char*>(output), static_cast<std::size_t>(size)));
}

int32_t DecodeBase64(const void* input, void* output, int32_t size) {
    if (size < 4) return 0;
    return static_cast<int32_t>(Decode(static_cast<const unsigned char*>(input), static_cast<unsigned char*>(output),
                                       static_cast<std::size_t>(size)));
}

std::string EncodeBase64Text(const std::string& text) {
    std::string result((text.size() + 2) / 3 * 4, '\0');
    Encode(reinterpret_cast<const unsigned char*>(text.data()), result.data(), text.size());
    return result;
}

std::string DecodeBase64Text(const std::string& text) {
    std::string result(text.size() / 4 * 3, '\0');
    const std::size_t written = Decode(reinterpret_cast<const unsigned char*>(text.data()),
                                       reinterpret_cast<unsigned char*>(result.data()), text.size());
    result.resize(written);
    return result;
}
