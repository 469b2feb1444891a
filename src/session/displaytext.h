#pragma once
// Bytes from the peer or from the garbage generator, made fit for the view,
// which takes UTF-8.

#include <string>

bool IsValidUtf8(const std::string& bytes);
// Every byte as its Windows-1252 character.
std::string Windows1252ToUtf8(const std::string& bytes);
// Valid UTF-8 as it is; anything else read as Windows-1252, so older peers
// that send 8-bit text still read right.
std::string ReceivedTextForView(const std::string& bytes);
