#pragma once
// quellmere-cli as a whole: the commands that run straight through, and the
// conversation on an event loop.

#include <istream>
#include <optional>
#include <ostream>
#include <vector>

#include "adapters/selfcheck.h"
#include "cli/clioptions.h"

// Usage errors, the self-checks and their refusal, --help, --version,
// encrypt and decrypt: the exit status. Nothing when a conversation is to be held.
std::optional<int> RunWithoutConversation(const TCliParse& parse, const std::vector<TSelfCheck>& checks,
                                          std::istream& in, std::ostream& out, std::ostream& err);

// listen or connect, on standard input and output, until the conversation ends.
int RunConversation(const TCliOptions& options, int& argc, char** argv);

// The program: main hands over its arguments.
int RunCli(int& argc, char** argv);
