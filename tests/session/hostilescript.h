#pragma once
// Long scripts of what peers may do to a listening session: connect, agree
// a key (or botch it), send thousands of offers, answers, chunks, end
// messages and chat lines, leave, come back; and what the person does
// meanwhile: answer at once or later, disconnect, listen again, let the
// event loop come round, with peers leaving and coming while a question
// is open. After
// every step the script checks what must hold whatever came before:
//   - handlers never run inside one another (the stack stays flat);
//   - the bytes held for the peer stay within their bounds;
//   - a connection only ever hears its own conversation: its first frames
//     are the public key, the acknowledgement comes only after its own key
//     parts, everything after decrypts under its own key to a text of the
//     protocol.
// The choices come from a generator (a property test) or from the fuzzer.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bigmath/bigmath.h"
#include "harness.h"
#include "isaac/isaac.h"
#include "session/channel.h"
#include "session/filetransfer.h"
#include "session/framing.h"

// Where the script's choices come from.
class IScriptChoices {
public:
    virtual ~IScriptChoices() = default;
    // A number below bound (bound > 0).
    virtual uint32_t Below(uint32_t bound) = 0;
    virtual bool Exhausted() const = 0;
};

// A property that must hold broke: the message says which.
using TScriptFailure = std::function<void(const std::string& what)>;

class THostileScript {
public:
    // Room for any character of a key, and quick to make.
    static constexpr int32_t kKeyBits = 20;
    // The most frames one step sends.
    static constexpr uint32_t kMaxFramesPerStep = 600;

    explicit THostileScript(TScriptFailure fail) : fail_(std::move(fail)) {
        side_.keyBehaviour = [](int32_t) {
            const uint32_t seed[2] = {0x5c21u, 0x7e0fu};
            BigRandom().Seed(seed, 1, true);
            return std::make_unique<TPrivateKey>(kKeyBits);
        };
        side_.view.saveAs = "/in/received.bin";
        side_.Listen();
    }

    // Plays steps until the choices run out or maxSteps are done.
    void Play(IScriptChoices& choices, int maxSteps) {
        for (int step = 0; step < maxSteps && !choices.Exhausted(); ++step) {
            Step(choices);
            Check();
        }
    }

    Harness& side() { return side_; }

private:
    struct TPeer {
        FakeConnection* connection = nullptr;
        int32_t sequence = 0;
        std::string key;
        bool partsSent = false;
        // It sent something else where its key exchange belonged: the key
        // the listener ends up with is not known here.
        bool botched = false;
        // How much of what the session sent it has been checked.
        std::size_t checked = 0;
        std::size_t framesHeard = 0;
        bool acknowledged = false;
    };

    enum class TStep {
        Connect,
        KeyExchange,
        BotchedKeyExchange,
        Offers,
        Answers,
        Chunks,
        EndMessage,
        ChatLines,
        RawGarbage,
        PeerLeaves,
        AnswerLater,
        AnswerPending,
        Disconnect,
        RunWorker,
        Turn,
        AnswerNo,
        AnswerYes,
        Count
    };

    // Mostly what the moment calls for (a peer when there is none, its key
    // parts when it has a connection), otherwise anything.
    TStep Choose(IScriptChoices& choices) {
        const TPeer* peer = Current();
        const bool usual = choices.Below(4) != 0;
        if (usual && peer == nullptr) return TStep::Connect;
        if (usual && !peer->partsSent) return TStep::KeyExchange;
        if (usual && !side_.fakes.worker->pending.empty() && choices.Below(2) == 0) return TStep::RunWorker;
        return static_cast<TStep>(choices.Below(static_cast<uint32_t>(TStep::Count)));
    }

    void Step(IScriptChoices& choices) {
        const TStep step = Choose(choices);
        const uint32_t frames = 1 + choices.Below(kMaxFramesPerStep);
        switch (step) {
            case TStep::Connect: Connect(); return;
            case TStep::KeyExchange: SendKeyParts(choices.Below(2) == 0); return;
            case TStep::BotchedKeyExchange: Send({std::to_string(choices.Below(40)), "0=" + std::string(5, '9')}); return;
            case TStep::Offers: SendEncrypted("**FILE_START**f" + std::to_string(frames) + ".bin?" + std::to_string(choices.Below(600)), frames); return;
            case TStep::Answers: SendEncrypted(choices.Below(2) == 0 ? kFileAccepted : kFileRefused, frames); return;
            case TStep::Chunks: SendEncrypted(HexChunk(std::string(1 + choices.Below(255), 'c')), frames); return;
            case TStep::EndMessage: SendEncrypted(std::string(kFileEndMarker) + "?" + std::to_string(choices.Below(70000)), 1); return;
            case TStep::ChatLines: SendEncrypted("line " + std::to_string(choices.Below(1000)), frames); return;
            case TStep::RawGarbage: Send({std::string(1 + choices.Below(64), static_cast<char>('!' + choices.Below(90)))}); return;
            case TStep::PeerLeaves: Leave(); return;
            // The person takes their time: peers may leave, come and send meanwhile.
            case TStep::AnswerLater: side_.view.deferAnswers = true; return;
            case TStep::AnswerPending:
                side_.view.deferAnswers = false;
                side_.view.AnswerPendingOffer();
                return;
            case TStep::Disconnect:
                side_.session->Disconnect();
                side_.server->ReleaseClosed();
                if (!side_.server->active) side_.Listen();
                return;
            case TStep::RunWorker: side_.worker->RunNext(); return;
            case TStep::Turn:
                if (side_.fakes.turnTimer->active) side_.fakes.turnTimer->Fire();
                return;
            case TStep::AnswerNo: side_.view.answerYes = false; return;
            case TStep::AnswerYes: side_.view.answerYes = true; return;
            case TStep::Count: return;
        }
    }

