// The encrypted channel after a completed key exchange with a fixed session
// key: chat lines, file offers, chunks, end messages and the answers to our
// own offers, as decrypted texts and as raw payloads, mixed with what the
// person here does meanwhile. Files live in the fake file system.
//
// Input: records of an operation byte, a 16-bit length and that many bytes.

#include "cipher/rijndael.h"
#include "cipher/sha256.h"
#include "fuzzsupport.h"
#include "session/channel.h"
#include "session/filetransfer.h"

namespace {

constexpr const char* kSessionKey = "Fuzz session key of 32 chars ok!";
constexpr const char* kOutgoingFile = "/out/offered.bin";

// The connecting peer's half of the key exchange for the fixed key pair:
// the part count, then each character of the session key under its public key.
const std::vector<std::string>& KeyExchangePayloads() {
    static const std::vector<std::string> payloads = [] {
        ResetKeyRandomness();
        const TPrivateKey key(kFuzzKeyBits);
        TCiphertextList parts;
        key.GetPublicKey()->Encrypt(kSessionKey, parts);
        std::vector<std::string> result{std::to_string(parts.Count())};
        for (std::size_t i = 0; i < parts.Count(); ++i)
            result.push_back(std::to_string(i) + "=" + parts[i].Number->ToString());
        return result;
    }();
    return payloads;
}

// The peer's texts under the session key: keyed once and restarted for each
// text, which gives what a fresh cipher per text gives at a tenth of the cost.
std::string EncryptAsPeer(const std::string& plaintext) {
    static TRijndael cipher;
    static const bool keyed = [] {
        cipher.SetKeyFromText(kSessionKey, TSha256::Class());
        const std::string sample = "the same as a fresh cipher gives";
        cipher.EncryptText(sample);
        cipher.Restart();
        FUZZ_CHECK(cipher.EncryptText(sample) == SealUnder(kSessionKey, sample));
        return true;
    }();
    static_cast<void>(keyed);
    cipher.Restart();
    return cipher.EncryptText(plaintext);
}

enum class TOperation : uint8_t {
    EncryptedText,   // the bytes are the plaintext of the peer's next payload
    RawPayload,      // the bytes are the payload itself
    HexChunk,        // the bytes go as a chunk of a file, hexadecimal and encrypted
    EndMessage,      // the end message with the checksum of what arrived so far
    OfferFile,       // the person offers a file of these bytes
    CancelSending,   // the person stops the file being sent
    PersonsAnswers,  // whether the person accepts offers, and where files go
    RawBytes,        // the bytes as they are, no framing
};
constexpr uint8_t kOperationCount = 8;

class TChannelUnderTest {
public:
    TChannelUnderTest() {
        for (const std::string& payload : KeyExchangePayloads()) session_.ReceiveFrame(payload);
        // The set-up itself must work, or nothing below tests the channel.
        FUZZ_CHECK(!session_.side.State().isHandshaking);
        FUZZ_CHECK(session_.side.In().sessionKey() == kSessionKey);
        session_.side.view.saveAs = "/in/received.bin";
    }

    bool Connected() const { return session_.PeerConnected(); }

    void Apply(TOperation operation, const std::string& bytes) {
        Harness& side = session_.side;
        switch (operation) {
            case TOperation::EncryptedText: session_.ReceiveFrame(EncryptAsPeer(bytes)); break;
            case TOperation::RawPayload: session_.ReceiveFrame(bytes); break;
            case TOperation::HexChunk: session_.ReceiveFrame(EncryptAsPeer(HexChunk(bytes))); break;
            case TOperation::EndMessage: {
                const uint32_t checksum = side.In().transferChecksum();
                const std::string text = std::string(kFileEndMarker) + "?" + std::to_string(checksum) + bytes;
                session_.ReceiveFrame(EncryptAsPeer(text));
                break;
            }
            case TOperation::OfferFile:
                side.files->files[kOutgoingFile] = bytes;
                side.session->Offer(kOutgoingFile);
                break;
            case TOperation::CancelSending: side.session->CancelSending(); break;
            case TOperation::PersonsAnswers: {
                const uint8_t choice = bytes.empty() ? 0 : static_cast<uint8_t>(bytes[0]);
                side.view.answerYes = (choice & 1) != 0;
                side.view.saveAs = (choice & 2) != 0 ? std::string() : "/in/" + bytes.substr(bytes.empty() ? 0 : 1);
                side.files->refusal = (choice & 4) != 0 ? "Access denied" : std::string();
                side.files->diskSpace = (choice & 8) != 0 ? 300 : static_cast<std::size_t>(-1);
                break;
            }
            case TOperation::RawBytes: session_.Receive(bytes); break;
        }
        side.worker->RunAll();
        // What we send back is not read here; it must not pile up either.
        session_.peer->sent.clear();
    }

    void Finish() {
        session_.side.session->Disconnect();
        FUZZ_CHECK(!session_.side.State().isTransferring);
    }

private:
    TListeningSession session_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    TFuzzBytes input(data, size);
    TChannelUnderTest channel;
    while (!input.Empty() && channel.Connected()) {
        const auto operation = static_cast<TOperation>(input.Byte() % kOperationCount);
        const std::size_t length = input.Word();
        channel.Apply(operation, input.Take(length));
    }
    channel.Finish();
    return 0;
}
