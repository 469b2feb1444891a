#pragma once
// The AES-instruction kernels. Only rijndael_aesni.cpp is compiled for those
// instructions; callers check TRijndael::HardwareAvailable() first. Round keys
// are rows of 8 words (first 4 used) in FIPS-197 byte order.

#include <cstddef>
#include <cstdint>

namespace rijndael_aesni {

void EncryptBlock(const uint32_t (*roundKeys)[8], int rounds, const uint8_t* input, uint8_t* output);
void DecryptBlock(const uint32_t (*roundKeys)[8], int rounds, const uint8_t* input, uint8_t* output);
// 8-bit CFB over size bytes from the register chain, which is updated.
void Cfb8Encrypt(const uint32_t (*roundKeys)[8], int rounds, uint8_t* chain, const uint8_t* input, uint8_t* output,
                 std::size_t size);
void Cfb8Decrypt(const uint32_t (*roundKeys)[8], int rounds, uint8_t* chain, const uint8_t* input, uint8_t* output,
                 std::size_t size);

// One stream of Cfb8EncryptInterleaved: size bytes from input to output
// under its own round keys, starting from chain, which is updated.
struct Cfb8Stream {
    const uint32_t (*RoundKeys)[8];
    uint8_t* Chain;
    const uint8_t* Input;
    uint8_t* Output;
    std::size_t Size;
};

// Gives every stream exactly what Cfb8Encrypt gives it alone, running up to
// eight of them side by side. All streams share the round count; none may
// overlap another (input and output of one stream may be the same buffer).
void Cfb8EncryptInterleaved(int rounds, const Cfb8Stream* streams, std::size_t count);

}  // namespace rijndael_aesni
