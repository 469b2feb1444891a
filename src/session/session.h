#pragma once
// The chat session, without widgets and without I/O: the conductor of the
// connection lifecycle, the framing of the wire protocol and the dispatch of
// payloads. Each feature (the key material, the trace file, and later the
// key exchange, the encrypted channel and the file transfer) is an object of
// its own that reaches the conductor through ISessionPort. Sockets, files,
// the clock, the timer and the worker thread come in through the
// environment; the person through the view.
//
// Everything here runs on the thread that owns the session, from its event
// loop. No public member throws: errors go to the view's ShowError, or on the
// receive path to the message log followed by a disconnect.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "session/channel.h"
#include "session/controlrules.h"
#include "session/environment.h"
#include "session/filetransfer.h"
#include "session/framing.h"
#include "session/keyexchange.h"
#include "session/payloadhandler.h"
#include "session/sessionport.h"
#include "session/sessionview.h"
#include "session/tracefile.h"

// How a conversation ended, for front ends that act on it.
enum class TConnectionEnd {
    PeerLeft,         // the peer closed the connection
    LocalDisconnect,  // Disconnect here
    ReceiveError,     // what the peer sent broke the protocol
    ConnectFailed,    // the connection was never made
};

class TChatSession final : public ISessionPort {
public:
    TChatSession(ISessionView& view, TSessionEnvironment environment);
    ~TChatSession();
    TChatSession(const TChatSession&) = delete;
    TChatSession& operator=(const TChatSession&) = delete;

    // Window events.
    void FormCreate();
    void FormShow();
    // Writes the settings and scrubs what was shown. Returns false, doing
    // nothing, while a key pair is being generated: the window must stay open.
    bool FormClose();

    // Buttons (and their toolbar twins).
    void btnListenClick();
    void btnConnectClick();
    void btnDisconnectClick();
    void SpeedButton1Click();
    void btnStartLoggingClick();
    void btnStopLoggingClick();
    // A key in the entry field: Return sends its text and echoes it.
    void txtTextToSendKeyPress(char key);
    // Send file: the file-open dialog, then the offer.
    void btnSendFileClick();
    // An offer of a file already chosen (dropped on the window, named in a command).
    void OfferFile(const std::string& path);
    // Stops the file being sent; the end message goes out at once.
    void CancelSending();
    // The desktop extras: the companion tool, the read-me page and an
    // immediate power-off that asks no one and closes nothing first.
    void sbLaunchVantrelClick();
    void sbVisitWebSiteClick();
    void SpeedButton20Click();
    // True when the system accepted the request; a refusal shows nothing.
    bool WindowsExit(uint32_t flags);

    // Options of the terminal program over the settings file's values.
    void SetDebugMode(bool on) { debugMode_ = on; }
    void SetSleepDuringTransfer(int32_t milliseconds) { sleepDuringTransfer_ = milliseconds; }

    // Fired once whenever a connection or the attempt to make one ends.
    std::function<void(TConnectionEnd)> OnConnectionEnded;

    // ISessionPort
    void sendTextToPeer(const std::string& payload) override;
    void AppendLog(const std::string& line) override;
    void DebugLine(std::string line) override;
    void TraceLine(const std::string& line) override;
    void EndHandshake() override;
    void Disconnect() override;
    void AbortConnection(const std::string& reason) override;
    void HoldFrames() override;
    void ReleaseFrames() override;
    uint64_t connectionGeneration() const override { return connectionGeneration_; }
    void FixControls() override;
    bool WantsDebugLines() const override { return debugMode_ || trace_.isLogging(); }

    // Bytes from the peer: split into frames, checked, dispatched by the frame loop.
    void handleReceivedText(const std::string& data);

    // A sender of many frames: asked for the next payload whenever the pause
    // between frames is over and the connection holds less than
    // sendRoomBytes unsent. Dropped when the connection ends; nullptr stops it.
    void SetFrameSource(IFrameSource* source) override;
    // The source has more to send now.
    void PullFrames() override;
    bool HasSendRoom();
    // Frames wait for the pause, or bytes for the system to take them.
    bool HasUnsentFrames();

