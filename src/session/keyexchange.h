#pragma once
// The key material of a conversation: this side's key pair (listening side),
// the agreed session key and the server's count of key parts announced. The
// handshake that fills it plugs in here.

#include <cstdint>
#include <memory>
#include <string>

#include "rsa/privatekey.h"

class TKeyExchange {
public:
    TKeyExchange() = default;
    ~TKeyExchange();
    TKeyExchange(const TKeyExchange&) = delete;
    TKeyExchange& operator=(const TKeyExchange&) = delete;

    TPrivateKey* privateKey() const { return privateKey_.get(); }
    void SetPrivateKey(std::unique_ptr<TPrivateKey> key) { privateKey_ = std::move(key); }
    const std::string& sessionKey() const { return sessionKey_; }
    int32_t keyPartsExpected() const { return keyPartsExpected_; }

    // A peer was accepted: its header comes first.
    void StartServerSide() { keyPartsExpected_ = 0; }

    // The part of cleanupMemory that is ours, in its order: the session key,
    // then the key pair.
    void ReleaseSessionKey();
    void ReleaseKeys();

private:
    std::string sessionKey_;
    std::unique_ptr<TPrivateKey> privateKey_;
    int32_t keyPartsExpected_ = 0;
};
