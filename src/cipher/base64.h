#pragma once
// Base64 as it travels between peers: the standard alphabet with "=" padding
// and no line breaks on the way out; a lenient decoder on the way in that
// never fails and whose handling of odd input is part of the wire behaviour.

#include <cstdint>
#include <string>

// Writes ((size + 2) / 3) * 4 characters and returns that count. A negative
// size, or one whose count would not fit the result (above 1610612733),
// writes nothing and returns 0.
int32_t EncodeBase64(const void* input, void* output, int32_t size);

// Decodes size / 4 groups of four characters (any rest is ignored) into at
// most (size / 4) * 3 bytes and returns the number written.
int32_t DecodeBase64(const void* input, void* output, int32_t size);

std::string EncodeBase64Text(const std::string& text);
std::string DecodeBase64Text(const std::string& text);
