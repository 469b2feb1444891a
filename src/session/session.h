#pragma once
// The chat session, without widgets and without I/O, as front ends see it:
// verbs in the domain's words (listen, connect, say, offer, answer an offer,
// cancel, disconnect, trace) and what happens told to an ISessionView.
//
// Inside, each part owns one thing: the connection (sockets, peers, our own
// close), the wire (frames both ways, one pump), the phase (who takes a
// payload), the key exchange, the record layer (plaintexts to payloads), the
// file transfer and the trace file. They report back through the narrow
// interfaces this class implements; none reaches into another.
//
// Everything here runs on the thread that owns the session, from its event
// loop. No verb throws: errors go to the view's ShowError, or on the receive
// path to the message log followed by a disconnect.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "session/connection.h"
#include "session/environment.h"
#include "session/filetransfer.h"
#include "session/keyexchange.h"
#include "session/phase.h"
#include "session/recordlayer.h"
#include "session/sessionview.h"
#include "session/tracefile.h"
#include "session/wire.h"

class TChatSession final : private IConnectionEvents,
                           private IWireEvents,
                           private IKeyExchangeOutput,
                           private ITransferOutput,
                           private IFrameSource {
public:
    TChatSession(ISessionView& view, TSessionEnvironment environment);
    ~TChatSession();
    TChatSession(const TChatSession&) = delete;
    TChatSession& operator=(const TChatSession&) = delete;

    // Protocol details in the message log; the pause after every frame sent.
    void SetDebugMode(bool on);
    void SetSleepDuringTransfer(int32_t milliseconds);

    // Makes a key pair of keySize bits off this thread, then listens on
    // port; both as typed, so their errors read as the conversion's.
    // Ignored while a key pair is being made.
    void Listen(const std::string& keySizeText, const std::string& portText);
    void Connect(const std::string& host, const std::string& portText);
    void Disconnect();
    // Sends a chat line, then logs it as ours. False when it could not go.
    bool Say(const std::string& text);
    // Offers a file the person chose.
    void Offer(const std::string& path);
    // The answer to the offer last put to the person; an empty path refuses.
    void AnswerOffer(const TSaveTarget& target);
    // Stops the file being sent; the end message goes out at once.
    void CancelSending();
    // The trace file "quellmere.log" in the working folder.
    void StartLogging();
    void StopLogging();
    bool TraceFileLeftOnDisk();
    // The key material and the received bytes go; at close, say.
    void cleanupMemory();

    TSessionState State() const;
    // Frames wait for the pause, or bytes for the system to take them.
    bool HasUnsentFrames();

    // During the key exchange: its longest frame is a part of the largest
    // key, about 5,000 digits.
    static constexpr std::size_t maxUnframedHandshakeBytes = 64u * 1024u;
    // Afterwards a peer may send at most this many bytes without ending a frame.
    static constexpr std::size_t maxUnframedBytes = 16u * 1024u * 1024u;

private:
    friend class TSessionInspection;

    void Fire(TPhaseEvent event);
    void NotifyState();
    bool RunGuarded(const std::function<void()>& action);

    void ListenWithKey(std::unique_ptr<TPrivateKey> key, const std::string& keySizeText, const std::string& portText);
    void KeyGenerationFailed(const std::string& text);
    void AbortConnection(const std::string& reason);
    // Disconnect as the button does; the end is told as END.
    void EndConnection(TConnectionEnd end);
    // A connection ended: what was made for it goes; the key pair stays.
    void ForgetConnection();
    // The peer that went is gone; its end is told when report has one.
    void AcceptedPeerLeft(std::optional<TConnectionEnd> report);
    void ConnectedPeerLeft(std::optional<TConnectionEnd> report);
    void EndLeavingPeer(std::optional<TConnectionEnd> report);
    void handleReceivedCiphertext(const std::string& payload);

    // IConnectionEvents
    void Log(const std::string& line) override;
    void ShowError(const std::string& text) override;
    void Listening(int port) override;
    bool MayServe() const override;
    void PeerArriving() override;
    void PeerAccepted(ISocketConnection& peer) override;
    void PeerConnected(ISocketConnection& peer) override;
    void Readable() override;
    void Writable() override;
    void PeerLeft(ISocketConnection& socket, TPeerSide side) override;
    void SocketError(int code) override;
    void ConnectFailed() override;

    // IWireEvents
    bool TakesPayloads() const override;
    void Payload(const std::string& payload) override;
    void ProtocolError(const std::string& reason) override;
    std::size_t OpenFrameLimit() const override;
    void AllHeard() override;
    void Drained() override;

    // IKeyExchangeOutput
    void sendTextToPeer(const std::string& payload) override;
    void Detail(std::string line) override;
    void Trace(const std::string& line) override;
    void KeyAgreed(const std::string& sessionKey) override;
    void WorkDone() override;
    void Failed(const std::string& reason) override;

    // ITransferOutput
    void sendTextToPeerEncrypted(const std::string& plaintext) override;
    bool WantsDetails() const override;
    void StateChanged() override;
    void ChunksReady() override;
    std::shared_ptr<const IRecordLayer> RecordLayer() const override { return record_; }
    uint64_t ConnectionGeneration() const override { return connection_.Generation(); }
    void OfferArrived(const std::string& question, const std::string& offeredName) override;
    void Progress(int percent, int64_t done, int64_t total) override;
    void FocusWanted(TFocusRequest focus) override;
    void BusyChanged(bool busy) override;
    void TextEntryEnabled(bool enabled) override;
    void AttentionWanted() override;

    // IFrameSource: the file's chunks.
    bool NextPayload(std::string& payload) override;

    ISessionView& view_;
    std::unique_ptr<IFileSystem> files_;
    std::unique_ptr<IClock> clock_;
    std::unique_ptr<ITimer> pauseTimer_;
    std::unique_ptr<ITimer> turnTimer_;
    TKeyGenerator generateKey_;
    // The destructor lets it go first, so no result of its work arrives at a
    // session that is going.
    std::unique_ptr<IWorker> worker_;

    TConnection connection_;
    TWire wire_;
    TKeyExchange keys_;
    TFileTransfer transfer_;
    TTraceFile trace_;
    std::shared_ptr<const IRecordLayer> record_;

    TPhase phase_ = TPhase::Idle;
    bool debugMode_ = false;
    // The peer that went while what it sent was still to be heard.
    std::optional<TPeerSide> leaving_;
};
