#pragma once
// encrypt and decrypt: the message cipher for scripts. Each input line (a CR
// before its LF dropped) gives one output line, written at once, so the tool
// also works as a coprocess.

#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/clioptions.h"

// Runs options.command (Encrypt or Decrypt); returns the exit status.
int RunCipherTool(const TCliOptions& options, std::istream& in, std::ostream& out, std::ostream& err);

// Pairs of hex digits, either case; nothing for anything else.
std::optional<std::string> BytesFromHex(std::string_view hex);
std::string HexFromBytes(std::string_view bytes);