    // Where payloads go; nullptr puts back the default: the key exchange and
    // the encrypted channel.
    void SetPayloadHandler(std::unique_ptr<IPayloadHandler> handler);
    // Where the channel hands the file-transfer texts.
    void SetFileTransferTexts(IFileTransferTexts* transfer) { channel_.SetFileTransferTexts(transfer); }

    // Session state.
    TSessionFlags Flags() const;
    bool isActive() const { return isActive_; }
    bool isHandshaking() const { return isHandshaking_; }
    bool isServer() const { return isServer_; }
    bool isTransferring() const { return transfer_.isTransferring(); }
    bool debugMode() const { return debugMode_; }
    bool isLogging() const { return trace_.isLogging(); }
    bool saveHost() const { return saveHost_; }
    int32_t sleepDuringTransfer() const { return sleepDuringTransfer_; }
    const std::string& vantrelPath() const { return vantrelPath_; }
    int32_t sendSequence() const { return sendSequence_; }
    int32_t receiveSequence() const { return receiveSequence_; }
    int32_t keyPartsExpected() const { return keys_.keyPartsExpected(); }
    std::string receiveBuffer() const { return std::string(receiveBuffer_.Unframed()); }
    const TFrameReader& frameReader() const { return receiveBuffer_; }
    const TKeyExchange& keyExchange() const { return keys_; }
    TEncryptedChannel& channel() { return channel_; }
    const TFileTransfer& fileTransfer() const { return transfer_; }
    const std::string& sessionKey() const { return keys_.sessionKey(); }
    TPrivateKey* privateKey() const { return keys_.privateKey(); }
    // True from Listen until its key pair exists; session commands are ignored meanwhile.
    bool isGeneratingKey() const { return isGeneratingKey_; }
    // Frames waiting for the pause between frames to end.
    std::size_t pendingFrames() const { return sendQueue_.size(); }

    IClientSocket& ClientSocket1() { return *client_; }
    IServerSocket& ServerSocket1() { return *server_; }
    ISessionView& view() { return view_; }

    // Socket events (wired to the components by the constructor).
    void ServerSocket1Listen();
    void ServerSocket1Accept(ISocketConnection& socket);
    void ServerSocket1ClientDisconnect(ISocketConnection& socket);
    void ServerSocket1ClientError(ISocketConnection& socket, TErrorEvent errorEvent, int& errorCode);
    void ServerSocket1ClientRead(ISocketConnection& socket);
    void ClientSocket1Connect(ISocketConnection& socket);
    void ClientSocket1Disconnect(ISocketConnection& socket);
    void ClientSocket1Error(ISocketConnection& socket, TErrorEvent errorEvent, int& errorCode);
    void ClientSocket1Read(ISocketConnection& socket);

    void cleanupMemory();
    static std::string genGarbageString(int count);

