#pragma once
// The encrypted text channel: every payload after the key exchange is a text
// encrypted under the session key (SHA-256 of the key text keys AES, 8-bit
// CFB from the fixed vector, Base64). Received texts are classified into
// chat lines and the file-transfer control texts.

#include <string>

#include "session/environment.h"
#include "session/keyexchange.h"
#include "session/sessionport.h"
#include "session/sessionview.h"

// Where the file-transfer texts of the channel go.
class IFileTransferTexts {
public:
    // A file is being received: it takes every text that is not an answer.
    // Not while one is sent: the receiver's chat lines are then chat.
    virtual bool isReceiving() const = 0;
    // Exactly "FILE_OK": the peer accepted an offered file.
    virtual void FileAccepted() = 0;
    // Exactly "FILE_NOK": the peer refused an offered file.
    virtual void FileRefused() = 0;
    // A chunk or the end message of the transfer in progress.
    virtual void FileData(const std::string& text) = 0;
    // A text containing "**FILE_START**": the peer offers a file.
    virtual void FileOffered(const std::string& text) = 0;

protected:
    ~IFileTransferTexts() = default;
};

inline constexpr const char* kFileAccepted = "FILE_OK";
inline constexpr const char* kFileRefused = "FILE_NOK";
inline constexpr const char* kFileStartMarker = "**FILE_START**";

// The session key's text encryption, a fresh cipher each time.
std::string encryptWithAES(const std::string& sessionKey, const std::string& plaintext);
std::string decryptWithAES(const std::string& sessionKey, const std::string& ciphertext);

class TEncryptedChannel {
public:
    TEncryptedChannel(ISessionPort& port, ISessionView& view, IClock& clock, const TKeyExchange& keys)
        : port_(port), view_(view), clock_(clock), keys_(keys) {}

    void SetFileTransferTexts(IFileTransferTexts* transfer) { transfer_ = transfer; }

    void sendTextToPeerEncrypted(const std::string& plaintext);
    void handleReceivedCiphertext(const std::string& payload);
    // Return in the entry field: the line goes out and is echoed, then the field is emptied.
    void SendTypedLine();

private:
    void ShowChatLine(const std::string& plaintext);

    ISessionPort& port_;
    ISessionView& view_;
    IClock& clock_;
    const TKeyExchange& keys_;
    IFileTransferTexts* transfer_ = nullptr;
};
