#pragma once
// Texts as the message cipher puts them on the wire, for tests that play a
// peer by hand.

#include <string>

#include "session/recordlayer.h"

inline std::string SealUnder(const std::string& sessionKey, const std::string& plaintext) {
    return TMessageCipher(sessionKey).Seal(plaintext);
}

inline std::string OpenUnder(const std::string& sessionKey, const std::string& payload) {
    return TMessageCipher(sessionKey).Open(payload);
}
