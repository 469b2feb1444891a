#pragma once
// The SHA-instruction block function. Only sha256_shani.cpp is compiled for
// those instructions; callers check TSha256::HardwareAvailable() first.

#include <cstdint>

namespace sha256_shani {

// Hashes one 64-byte block into state (H0..H7).
void Compress(uint32_t state[8], const uint8_t block[64]);

}  // namespace sha256_shani
