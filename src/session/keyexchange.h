#pragma once
// The key exchange: the listening side sends its public key, the connecting
// side makes a 32-character key text, encrypts it character by character
// and sends the parts, the listening side decrypts them and acknowledges.
// This object owns every piece of key material of a conversation until the
// key is agreed, when it hands the session key on. RSA work runs on the
// worker; received payloads wait meanwhile (isWorking).

#include <cstdint>
#include <memory>
#include <string>

#include "bigmath/bigmath.h"
#include "rsa/privatekey.h"
#include "rsa/publickey.h"
#include "session/environment.h"

// The program always sends 32 parts; a peer may announce up to this many.
inline constexpr int32_t kMaxKeyParts = 1024;
// A part's index text ("31" in "31=..."); its number is bounded by the key.
inline constexpr std::size_t kMaxKeyPartIndexLength = 10;
inline constexpr int kSessionKeyLength = 32;
inline constexpr const char* kAcknowledge = "**ACK**";
inline constexpr const char* kHandshakeCompleteText = "** HANDSHAKING COMPLETE **";

// "7" padded to "00000007"; a longer text stays as it is.
std::string LPad(const std::string& text, std::size_t width);

// What the key exchange hands back.
class IKeyExchangeOutput {
public:
    // A handshake payload, sent in the clear.
    virtual void sendTextToPeer(const std::string& payload) = 0;
    virtual void Log(const std::string& line) = 0;
    // A protocol detail: debug mode and the trace file.
    virtual void Detail(std::string line) = 0;
    // Into the trace file only.
    virtual void Trace(const std::string& line) = 0;
    // The key is agreed on this side.
    virtual void KeyAgreed(const std::string& sessionKey) = 0;
    // RSA work on the worker ended; payloads may be taken again.
    virtual void WorkDone() = 0;
    // The work failed: the connection ends with this text.
    virtual void Failed(const std::string& reason) = 0;

protected:
    ~IKeyExchangeOutput() = default;
};

class TKeyExchange {
public:
    TKeyExchange(IKeyExchangeOutput& output, IWorker& worker) : output_(output), worker_(worker) {}
    ~TKeyExchange();
    TKeyExchange(const TKeyExchange&) = delete;
    TKeyExchange& operator=(const TKeyExchange&) = delete;

    TPrivateKey* privateKey() const { return privateKey_.get(); }
    void SetPrivateKey(std::unique_ptr<TPrivateKey> key) { privateKey_ = std::move(key); }
    // RSA work is under way on the worker.
    bool isWorking() const { return working_; }

    // A peer was accepted: its header comes first.
    void StartServerSide() { ResetExchange(); }
    // Server, after accepting a peer: sends N and E.
    void SendPublicKey(const std::string& peerHost);
    void doServerHandshaking(const std::string& payload);
    void doClientHandshaking(const std::string& payload);

    // The part of cleanupMemory that is ours, in its order: the session key,
    // then the key pair, the peer's public key, the received parts, the peer's
    // N and E. Work under way is forgotten.
    void ReleaseSessionKey();
    void ReleaseKeys();
    // A connection began or ended: everything of its exchange goes (the
    // session key, the peer's numbers, the parts, work under way); the key
    // pair stays for the next peer.
    void ResetExchange();

private:
    friend class TSessionInspection;
    void ReadKeyHeader(const std::string& payload);
    void ReadKeyPart(const std::string& payload);
    void DecryptKeyParts();
    void ReadRemoteModulus(const std::string& payload);
    void ReadRemoteExponentAndSendKey(const std::string& payload);
    void SendEncryptedKey(const TCiphertextList& parts);
    void Complete(bool traceIt);
    // Runs RSA work on the worker with the received frames held; the step
    // goes on only if nothing was released meanwhile.
    void RunHeld(std::function<std::function<void()>()> work);

    IKeyExchangeOutput& output_;
    IWorker& worker_;

    std::string sessionKey_;
    // Shared only with RSA work under way, which may outlive a Disconnect.
    std::shared_ptr<TPrivateKey> privateKey_;
    std::unique_ptr<TPublicKey> remotePublicKey_;
    std::unique_ptr<TCiphertextList> keyParts_;
    std::unique_ptr<TBigint> remoteModulus_;
    std::unique_ptr<TBigint> remoteExponent_;
    int32_t keyPartsExpected_ = 0;
    int32_t keyPartsReceived_ = 0;
    // Counts releases, so that work finishing afterwards is dropped.
    uint64_t epoch_ = 0;
    bool working_ = false;
};
