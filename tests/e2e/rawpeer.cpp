#include "rawpeer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "bigmath/bigmath.h"
#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "isaac/isaac.h"
#include "rsa/privatekey.h"
#include "rsa/publickey.h"

namespace {

constexpr char kTerminator = '\0';
constexpr char kSeparator = '?';
constexpr int kKeyLength = 32;
constexpr std::size_t kReadPiece = 64 * 1024;

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

void MakeNonBlocking(int socket) { ::fcntl(socket, F_SETFL, ::fcntl(socket, F_GETFL) | O_NONBLOCK); }

bool Ready(int socket, short events) {
    pollfd entry{socket, events, 0};
    return ::poll(&entry, 1, 0) > 0;
}

std::string PaddedIndex(const std::string& index) {
    constexpr std::size_t kWidth = 8;
    return index.size() >= kWidth ? index : std::string(kWidth - index.size(), '0') + index;
}

}  // namespace

// ---------------------------------------------------------------- bytes

TRawPeer::~TRawPeer() { Close(); }

std::unique_ptr<TRawPeer> TRawPeer::Connect(uint16_t port) {
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (socket < 0) return nullptr;
    const sockaddr_in address = Loopback(port);
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(socket);
        return nullptr;
    }
    MakeNonBlocking(socket);
    return std::make_unique<TRawPeer>(socket);
}

