#include "cipher/cpufeatures.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>

using cpufeatures::Decode;
using cpufeatures::TCpuFeatures;

namespace {

std::string Flags(const TCpuFeatures& f) {
    std::string text;
    if (f.Ssse3) text += "ssse3 ";
    if (f.Sse41) text += "sse4.1 ";
    if (f.Aes) text += "aes ";
    if (f.Sha) text += "sha ";
    return text;
}

// The flags the kernel reports for the first processor, empty when there is
// no /proc/cpuinfo to read.
std::set<std::string> KernelCpuFlags() {
    std::ifstream in("/proc/cpuinfo");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("flags", 0) != 0) continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        std::set<std::string> flags;
        for (std::string word; words >> word;) flags.insert(word);
        return flags;
    }
    return {};
}

}  // namespace

TEST(CpuFeatures, EachFlagComesFromItsOwnBit) {
    EXPECT_EQ(Flags(Decode(0, true, 0)), "");
    EXPECT_EQ(Flags(Decode(1u << 9, true, 0)), "ssse3 ");
    EXPECT_EQ(Flags(Decode(1u << 19, true, 0)), "sse4.1 ");
    EXPECT_EQ(Flags(Decode(1u << 25, true, 0)), "aes ");
    EXPECT_EQ(Flags(Decode(0, true, 1u << 29)), "sha ");
    // The neighbours of every bit, and the same bits in the other register.
    const uint32_t neighbours = (1u << 8) | (1u << 10) | (1u << 18) | (1u << 20) | (1u << 24) | (1u << 26) |
                                (1u << 28) | (1u << 30) | (1u << 29);
    EXPECT_EQ(Flags(Decode(neighbours, true, ~(1u << 29))), "");
    EXPECT_EQ(Flags(Decode(~0u, true, ~0u)), "ssse3 sse4.1 aes sha ");
}

TEST(CpuFeatures, ShaNeedsLeafSeven) { EXPECT_EQ(Flags(Decode(~0u, false, ~0u)), "ssse3 sse4.1 aes "); }

#if defined(__x86_64__) || defined(__i386__)
TEST(CpuFeatures, DetectionAgreesWithTheKernelsFlags) {
    const std::set<std::string> flags = KernelCpuFlags();
    if (flags.empty()) GTEST_SKIP() << "no /proc/cpuinfo";
    const TCpuFeatures& f = cpufeatures::Detected();
    EXPECT_EQ(f.Ssse3, flags.count("ssse3") == 1);
    EXPECT_EQ(f.Sse41, flags.count("sse4_1") == 1);
    EXPECT_EQ(f.Aes, flags.count("aes") == 1);
    EXPECT_EQ(f.Sha, flags.count("sha_ni") == 1);
    // The classes use the instructions exactly when their kernels can run.
    EXPECT_EQ(TRijndael::HardwareAvailable(), f.Aes && f.Ssse3 && f.Sse41);
    EXPECT_EQ(TSha256::HardwareAvailable(), f.Sha && f.Ssse3 && f.Sse41);
}
#endif
