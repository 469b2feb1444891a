#include "session/keyexchange.h"

#include "isaac/isaac.h"
#include "secure/secrettext.h"
#include "secure/securewipe.h"
#include "session/convert.h"
#include "session/errors.h"

namespace {

// A peer's numbers may not be longer than the largest key this program
// makes: 16384 bits, at most this many decimal digits.
constexpr std::size_t kMaxPeerNumberDigits = 4933;

// A number from the peer, refused before any work when it is too long to be
// a number of a key this program could make.
std::unique_ptr<TBigint> ReadPeerNumber(const std::string& text, const char* what) {
    if (text.size() > kMaxPeerNumberDigits)
        throw EProtocolError(std::string("Peer's ") + what + " is longer than " + std::to_string(kMaxKeyBits) +
                             " bits");
    std::unique_ptr<TBigint> number = TBigint::CreateFromDecimal(text);
    if (number->BitLength() > kMaxKeyBits)
        throw EProtocolError(std::string("Peer's ") + what + " is longer than " + std::to_string(kMaxKeyBits) +
                             " bits");
    return number;
}

std::string MakeSessionKeyText() {
    // Seeded from the system's entropy: a guessable seed would give the key away.
    TIsaac generator;
    SeedFromSystemEntropy(generator);
    std::string key;
    // Room for all of it first: a text that grows leaves copies of its start behind.
    key.reserve(kSessionKeyLength);
    for (int i = 0; i < kSessionKeyLength; ++i) key += static_cast<char>(generator.Range(95) + 32);
    return key;
}

}  // namespace

std::string LPad(const std::string& text, std::size_t width) {
    if (text.size() >= width) return text;
    return std::string(width - text.size(), '0') + text;
}

TKeyExchange::~TKeyExchange() { ReleaseSessionKey(); }

void TKeyExchange::ReleaseSessionKey() { SecureWipe(sessionKey_); }

void TKeyExchange::ReleaseKeys() {
    // Destroying the numbers wipes them.
    privateKey_.reset();
    ResetExchange();
}

void TKeyExchange::ResetExchange() {
    ReleaseSessionKey();
    remotePublicKey_.reset();
    keyParts_.reset();
    remoteModulus_.reset();
    remoteExponent_.reset();
    keyPartsExpected_ = 0;
    keyPartsReceived_ = 0;
    ++epoch_;
    working_ = false;
}

void TKeyExchange::RunHeld(std::function<std::function<void()>()> work) {
    const uint64_t epoch = epoch_;
    working_ = true;
    worker_.Run([this, epoch, work = std::move(work)]() -> std::function<void()> {
        std::function<void()> step = work();
        return [this, epoch, step = std::move(step)] {
            // The connection ended meanwhile: what was worked on is gone.
            if (epoch != epoch_) return;
            working_ = false;
            try {
                step();
            } catch (const std::exception& error) {
                output_.Failed(error.what());
                return;
            }
            output_.WorkDone();
        };
    });
}

// ---------------------------------------------------------------- server

void TKeyExchange::SendPublicKey(const std::string& peerHost) {
    output_.Log("Sending our public key");
    const std::unique_ptr<TPublicKey> publicKey = privateKey_->GetPublicKey();
    const std::string n = publicKey->GetN().ToString();
    output_.Detail("Sending N: " + n);
    output_.sendTextToPeer(n);
    const std::string e = publicKey->GetE().ToString();
    output_.Detail("Sending E: " + e);
    output_.sendTextToPeer(e);
    output_.Log("Sent public key to " + peerHost + ", receiving AES key, please wait...");
}

void TKeyExchange::doServerHandshaking(const std::string& payload) {
    if (keyPartsExpected_ == 0)
        ReadKeyHeader(payload);
    else if (keyPartsReceived_ < keyPartsExpected_)
        ReadKeyPart(payload);
}

void TKeyExchange::ReadKeyHeader(const std::string& payload) {
    const int32_t count = StrToInt(payload);
    // A header of 0 is read again with the next payload.
    if (count < 0 || count > kMaxKeyParts) throw EProtocolError("Invalid number of AES key parts: " + payload);
    keyPartsExpected_ = count;
    output_.Detail("Read AES key header, size=" + payload);
    keyParts_ = std::make_unique<TCiphertextList>();
    keyPartsReceived_ = 0;
}