    TPeer* Current() { return peers_.empty() || !peers_.back().connection->open ? nullptr : &peers_.back(); }

    void Connect() {
        if (!side_.server->active) side_.Listen();
        TPeer peer;
        peer.key = KeyText(static_cast<uint32_t>(peers_.size()));
        peer.connection = &side_.server->Incoming("peer" + std::to_string(peers_.size()));
        peers_.push_back(peer);
    }

    void Leave() {
        if (TPeer* peer = Current()) {
            peer->connection->CloseConnection();
            side_.server->ReleaseClosed();
        }
    }

    // Every peer agrees its own key text.
    static std::string KeyText(uint32_t peer) {
        std::string key(32, ' ');
        for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<char>(' ' + (peer * 7 + i * 13) % 95);
        return key;
    }

    void SendKeyParts(bool inOneRead) {
        TPeer* peer = Current();
        if (peer == nullptr || side_.In().privateKey() == nullptr) return;
        TCiphertextList parts;
        side_.In().privateKey()->GetPublicKey()->Encrypt(peer->key, parts);
        std::vector<std::string> payloads{std::to_string(parts.Count())};
        for (std::size_t i = 0; i < parts.Count(); ++i)
            payloads.push_back(std::to_string(i) + "=" + parts[i].Number->ToString());
        const bool botched = peer->botched;
        peer->partsSent = true;
        if (inOneRead) {
            Send(payloads);
        } else {
            for (const std::string& payload : payloads) Send({payload});
        }
        peer->botched = botched;
    }

    void SendEncrypted(const std::string& plaintext, uint32_t count) {
        TPeer* peer = Current();
        if (peer == nullptr) return;
        Send(std::vector<std::string>(count, SealUnder(peer->key, plaintext)));
    }

    // Anything but the key parts before them botches the key exchange.
    void Send(const std::vector<std::string>& payloads) {
        TPeer* peer = Current();
        if (peer == nullptr) return;
        if (!peer->partsSent) peer->botched = true;
        std::string bytes;
        for (const std::string& payload : payloads) bytes += MakeFrame(peer->sequence = NextSequence(peer->sequence), payload);
        side_.server->Receive(*peer->connection, bytes);
    }

    void Check() {
        if (side_.view.StackSpread() > 256u * 1024u) fail_("handlers ran inside one another");
        if (side_.In().receiveBuffer().size() >
            TWire::maxWaitingBytes + TChatSession::maxUnframedBytes + 2 * kMaxFramesPerStep * 1024)
            fail_("the bytes held for the peer passed their bound");
        for (TPeer& peer : peers_) CheckHeard(peer);
    }

    // What the session sent this peer is its own conversation.
    void CheckHeard(TPeer& peer) {
        const std::string& sent = peer.connection->sent;
        for (std::size_t end; (end = sent.find('\0', peer.checked)) != std::string::npos; peer.checked = end + 1) {
            const std::string frame = sent.substr(peer.checked, end - peer.checked);
            const std::size_t question = frame.find('?');
            ++peer.framesHeard;
            if (question == std::string::npos || frame.substr(0, question) != std::to_string(peer.framesHeard))
                return fail_("a frame out of order reached " + peer.connection->hostName);
            CheckPayload(peer, frame.substr(question + 1));
        }
    }

    void CheckPayload(TPeer& peer, const std::string& payload) {
        const TPrivateKey* key = side_.In().privateKey();
        if (peer.framesHeard == 1 || peer.framesHeard == 2) {
            if (key == nullptr) return fail_("a public key without a key pair");
            const std::string expected = peer.framesHeard == 1 ? key->GetN().ToString() : key->GetE().ToString();
            if (payload != expected) fail_("the public key's place held something else");
            return;
        }
        if (!peer.acknowledged) {
            if (payload != kAcknowledge) return fail_("a peer heard more before its key exchange ended");
            if (!peer.partsSent && !peer.botched) return fail_("the acknowledgement of another peer's key exchange");
            peer.acknowledged = true;
            return;
        }
        if (peer.botched) return;
        const std::string text = OpenUnder(peer.key, payload);
        if (text != kFileAccepted && text != kFileRefused)
            fail_("a peer heard what is no answer of ours: " + text.substr(0, 40));
    }

    TScriptFailure fail_;
    Harness side_;
    std::vector<TPeer> peers_;
};

// Choices from a seeded generator, for a fixed number of steps.
class TSeededChoices final : public IScriptChoices {
public:
    explicit TSeededChoices(uint32_t seed) : state_(seed * 2654435761u + 1) {}
    uint32_t Below(uint32_t bound) override {
        state_ = state_ * 1103515245u + 12345u;
        return (state_ >> 8) % bound;
    }
    bool Exhausted() const override { return false; }

private:
    uint32_t state_;
};
