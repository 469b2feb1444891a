#pragma once
// What tests and fuzz targets may read of a session's insides, and nothing
// else does: the product's own code goes through the session's verbs and
// its view.

#include <string>

#include "session/session.h"

class TSessionInspection {
public:
    explicit TSessionInspection(const TChatSession& session) : session_(session) {}

    const TKeyExchange& keyExchange() const { return session_.keys_; }
    const TFileTransfer& fileTransfer() const { return session_.transfer_; }
    const std::string& sessionKey() const { return session_.keys_.sessionKey(); }
    TPrivateKey* privateKey() const { return session_.keys_.privateKey(); }
    int32_t keyPartsExpected() const { return session_.keys_.keyPartsExpected(); }
    std::size_t framesWaitingForThePause() const { return session_.wire_.framesWaitingForThePause(); }
    int32_t sendSequence() const { return session_.wire_.sendSequence(); }
    int32_t receiveSequence() const { return session_.wire_.receiveSequence(); }
    const TFrameReader& frameReader() const { return session_.wire_.receiveBuffer(); }
    std::string receiveBuffer() const { return std::string(frameReader().Unframed()); }
    TPhase phase() const { return session_.phase_; }
    int32_t sleepDuringTransfer() const { return session_.wire_.pause(); }
    const IRecordLayer& recordLayer() const { return *session_.record_; }

private:
    const TChatSession& session_;
};
