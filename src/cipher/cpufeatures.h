#pragma once
// The optional x86 instructions our kernels use, read from CPUID once: the
// compiler's own probe does not know "sha" in every version we build with.
// On other processors every flag is false.

#include <cstdint>

namespace cpufeatures {

struct TCpuFeatures {
    bool Ssse3 = false;
    bool Sse41 = false;
    bool Aes = false;
    bool Sha = false;
};

// Decodes ECX of CPUID leaf 1 (SSSE3 bit 9, SSE4.1 bit 19, AES bit 25) and EBX
// of leaf 7 subleaf 0 (SHA bit 29); leaf7Ebx counts only when leaf 7 exists.
TCpuFeatures Decode(uint32_t leaf1Ecx, bool hasLeaf7, uint32_t leaf7Ebx);

// This processor's features. Safe before main, from static initialisers.
const TCpuFeatures& Detected();

// What each kernel file is compiled for besides its own instructions: SSE4.1,
// and with it SSSE3, which the compiler may use there too.
bool AesKernelsSupported();
bool ShaKernelSupported();

}  // namespace cpufeatures
