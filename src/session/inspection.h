#pragma once
// What tests and fuzz targets may read of a session's insides, and nothing
// else does: the product's own code goes through the session's verbs and
// its view. The parts it reads name it their friend.

#include <cstddef>
#include <cstdint>
#include <string>

#include "session/session.h"

class TWireInspection {
public:
    explicit TWireInspection(const TWire& wire) : wire_(wire) {}

    int32_t sendSequence() const { return wire_.sendSequence_; }
    int32_t receiveSequence() const { return wire_.receiveSequence_; }
    const TFrameReader& receiveBuffer() const { return wire_.receiveBuffer_; }
    std::size_t framesWaitingForThePause() const { return wire_.waitingFrames_.size(); }
    int32_t pause() const { return wire_.pause_; }

private:
    const TWire& wire_;
};

class TSessionInspection {
public:
    explicit TSessionInspection(const TChatSession& session) : session_(session) {}

    TPhase phase() const { return session_.phase_; }
    const IRecordLayer& recordLayer() const { return *session_.record_; }

    // The key exchange.
    TPrivateKey* privateKey() const { return keys().privateKey_.get(); }
    const std::string& sessionKey() const { return keys().sessionKey_; }
    int32_t keyPartsExpected() const { return keys().keyPartsExpected_; }
    int32_t keyPartsReceived() const { return keys().keyPartsReceived_; }
    const TBigint* remoteModulus() const { return keys().remoteModulus_.get(); }
    const TBigint* remoteExponent() const { return keys().remoteExponent_.get(); }
    bool keyWorkUnderWay() const { return keys().working_; }

    // The file transfer.
    bool isOffering() const { return transfer().isOffering(); }
    bool isSending() const { return transfer().isSending(); }
    bool isAsking() const { return transfer().asking_.has_value(); }
    const std::string& transferFileName() const { return transfer().transferFileName_; }
    int64_t transferSize() const { return transfer().transferSize_; }
    int64_t transferredBytes() const { return transfer().transferredBytes_; }
    uint32_t transferChecksum() const { return transfer().transferChecksum(); }

    // The wire.
    int32_t sendSequence() const { return wire().sendSequence(); }
    int32_t receiveSequence() const { return wire().receiveSequence(); }
    const TFrameReader& frameReader() const { return wire().receiveBuffer(); }
    std::string receiveBuffer() const { return std::string(frameReader().Unframed()); }
    std::size_t framesWaitingForThePause() const { return wire().framesWaitingForThePause(); }
    int32_t sleepDuringTransfer() const { return wire().pause(); }

private:
    const TKeyExchange& keys() const { return session_.keys_; }
    const TFileTransfer& transfer() const { return session_.transfer_; }
    TWireInspection wire() const { return TWireInspection(session_.wire_); }

    const TChatSession& session_;
};
