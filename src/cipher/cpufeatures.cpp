#include "cipher/cpufeatures.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#define QUELLMERE_X86_CPUID 1
#endif

namespace cpufeatures {
namespace {

bool Bit(uint32_t word, int bit) { return ((word >> bit) & 1u) != 0; }

TCpuFeatures Probe() {
#ifdef QUELLMERE_X86_CPUID
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return {};
    const uint32_t leaf1Ecx = ecx;
    // Fails when the processor's highest leaf is below 7.
    const bool hasLeaf7 = __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) != 0;
    return Decode(leaf1Ecx, hasLeaf7, hasLeaf7 ? ebx : 0);
#else
    return {};
#endif
}

}  // namespace

TCpuFeatures Decode(uint32_t leaf1Ecx, bool hasLeaf7, uint32_t leaf7Ebx) {
    TCpuFeatures features;
    features.Ssse3 = Bit(leaf1Ecx, 9);
    features.Sse41 = Bit(leaf1Ecx, 19);
    features.Aes = Bit(leaf1Ecx, 25);
    features.Sha = hasLeaf7 && Bit(leaf7Ebx, 29);
    return features;
}

const TCpuFeatures& Detected() {
    static const TCpuFeatures features = Probe();
    return features;
}

bool AesKernelsSupported() {
    const TCpuFeatures& f = Detected();
    return f.Aes && f.Ssse3 && f.Sse41;
}

bool ShaKernelSupported() {
    const TCpuFeatures& f = Detected();
    return f.Sha && f.Ssse3 && f.Sse41;
}

}  // namespace cpufeatures
