#pragma once
// The chat session: its state, the connection lifecycle and the framing of the
// wire protocol, without widgets. Sockets, the pause timer, key generation and
// the person (the view) are handed in, so tests can drive it with bytes and
// fakes; the only files it touches are the settings file at the path it is
// given and the trace file "quellmere.log" in the working folder.
//
// Everything here runs on the thread that owns the session, from the Qt event
// loop. No public member throws: errors go to the view's ShowError, or on the
// receive path to the message log followed by a disconnect.

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <QObject>

#include "net/socketapi.h"
#include "session/payloadhandler.h"
#include "session/pausetimer.h"
#include "session/sessionview.h"

class TPrivateKey;
struct TLogFile;

// Makes an RSA key pair of the given size; runs on a worker thread.
using TKeyGenerator = std::function<std::unique_ptr<TPrivateKey>(int32_t keySize)>;

// The outside world of a session.
struct TSessionEnvironment {
    std::unique_ptr<IClientSocket> client;
    std::unique_ptr<IServerSocket> server;
    std::unique_ptr<IPauseTimer> pauseTimer;
    TKeyGenerator generateKey;
};

// QtNetwork sockets, a QTimer and real RSA key generation.
TSessionEnvironment MakeDefaultEnvironment();

class TChatSession {
public:
    // configPath: the settings file (normally quellmere.conf beside the executable).
    TChatSession(ISessionView& view, std::string configPath,
                 TSessionEnvironment environment = MakeDefaultEnvironment());
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

    // Frames the payload and sends it on the current connection.
    void sendTextToPeer(const std::string& payload);
    // Bytes from the peer: split into frames, checked, dispatched.
    void handleReceivedText(const std::string& data);

    // The key exchange and the encrypted channel plug in here; nullptr puts
    // back the default, which ignores payloads.
    void SetPayloadHandler(std::unique_ptr<IPayloadHandler> handler);
    // The key exchange ends (or restarts) the handshake through this; the next
    // frame is dispatched by the new value.
    void SetHandshaking(bool handshaking) { isHandshaking_ = handshaking; }

    // Session state.
    TSessionFlags Flags() const;
    bool isActive() const { return isActive_; }
    bool isHandshaking() const { return isHandshaking_; }
    bool isServer() const { return isServer_; }
    bool isTransferring() const { return isTransferring_; }
    bool debugMode() const { return debugMode_; }
    bool isLogging() const { return isLogging_; }
    bool saveHost() const { return saveHost_; }
    int32_t sleepDuringTransfer() const { return sleepDuringTransfer_; }
    const std::string& vantrelPath() const { return vantrelPath_; }
    int32_t sendSequence() const { return sendSequence_; }
    int32_t receiveSequence() const { return receiveSequence_; }
    int32_t keyPartsExpected() const { return keyPartsExpected_; }
    const std::string& receiveBuffer() const { return receiveBuffer_; }
    const std::string& sessionKey() const { return sessionKey_; }
    TPrivateKey* privateKey() const { return privateKey_.get(); }
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

private:
    void FixControls();
    void flashTaskBarIfInactive();
    void listenWithKey(std::unique_ptr<TPrivateKey> key, const std::string& keySizeText);
    void keyGenerationFailed(const std::string& text);
    void joinKeyThread();
    void processFrames();
    // btnDisconnectClick without its refusal while a key is being made.
    void disconnectNow();
    // The connection frames go to: the client's, else the server's first one.
    ISocketConnection* currentConnection();
    void sendNextQueuedFrame();
    // Frames of a connection that ended, or of one that has not begun, are dropped.
    void dropPendingFrames();
    // Runs an action of a button or event; errors go to the error display.
    void guarded(const std::function<void()>& action);

    ISessionView& view_;
    std::string configPath_;
    std::unique_ptr<IClientSocket> client_;
    std::unique_ptr<IServerSocket> server_;
    std::unique_ptr<IPauseTimer> pauseTimer_;
    TKeyGenerator generateKey_;
    std::unique_ptr<IPayloadHandler> payloadHandler_;

    bool isActive_ = false;
    bool isHandshaking_ = false;
    bool isServer_ = false;
    bool isTransferring_ = false;
    bool debugMode_ = false;
    bool isLogging_ = false;
    bool saveHost_ = false;
    int32_t sleepDuringTransfer_ = 0;
    std::string vantrelPath_ = "vantrel.exe";

    std::recursive_mutex receiveLock_;
    std::string receiveBuffer_;
    int32_t sendSequence_ = 0;
    int32_t receiveSequence_ = 0;
    std::string sessionKey_;
    std::unique_ptr<TPrivateKey> privateKey_;
    int32_t keyPartsExpected_ = 0;

    std::deque<std::string> sendQueue_;
    std::unique_ptr<TLogFile> logFile_;

    // The connection being turned away in ServerSocket1Accept; its disconnect is not ours.
    const ISocketConnection* rejecting_ = nullptr;

    bool isGeneratingKey_ = false;
    std::thread keyThread_;
    // Receives the worker's result as a queued call on the session's thread.
    QObject keyResultContext_;
};
