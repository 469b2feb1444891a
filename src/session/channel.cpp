#include "session/channel.h"

#include "cipher/rijndael.h"
#include "cipher/sha256.h"

namespace {

// A fresh cipher for each text, wiped before it goes, also on an error.
template <class Operation>
std::string WithSessionCipher(const std::string& sessionKey, Operation operation) {
    TRijndael cipher;
    try {
        cipher.SetKeyFromText(sessionKey, TSha256::Class());
        std::string result = operation(cipher);
        cipher.Wipe();
        return result;
    } catch (...) {
        cipher.Wipe();
        throw;
    }
}

}  // namespace

std::string encryptWithAES(const std::string& sessionKey, const std::string& plaintext) {
    return WithSessionCipher(sessionKey, [&](TRijndael& cipher) { return cipher.EncryptText(plaintext); });
}

std::string decryptWithAES(const std::string& sessionKey, const std::string& ciphertext) {
    return WithSessionCipher(sessionKey, [&](TRijndael& cipher) { return cipher.DecryptText(ciphertext); });
}

void TEncryptedChannel::sendTextToPeerEncrypted(const std::string& plaintext) {
    const std::string ciphertext = encryptWithAES(keys_.sessionKey(), plaintext);
    port_.DebugLine("Sending plaintext: " + plaintext);
    port_.DebugLine("Sending ciphertext: " + ciphertext);
    port_.sendTextToPeer(ciphertext);
}

void TEncryptedChannel::SendTypedLine() {
    const std::string text = view_.FieldText(TSessionField::TextToSend);
    sendTextToPeerEncrypted(text);
    // The time is taken after the send.
    port_.AppendLog("YOU  (" + clock_.LongTimeText() + ") : " + text);
    view_.SetFieldText(TSessionField::TextToSend, std::string());
}

// The payload is at most a frame (16 MiB); the text it gives is shorter still.
void TEncryptedChannel::handleReceivedCiphertext(const std::string& payload) {
    port_.DebugLine("Received ciphertext: " + payload);
    const std::string plaintext = decryptWithAES(keys_.sessionKey(), payload);
    port_.DebugLine("Received plaintext: " + plaintext);
    // The first rule that matches decides; a program without file transfer
    // still takes its texts for what they are.
    if (plaintext == kFileAccepted) {
        if (transfer_ != nullptr) transfer_->FileAccepted();
    } else if (plaintext == kFileRefused) {
        if (transfer_ != nullptr) transfer_->FileRefused();
    } else if (transfer_ != nullptr && transfer_->isReceiving()) {
        transfer_->FileData(plaintext);
    } else if (plaintext.find(kFileStartMarker) != std::string::npos) {
        if (transfer_ != nullptr) transfer_->FileOffered(plaintext);
    } else {
        ShowChatLine(plaintext);
    }
}

void TEncryptedChannel::ShowChatLine(const std::string& plaintext) {
    port_.AppendLog("PEER (" + clock_.LongTimeText() + ") : " + plaintext);
    if (!view_.IsApplicationActive()) view_.FlashTaskBar();
}
