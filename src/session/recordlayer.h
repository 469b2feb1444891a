#pragma once
// The record layer: what turns a plaintext of the conversation (a chat line,
// a file-transfer text, a chunk) into a frame's payload and back. Chat and
// file transfer both go through it. Today's one is the message cipher; an
// authenticated channel can stand beside it.

#include <memory>
#include <string>
#include <vector>

#include "secure/secrettext.h"

class IRecordLayer {
public:
    virtual ~IRecordLayer() = default;
    virtual std::string Seal(const std::string& plaintext) const = 0;
    // Throws what the layer finds wrong with the payload.
    virtual std::string Open(const std::string& payload) const = 0;
    // Many at once, each as Seal would give it; safe to call from a worker
    // thread while the session's thread uses the layer.
    virtual std::vector<std::string> SealMany(const std::vector<std::string>& plaintexts) const = 0;
};

// The message cipher: Rijndael keyed with the SHA-256 digest of the session
// key text, a fresh cipher for every message, 8-bit CFB from the fixed
// vector, Base64 text. Equal plaintexts give equal payloads.
class TMessageCipher final : public IRecordLayer {
public:
    explicit TMessageCipher(const std::string& sessionKey) : sessionKey_(sessionKey) {}

    std::string Seal(const std::string& plaintext) const override;
    std::string Open(const std::string& payload) const override;
    // Both cores work: the two halves of a batch are independent messages.
    std::vector<std::string> SealMany(const std::vector<std::string>& plaintexts) const override;

private:
    TSecretText sessionKey_;
};
