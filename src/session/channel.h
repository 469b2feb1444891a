#pragma once
// The encrypted text channel: what a received plaintext is. The first rule
// that matches decides, and there is no escaping: a chat line that is
// exactly "FILE_OK", or that holds "**FILE_START**", is taken for that text,
// and while a file is being received every other text is file data.

#include <string>

inline constexpr const char* kFileAccepted = "FILE_OK";
inline constexpr const char* kFileRefused = "FILE_NOK";
inline constexpr const char* kFileStartMarker = "**FILE_START**";

enum class TChannelText {
    FileAccepted,  // exactly "FILE_OK": the peer accepted our offer
    FileRefused,   // exactly "FILE_NOK": the peer refused it
    FileData,      // a chunk or the end message of the file being received
    FileOffered,   // holds "**FILE_START**": the peer offers a file
    ChatLine,
};

TChannelText ClassifyPlaintext(const std::string& plaintext, bool receivingFile);

// "YOU  (11:01:04) : text" and "PEER (11:01:04) : text".
std::string OwnChatLine(const std::string& time, const std::string& text);
std::string PeerChatLine(const std::string& time, const std::string& text);
