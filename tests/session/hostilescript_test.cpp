// Long scripts of hostile and careless peers against a listening session,
// from many seeds: whatever the order, frames are never handled inside one
// another, the held bytes stay bounded and no connection hears another's
// conversation. The fuzz target fuzz_conversation plays the same scripts.

#include <gtest/gtest.h>

#include "hostilescript.h"

TEST(HostileScript, ManySeedsOfLongScriptsKeepEveryPropertyAfterEveryStep) {
    constexpr uint32_t kSeeds = 60;
    constexpr int kSteps = 300;
    for (uint32_t seed = 1; seed <= kSeeds; ++seed) {
        std::vector<std::string> failures;
        THostileScript script([&](const std::string& what) { failures.push_back(what); });
        TSeededChoices choices(seed);
        script.Play(choices, kSteps);
        EXPECT_TRUE(failures.empty()) << "seed " << seed << ": " << failures.front();
    }
}
