#pragma once
// Many messages under one session key at once, as a file transfer sends its
// chunks: each message still gets its own freshly keyed cipher, but the
// per-byte feedback chains of all of them run interleaved.

#include <string>
#include <vector>

// Element i is exactly what a fresh TRijndael keyed with
// SetKeyFromText(passphrase, TSha256::Class()) gives for EncryptText(messages[i])
// before it is wiped. allowHardware false keeps every cipher on the table
// path. Throws what SetKeyFromText throws; key material is wiped either way.
std::vector<std::string> EncryptTextsUnderPassphrase(const std::string& passphrase,
                                                     const std::vector<std::string>& messages,
                                                     bool allowHardware = true);
