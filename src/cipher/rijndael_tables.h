#pragma once
// The AES tables, computed at compile time from the field arithmetic of
// FIPS-197 rather than typed in, so a wrong entry cannot slip in. Columns are
// 32-bit words whose low byte is row 0.

#include <array>
#include <cstdint>

namespace rijndael_tables {

constexpr uint8_t Xtime(uint8_t x) { return static_cast<uint8_t>((x << 1) ^ ((x & 0x80) ? 0x1B : 0)); }

constexpr uint8_t Mul(uint8_t a, uint8_t b) {
    uint8_t r = 0;
    while (b != 0) {
        if (b & 1) r ^= a;
        a = Xtime(a);
        b >>= 1;
    }
    return r;
}

constexpr uint8_t Inverse(uint8_t x) {
    if (x == 0) return 0;
    // x^254 = x^-1 in GF(2^8).
    uint8_t result = 1, base = x;
    for (int e = 254; e != 0; e >>= 1) {
        if (e & 1) result = Mul(result, base);
        base = Mul(base, base);
    }
    return result;
}

constexpr uint8_t Rotl8(uint8_t x, int n) { return static_cast<uint8_t>((x << n) | (x >> (8 - n))); }

constexpr std::array<uint8_t, 256> MakeSbox() {
    std::array<uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t b = Inverse(static_cast<uint8_t>(i));
        s[i] = static_cast<uint8_t>(b ^ Rotl8(b, 1) ^ Rotl8(b, 2) ^ Rotl8(b, 3) ^ Rotl8(b, 4) ^ 0x63);
    }
    return s;
}

inline constexpr std::array<uint8_t, 256> Sbox = MakeSbox();

constexpr std::array<uint8_t, 256> MakeInvSbox() {
    std::array<uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i) s[Sbox[i]] = static_cast<uint8_t>(i);
    return s;
}

inline constexpr std::array<uint8_t, 256> InvSbox = MakeInvSbox();

constexpr uint32_t Word(uint8_t r0, uint8_t r1, uint8_t r2, uint8_t r3) {
    return uint32_t{r0} | uint32_t{r1} << 8 | uint32_t{r2} << 16 | uint32_t{r3} << 24;
}

constexpr uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

using Table = std::array<std::array<uint32_t, 256>, 4>;

// Row-0 byte x through SubBytes and MixColumns; the other rows are rotations.
constexpr Table MakeEncTables() {
    Table t{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = Sbox[i];
        t[0][i] = Word(Mul(s, 2), s, s, Mul(s, 3));
        for (int k = 1; k < 4; ++k) t[k][i] = Rotl(t[0][i], 8 * k);
    }
    return t;
}

// InvMixColumns of a word with a single non-zero byte in row 0; with
// withSbox the byte goes through the inverse S-box first.
constexpr Table MakeInvMixTables(bool withSbox) {
    Table t{};
    for (int i = 0; i < 256; ++i) {
        const uint8_t s = withSbox ? InvSbox[i] : static_cast<uint8_t>(i);
        t[0][i] = Word(Mul(s, 14), Mul(s, 9), Mul(s, 13), Mul(s, 11));
        for (int k = 1; k < 4; ++k) t[k][i] = Rotl(t[0][i], 8 * k);
    }
    return t;
}

inline constexpr Table Te = MakeEncTables();
inline constexpr Table Td = MakeInvMixTables(true);
inline constexpr Table Tk = MakeInvMixTables(false);

inline constexpr uint8_t Rcon[11] = {0x00, 0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0x1B, 0x36};

}  // namespace rijndael_tables