bool TRawPeer::SendBytes(std::string_view bytes) {
    while (!bytes.empty()) {
        if (socket_ < 0) return false;
        const ssize_t sent = ::send(socket_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        // Full: the program reads at its own pace, and its output must keep flowing meanwhile.
        if (!WaitUntil([&] { return Ready(socket_, POLLOUT); })) return false;
    }
    return true;
}

bool TRawPeer::SendFrame(const std::string& payload) {
    return SendFrameNumbered(std::to_string(sendSequence_ + 1), payload);
}

bool TRawPeer::SendFrames(const std::vector<std::string>& payloads) {
    std::string bytes;
    for (const std::string& payload : payloads) {
        bytes += std::to_string(++sendSequence_);
        bytes += kSeparator;
        bytes += payload;
        bytes += kTerminator;
    }
    return SendBytes(bytes);
}

bool TRawPeer::SendFrameNumbered(const std::string& sequenceText, const std::string& payload) {
    ++sendSequence_;
    std::string frame = sequenceText;
    frame += kSeparator;
    frame += payload;
    frame += kTerminator;
    return SendBytes(frame);
}

bool TRawPeer::Drain() {
    char piece[kReadPiece];
    while (socket_ >= 0 && !ended_) {
        const ssize_t got = ::recv(socket_, piece, sizeof piece, MSG_DONTWAIT);
        if (got > 0) {
            buffer_.append(piece, static_cast<std::size_t>(got));
            received_.append(piece, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) break;
        // End of stream, or a reset.
        ended_ = true;
    }
    return !ended_;
}

std::optional<TRawFrame> TRawPeer::ReadFrame(std::chrono::milliseconds timeout) {
    std::size_t end = std::string::npos;
    WaitUntil(
        [&] {
            Drain();
            end = buffer_.find(kTerminator);
            return end != std::string::npos || ended_ || socket_ < 0;
        },
        timeout);
    if (end == std::string::npos) return std::nullopt;
    const std::string frame = buffer_.substr(0, end);
    buffer_.erase(0, end + 1);
    const std::size_t separator = frame.find(kSeparator);
    if (separator == std::string::npos) return TRawFrame{frame, std::string()};
    return TRawFrame{frame.substr(0, separator), frame.substr(separator + 1)};
}

bool TRawPeer::WaitForClose(std::chrono::milliseconds timeout) {
    return WaitUntil(
        [&] {
            Drain();
            return ended_ || socket_ < 0;
        },
        timeout);
}

void TRawPeer::Close() {
    if (socket_ < 0) return;
    ::close(socket_);
    socket_ = -1;
}

void TRawPeer::Reset() {
    if (socket_ < 0) return;
    const linger abort{1, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    Close();
}

// ---------------------------------------------------------------- the key exchange

bool TRawPeer::SendPublicKey(const TPrivateKey& key) {
    return SendFrame(key.GetN().ToString()) && SendFrame(key.GetE().ToString());
}

bool TRawPeer::ReceiveSessionKey(const TPrivateKey& key) {
    const std::optional<TRawFrame> header = ReadFrame();
    if (!header) return false;
    const int count = std::stoi(header->payload);
    TCiphertextList parts;
    for (int i = 0; i < count; ++i) {
        const std::optional<TRawFrame> part = ReadFrame();
        if (!part) return false;
        const std::size_t equals = part->payload.find('=');
        if (equals == std::string::npos) return false;
        parts.AddSorted(PaddedIndex(part->payload.substr(0, equals)),
                        TBigint::CreateFromDecimal(part->payload.substr(equals + 1)));
    }
    sessionKey_ = key.Decrypt(parts);
    return static_cast<int>(sessionKey_.size()) == count;
}

bool TRawPeer::ServeKeyExchange(const TPrivateKey& key) {
    return SendPublicKey(key) && ReceiveSessionKey(key) && SendFrame("**ACK**");
}

bool TRawPeer::ReceivePublicKey() {
    const std::optional<TRawFrame> modulus = ReadFrame();
    const std::optional<TRawFrame> exponent = modulus ? ReadFrame() : std::nullopt;
    if (!exponent) return false;
    remoteModulus_ = modulus->payload;
    remoteExponent_ = exponent->payload;
    return true;
}

std::vector<std::string> TRawPeer::EncryptedKeyParts() {
    sessionKey_ = MakeKeyText();
    const std::unique_ptr<TBigint> n = TBigint::CreateFromDecimal(remoteModulus_);
    const std::unique_ptr<TBigint> e = TBigint::CreateFromDecimal(remoteExponent_);
    TCiphertextList list;
    TPublicKey(*e, *n).Encrypt(sessionKey_, list);
    std::vector<std::string> parts;
    for (const TCiphertextEntry& entry : list) parts.push_back(entry.Number->ToString());
    return parts;
}

std::vector<std::string> TRawPeer::DistinctKeyParts(std::size_t count) {
    sessionKey_ = std::string(count, 'A');
    const std::unique_ptr<TBigint> n = TBigint::CreateFromDecimal(remoteModulus_);
    const std::unique_ptr<TBigint> e = TBigint::CreateFromDecimal(remoteExponent_);
    std::vector<std::string> parts;
    for (std::size_t i = 0; i < count; ++i) {
        const std::unique_ptr<TBigint> part = TBigint::CreateFromInt64(65 + 256 * static_cast<int64_t>(i));
        part->PowMod(*e, *n);
        parts.push_back(part->ToString());
    }
    return parts;
}

bool TRawPeer::SendKeyParts(const std::vector<std::string>& parts) {
    if (!SendFrame(std::to_string(parts.size()))) return false;
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!SendFrame(std::to_string(i) + "=" + parts[i])) return false;
    return true;
}

bool TRawPeer::WaitForAcknowledge() {
    const std::optional<TRawFrame> answer = ReadFrame();
    return answer && answer->payload == "**ACK**";
}

bool TRawPeer::PerformKeyExchange() {
    return ReceivePublicKey() && SendKeyParts(EncryptedKeyParts()) && WaitForAcknowledge();
}

std::unique_ptr<TRawPeer> TRawPeer::ConnectKeyed(uint16_t port) {
    std::unique_ptr<TRawPeer> peer = Connect(port);
    if (peer && !peer->PerformKeyExchange()) peer.reset();
    return peer;
}

// ---------------------------------------------------------------- the encrypted channel

bool TRawPeer::SendEncrypted(const std::string& plaintext) { return SendFrame(EncryptUnder(sessionKey_, plaintext)); }

std::optional<std::string> TRawPeer::ReadDecrypted(std::chrono::milliseconds timeout) {
    const std::optional<TRawFrame> frame = ReadFrame(timeout);
    if (!frame) return std::nullopt;
    return DecryptUnder(sessionKey_, frame->payload);
}

// ---------------------------------------------------------------- listening

TRawListener::TRawListener() {
    socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (socket_ < 0 || ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket_, 4) != 0 || ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("raw listener cannot listen");
    port_ = ntohs(address.sin_port);
    MakeNonBlocking(socket_);
}

TRawListener::~TRawListener() { ::close(socket_); }

std::unique_ptr<TRawPeer> TRawListener::Accept(std::chrono::milliseconds timeout) {
    int accepted = -1;
    WaitUntil(
        [&] {
            accepted = ::accept4(socket_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            return accepted >= 0;
        },
        timeout);
    if (accepted < 0) return nullptr;
    return std::make_unique<TRawPeer>(accepted);
}

// ---------------------------------------------------------------- keys and texts

const TPrivateKey& RawPeerKey() {
    static const TPrivateKey key(512);
    return key;
}

std::string EncryptUnder(const std::string& key, const std::string& plaintext) {
    TRijndael cipher;
    cipher.SetKeyFromText(key, TSha256::Class());
    return cipher.EncryptText(plaintext);
}

std::string DecryptUnder(const std::string& key, const std::string& ciphertext) {
    TRijndael cipher;
    cipher.SetKeyFromText(key, TSha256::Class());
    return cipher.DecryptText(ciphertext);
}

std::string MakeKeyText() {
    TIsaac generator;
    SeedFromSystemEntropy(generator);
    std::string key;
    for (int i = 0; i < kKeyLength; ++i) key += static_cast<char>(generator.Range(95) + 32);
    return key;
}
