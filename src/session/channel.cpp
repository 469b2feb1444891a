#include "session/channel.h"

TChannelText ClassifyPlaintext(const std::string& plaintext, bool receivingFile) {
    if (plaintext == kFileAccepted) return TChannelText::FileAccepted;
    if (plaintext == kFileRefused) return TChannelText::FileRefused;
    if (receivingFile) return TChannelText::FileData;
    if (plaintext.find(kFileStartMarker) != std::string::npos) return TChannelText::FileOffered;
    return TChannelText::ChatLine;
}

std::string OwnChatLine(const std::string& time, const std::string& text) { return "YOU  (" + time + ") : " + text; }

std::string PeerChatLine(const std::string& time, const std::string& text) { return "PEER (" + time + ") : " + text; }