void TKeyExchange::ReadKeyPart(const std::string& payload) {
    const std::size_t equals = payload.find('=');
    const std::string index = equals == std::string::npos ? std::string() : payload.substr(0, equals);
    if (index.size() > kMaxKeyPartIndexLength)
        throw EProtocolError("Peer's AES key part index is longer than " + std::to_string(kMaxKeyPartIndexLength) +
                             " characters");
    const std::string numberText = equals == std::string::npos ? payload : payload.substr(equals + 1);
    std::unique_ptr<TBigint> number = ReadPeerNumber(numberText, "AES key part");
    if (number->Compare(privateKey_->GetN()) >= 0)
        throw EProtocolError("AES key part " + index + " is not below the modulus");
    const std::string shown = number->ToString();
    keyParts_->AddSorted(LPad(index, 8), std::move(number));
    output_.Detail("Read AES key part " + index + "=" + shown);
    ++keyPartsReceived_;
    if (keyPartsReceived_ == keyPartsExpected_) DecryptKeyParts();
}

void TKeyExchange::DecryptKeyParts() {
    output_.Log("Received encrypted AES key...please wait whilst decrypting");
    // The work holds what it uses: a Disconnect meanwhile must not free it under the worker.
    std::shared_ptr<const TPrivateKey> key = privateKey_;
    std::shared_ptr<TCiphertextList> parts(std::move(keyParts_));
    RunHeld([key, parts, this]() -> std::function<void()> {
        // Wiped however it ends, also when the connection is gone by then.
        auto decrypted = std::make_shared<TSecretText>();
        std::string failure;
        try {
            *decrypted = TSecretText(key->DecryptParallel(*parts));
        } catch (const std::exception& error) {
            failure = error.what();
        }
        return [this, decrypted, failure] {
            if (!failure.empty()) {
                output_.Failed(failure);
                return;
            }
            sessionKey_.assign(decrypted->str());
            decrypted->Wipe();
            output_.Log("Decrypted AES key ok");
            output_.Detail("AES key:" + sessionKey_);
            output_.sendTextToPeer(kAcknowledge);
            Complete(true);
        };
    });
}

// ---------------------------------------------------------------- client

void TKeyExchange::doClientHandshaking(const std::string& payload) {
    if (!remoteModulus_)
        ReadRemoteModulus(payload);
    else if (!remoteExponent_)
        ReadRemoteExponentAndSendKey(payload);
    else if (payload == kAcknowledge)
        Complete(false);
}

void TKeyExchange::ReadRemoteModulus(const std::string& payload) {
    remoteModulus_ = ReadPeerNumber(payload, "RSA modulus");
    output_.Detail("Received N: " + remoteModulus_->ToString());
}

void TKeyExchange::ReadRemoteExponentAndSendKey(const std::string& payload) {
    remoteExponent_ = ReadPeerNumber(payload, "RSA exponent");
    output_.Detail("Received E: " + remoteExponent_->ToString());
    remotePublicKey_ = TPublicKey::Create(*remoteExponent_, *remoteModulus_);
    output_.Log("Received remote RSA public key ok");

    output_.Log("Generating AES key");
    sessionKey_ = MakeSessionKeyText();
    output_.Log("Generated AES key");
    output_.Detail("AES key:" + sessionKey_);

    output_.Log("Encrypting AES key with remote RSA public key...please wait");
    // The work holds copies: a Disconnect meanwhile must not free them under the worker.
    auto exponent = std::make_shared<const TBigint>(*remoteExponent_);
    auto modulus = std::make_shared<const TBigint>(*remoteModulus_);
    RunHeld([this, exponent, modulus, keyText = std::make_shared<TSecretText>(sessionKey_)]() -> std::function<void()> {
        auto parts = std::make_shared<TCiphertextList>();
        std::string failure;
        try {
            TPublicKey(*exponent, *modulus).EncryptParallel(keyText->str(), *parts);
        } catch (const std::exception& error) {
            failure = error.what();
        }
        return [this, parts, failure] {
            if (!failure.empty()) {
                output_.Failed(failure);
                return;
            }
            SendEncryptedKey(*parts);
        };
    });
}

void TKeyExchange::SendEncryptedKey(const TCiphertextList& parts) {
    output_.Log("Transmitting AES key");
    const std::string count = std::to_string(parts.Count());
    output_.Detail("Sending size " + count);
    output_.sendTextToPeer(count);
    for (std::size_t i = 0; i < parts.Count(); ++i) {
        const std::string part = std::to_string(i) + "=" + parts[i].Number->ToString();
        output_.sendTextToPeer(part);
        output_.Detail("Sending AES key part " + part);
    }
    output_.Log("Transmitted AES key, waiting for peer to decrypt & acknowledge");
}

// ---------------------------------------------------------------- both

void TKeyExchange::Complete(bool traceIt) {
    output_.Log(kHandshakeCompleteText);
    if (traceIt) output_.Trace(kHandshakeCompleteText);
    output_.KeyAgreed(sessionKey_);
}
