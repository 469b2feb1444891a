#pragma once
// The known-answer checks of the cipher and the generator. Both programs run
// them at every start and refuse to work with primitives that give wrong answers.

#include <string>
#include <vector>

struct TSelfCheck {
    std::string name;
    bool passed = false;
};

// SHA-256, Rijndael and ISAAC, in that order.
std::vector<TSelfCheck> RunSelfChecks();

// "SHA-256   self-check: passed", or FAILED.
std::string SelfCheckLine(const TSelfCheck& check);

// The name of the first check that failed; empty when all passed.
std::string FirstFailedSelfCheck(const std::vector<TSelfCheck>& checks);
