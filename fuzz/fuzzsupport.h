#pragma once
// What the fuzz targets share: reading the fuzzer's bytes as a stream of
// small decisions, a property check that stops the run, and sessions wired
// to the test fakes whose key pair is the same for every input.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bigmath/bigmath.h"
#include "harness.h"
#include "isaac/isaac.h"
#include "rsa/privatekey.h"
#include "session/framing.h"

// A broken property is a finding: libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                       \
    do {                                                                                            \
        if (!(condition)) {                                                                         \
            std::fprintf(stderr, "%s:%d: property violated: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                           \
        }                                                                                           \
    } while (false)

// The fuzzer's bytes, taken from the front; past the end every read is zero or empty.
class TFuzzBytes {
public:
    TFuzzBytes(const uint8_t* data, std::size_t size) : data_(reinterpret_cast<const char*>(data), size) {}

    bool Empty() const { return data_.empty(); }
    std::size_t Left() const { return data_.size(); }
    uint8_t Byte() {
        if (data_.empty()) return 0;
        const auto byte = static_cast<uint8_t>(data_.front());
        data_.remove_prefix(1);
        return byte;
    }
    uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    std::string Take(std::size_t count) {
        const std::string_view taken = data_.substr(0, count);
        data_.remove_prefix(taken.size());
        return std::string(taken);
    }
    std::string Rest() { return Take(data_.size()); }

private:
    std::string_view data_;
};

// The pieces of text between 0x00 bytes: a frame's payload can hold no 0x00.
inline std::vector<std::string> SplitAtZeros(std::string_view text) {
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t zero = text.find('\0', begin);
        pieces.emplace_back(text.substr(begin, zero == std::string_view::npos ? std::string_view::npos : zero - begin));
        if (zero == std::string_view::npos) return pieces;
        begin = zero + 1;
    }
}

// Room for any character of a session key below the modulus, and cheap
// enough to make for every input.
constexpr int32_t kFuzzKeyBits = 20;

// Every input gets the same key pair: the random source of the key
// generation starts from the same seed each time.
inline void ResetKeyRandomness() {
    const uint32_t seed[2] = {0x51ee7u, 0xf022u};
    BigRandom().Seed(seed, 1, true);
}

// A harness whose key generator makes the small test key from a fixed seed.
inline void UseFixedKeys(Harness& side) {
    side.keyBehaviour = [](int32_t) {
        ResetKeyRandomness();
        return std::make_unique<TPrivateKey>(kFuzzKeyBits);
    };
}

// The listening side with its key pair, and a peer that has just connected.
struct TListeningSession {
    TListeningSession() {
        UseFixedKeys(side);
        side.Listen();
        peer = &side.server->Incoming("client.example");
        peer->sent.clear();
    }
    bool PeerConnected() const { return side.server->active && peer->open; }
    // One read's worth of bytes from the peer.
    void Receive(const std::string& bytes) {
        side.server->Receive(*peer, bytes);
        side.worker->RunAll();
    }
    // The next frame of the peer, numbered as the peer would.
    void ReceiveFrame(const std::string& payload) {
        sequence = NextSequence(sequence);
        Receive(MakeFrame(sequence, payload));
    }

    Harness side;
    FakeConnection* peer = nullptr;
    int32_t sequence = 0;
};