    // A peer may send at most this many bytes without ending a frame.
    static constexpr std::size_t maxUnframedBytes = 16u * 1024u * 1024u;
    // During the key exchange: its longest frame is a part of the largest
    // key, about 5,000 digits.
    static constexpr std::size_t maxUnframedHandshakeBytes = 64u * 1024u;
    // The frame loop takes at most this many frames in one turn of the event
    // loop, so the window stays live however many wait.
    static constexpr int framesPerTurn = 256;
    // Received bytes waiting for the frame loop; while this much waits, the
    // rest stays with the system, which slows the peer.
    static constexpr std::size_t maxWaitingBytes = 1024u * 1024u;
    // A frame source is asked for more while less than this waits unsent.
    static constexpr std::size_t sendRoomBytes = 64u * 1024u;

private:
    void WireEvents();
    void UnwireEvents();
    void flashTaskBarIfInactive();
    // Runs an action of a button or event; errors go to the error display.
    // False when there was one.
    bool guarded(const std::function<void()>& action);
    void ApplySettings(const std::string& fileBytes);
    void WriteSettings();
    void OverwriteShownTexts();
    void GenerateKeyThenListen(int32_t keySize, const std::string& keySizeText);
    void listenWithKey(std::unique_ptr<TPrivateKey> key, const std::string& keySizeText);
    void keyGenerationFailed(const std::string& text);
    // Peers that connected while the key pair was being made are served now.
    void ServeHeldPeers();
    bool IsHeld(const ISocketConnection& socket) const;
    // A peer that left while frames it sent still waited: its leaving is
    // handled once the loop has taken them.
    enum class TLeavingPeer { None, Accepted, Connected };
    void AcceptedPeerLeft(TConnectionEnd end);
    void ConnectedPeerLeft(TConnectionEnd end);
    // A peer that leaves is heard to its end first: what it sent before it
    // went is read now and taken in the loop's turns, as any frames are. Not
    // when we close it, nor when the rest can no longer matter (frames held
    // for its key exchange's work, a dialog open for it). False: it is gone now.
    bool HearTheRestFirst(ISocketConnection& socket, TLeavingPeer peer);
    // The leaving peer, if any, is gone from here on.
    void EndLeavingPeer(TConnectionEnd end);
    // Empties the receive buffer, also under a frame loop that is running,
    // and starts a new connection generation.
    void ForgetReceivedBytes();
    // A connection ended: what was made for it goes; the key pair stays.
    void ForgetConnection();
    // The one frame loop: one turn of at most framesPerTurn frames. Called
    // again while it runs (a read during a dialog), it only checks the bytes.
    void RunFrameLoop();
    void TakeFrames();
    void CheckOpenFrame();
    // Asks for the next turn when frames, or unread bytes, wait.
    void ScheduleTurnIfWaiting();
    void NextTurn();
    bool MayReadMore() const;
    void DispatchPayload(const std::string& payload);
    void ConnectionEnded(TConnectionEnd end);
    // btnDisconnectClick without its refusal while a key is being made.
    void disconnectNow();
    // The connection frames go to: the client's, else the server's first one.
    ISocketConnection* currentConnection();
    void sendNextQueuedFrame();
    // Frames of a connection that ended, or of one that has not begun, are dropped.
    void dropPendingFrames();

    ISessionView& view_;
    std::unique_ptr<IClientSocket> client_;
    std::unique_ptr<IServerSocket> server_;
    std::unique_ptr<ISettingsStore> settings_;
    std::unique_ptr<IFileSystem> files_;
    std::unique_ptr<IClock> clock_;
    std::unique_ptr<ITimer> pauseTimer_;
    std::unique_ptr<ITimer> turnTimer_;
    TKeyGenerator generateKey_;
    std::unique_ptr<IDesktop> desktop_;
    std::string projectHomepage_;
    // The destructor lets it go first, so no result of its work arrives at a
    // session that is going.
    std::unique_ptr<IWorker> worker_;
    // Empty: payloads go to the features.
    std::unique_ptr<IPayloadHandler> payloadHandler_;

    bool isActive_ = false;
    bool isHandshaking_ = false;
    bool isServer_ = false;
    bool debugMode_ = false;
    bool saveHost_ = false;
    int32_t sleepDuringTransfer_ = 0;
    std::string vantrelPath_ = "vantrel.exe";

    TFrameReader receiveBuffer_;
    // Counts connections and receiveBuffer_ resets, so the frame loop and
    // everything else made for a connection notice that it ended under them.
    uint64_t connectionGeneration_ = 0;
    bool inFrameLoop_ = false;
    // A read was left to the system while frames waited.
    bool readDeferred_ = false;
    TLeavingPeer leavingPeer_ = TLeavingPeer::None;
    int32_t sendSequence_ = 0;
    int32_t receiveSequence_ = 0;

    // The features.
    TKeyExchange keys_;
    TEncryptedChannel channel_;
    TFileTransfer transfer_;
    TTraceFile trace_;
    bool framesHeld_ = false;
    // Set while the receive path ends a connection, so the end is told as such.
    bool endingOnReceiveError_ = false;

    std::deque<std::string> sendQueue_;
    IFrameSource* frameSource_ = nullptr;
    bool pullingFrames_ = false;

    // The connection being turned away in ServerSocket1Accept; its disconnect is not ours.
    const ISocketConnection* rejecting_ = nullptr;
    std::vector<ISocketConnection*> heldPeers_;

    bool isGeneratingKey_ = false;
    // Set while Disconnect runs: the ends it causes are told once, as its own.
    bool disconnecting_ = false;
};
