#include "adapters/selfcheck.h"

#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "isaac/isaac.h"

namespace {

// Names are padded so the verdicts line up.
constexpr std::size_t kNameWidth = 9;

}  // namespace

std::vector<TSelfCheck> RunSelfChecks() {
    return {
        {"SHA-256", TSha256::SelfCheck()},
        {"Rijndael", TRijndael::SelfCheck()},
        {"ISAAC", TIsaac::SelfCheck()},
    };
}

std::string SelfCheckLine(const TSelfCheck& check) {
    std::string name = check.name;
    if (name.size() < kNameWidth) name.append(kNameWidth - name.size(), ' ');
    return name + " self-check: " + (check.passed ? "passed" : "FAILED");
}

std::string FirstFailedSelfCheck(const std::vector<TSelfCheck>& checks) {
    for (const TSelfCheck& check : checks) {
        if (!check.passed) return check.name;
    }
    return std::string();
}
