#pragma once
// What the receive path hands each payload to, chosen by the session flags:
// the two sides of the key exchange, or the encrypted channel. The session's
// own features take them unless a test puts a recorder in their place.

#include <string>

class IPayloadHandler {
public:
    virtual ~IPayloadHandler() = default;
    virtual void doServerHandshaking(const std::string& payload) = 0;
    virtual void doClientHandshaking(const std::string& payload) = 0;
    virtual void handleReceivedCiphertext(const std::string& payload) = 0;
};
