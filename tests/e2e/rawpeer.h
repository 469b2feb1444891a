#pragma once
// A peer made of bytes: it speaks the wire protocol by hand over 127.0.0.1,
// so a test can send exactly what a well-behaved program never would. Every
// wait runs the Qt event loop, so the programs under test are drained
// meanwhile.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "childprocess.h"

class TPrivateKey;

// One frame as it came: the text before the first "?" and the rest.
struct TRawFrame {
    std::string sequenceText;
    std::string payload;
};

class TRawPeer {
public:
    explicit TRawPeer(int socket) : socket_(socket) {}
    ~TRawPeer();
    TRawPeer(const TRawPeer&) = delete;
    TRawPeer& operator=(const TRawPeer&) = delete;

    // Nullptr when nobody answers at 127.0.0.1:PORT.
    static std::unique_ptr<TRawPeer> Connect(uint16_t port);

    // False once the other side is gone.
    bool SendBytes(std::string_view bytes);
    // Framed with the next number of our own count.
    bool SendFrame(const std::string& payload);
    // Each framed with the next number, all in one write.
    bool SendFrames(const std::vector<std::string>& payloads);
    // Framed with this number; our own count moves on as if it were the next.
    bool SendFrameNumbered(const std::string& sequenceText, const std::string& payload);

    // The next frame the program sent; nothing when it closed or time ran out.
    std::optional<TRawFrame> ReadFrame(std::chrono::milliseconds timeout = kPatience);
    // The other side closed the connection (or reset it).
    bool WaitForClose(std::chrono::milliseconds timeout = kPatience);

    // An orderly close: the other side reads the end of the stream.
    void Close();
    // SO_LINGER 0, then close: the other side sees a reset.
    void Reset();

    // ---- the key exchange, either half
    // As listener: sends N and E of KEY.
    bool SendPublicKey(const TPrivateKey& key);
    // As listener: reads the header and the parts, decrypts them with KEY.
    bool ReceiveSessionKey(const TPrivateKey& key);
    // As listener, all of it, then "**ACK**".
    bool ServeKeyExchange(const TPrivateKey& key);
    // As connector: reads N and E.
    bool ReceivePublicKey();
    // As connector: makes a session key and encrypts each character.
    std::vector<std::string> EncryptedKeyParts();
    // As connector: COUNT distinct parts that all decrypt to "A" (65 plus a
    // multiple of 256, whose low byte the listener keeps); the session key
    // becomes COUNT times "A".
    std::vector<std::string> DistinctKeyParts(std::size_t count);
    // As connector: the header and the parts as "i=number", then waits for the ACK.
    bool SendKeyParts(const std::vector<std::string>& parts);
    bool WaitForAcknowledge();
    bool PerformKeyExchange();
    // Connects and completes the key exchange as connector; nothing when either fails.
    static std::unique_ptr<TRawPeer> ConnectKeyed(uint16_t port);

    // ---- the encrypted channel, under sessionKey()
    bool SendEncrypted(const std::string& plaintext);
    // The next frame, decrypted.
    std::optional<std::string> ReadDecrypted(std::chrono::milliseconds timeout = kPatience);

    const std::string& sessionKey() const { return sessionKey_; }
    void SetSessionKey(std::string key) { sessionKey_ = std::move(key); }
    const std::string& remoteModulus() const { return remoteModulus_; }
    // Frames sent so far, whatever their numbers.
    int64_t sentFrames() const { return sendSequence_; }
    // Every byte the program sent, frames and all.
    const std::string& Received() const { return received_; }

private:
    // Reads what is there; false once the stream has ended.
    bool Drain();

    int socket_ = -1;
    int64_t sendSequence_ = 0;
    std::string buffer_;
    std::string received_;
    bool ended_ = false;
    std::string sessionKey_;
    std::string remoteModulus_;
    std::string remoteExponent_;
};

// Listens on 127.0.0.1 at a port of the system's choosing.
class TRawListener {
public:
    TRawListener();
    ~TRawListener();
    TRawListener(const TRawListener&) = delete;
    TRawListener& operator=(const TRawListener&) = delete;

    uint16_t port() const { return port_; }
    std::unique_ptr<TRawPeer> Accept(std::chrono::milliseconds timeout = kPatience);

private:
    int socket_ = -1;
    uint16_t port_ = 0;
};

// One 512-bit key pair for the whole test run: making keys is slow under the sanitizers.
const TPrivateKey& RawPeerKey();

// Under the session key as the programs use it.
std::string EncryptUnder(const std::string& key, const std::string& plaintext);
std::string DecryptUnder(const std::string& key, const std::string& ciphertext);
// A random 32-character key text of printable characters.
std::string MakeKeyText();
