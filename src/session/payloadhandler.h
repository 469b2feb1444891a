#pragma once
// What the receive path hands each payload to, chosen by the session flags:
// the two sides of the key exchange, or the encrypted channel.

#include <string>

class IPayloadHandler {
public:
    virtual ~IPayloadHandler() = default;
    virtual void doServerHandshaking(const std::string& payload) = 0;
    virtual void doClientHandshaking(const std::string& payload) = 0;
    virtual void handleReceivedCiphertext(const std::string& payload) = 0;
};

// Takes the payload and does nothing with it: a listener that accepts a peer
// simply waits until the key exchange is plugged in.
class TIgnorePayloads final : public IPayloadHandler {
public:
    void doServerHandshaking(const std::string&) override {}
    void doClientHandshaking(const std::string&) override {}
    void handleReceivedCiphertext(const std::string&) override {}
};
