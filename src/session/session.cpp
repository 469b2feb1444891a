#include "session/session.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

#include "isaac/generalrandom.h"
#include "rsa/privatekey.h"
#include "session/convert.h"
#include "session/displaytext.h"
#include "session/errors.h"
#include "session/guarded.h"
#include "secure/securewipe.h"
#include "session/settings.h"

namespace {

constexpr int kGarbageLength = 255;
 
std::string Decimal(int64_t value) { return std::to_string(value); }

// "16 MiB", "64 KiB": the limits as the log names them.
std::string SizeText(std::size_t bytes) {
    if (bytes % (1024u * 1024u) == 0) return Decimal(static_cast<int64_t>(bytes / (1024u * 1024u))) + " MiB";
    return Decimal(static_cast<int64_t>(bytes / 1024u)) + " KiB";
}

// Set while it lives: a flag that a throw cannot leave set.
class TFlagScope {
public:
    explicit TFlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~TFlagScope() { flag_ = false; }
    TFlagScope(const TFlagScope&) = delete;
    TFlagScope& operator=(const TFlagScope&) = delete;

private:
    bool& flag_;
};

}  // namespace

TChatSession::TChatSession(ISessionView& view, TSessionEnvironment environment)
    : view_(view),
      client_(std::move(environment.client)),
      server_(std::move(environment.server)),
      settings_(std::move(environment.settings)),
      files_(std::move(environment.files)),
      clock_(std::move(environment.clock)),
      pauseTimer_(std::move(environment.pauseTimer)),
      turnTimer_(std::move(environment.turnTimer)),
      generateKey_(std::move(environment.generateKey)),
      desktop_(environment.desktop ? std::move(environment.desktop) : std::make_unique<TNullDesktop>()),
      projectHomepage_(std::move(environment.projectHomepage)),
      worker_(std::move(environment.worker)),
      keys_(*this, view_, *worker_),
      channel_(*this, view_, *clock_, keys_),
      transfer_(*this, view_, *files_, *worker_, channel_, keys_),
      trace_(*files_) {
    if (!client_ || !server_ || !settings_ || !files_ || !clock_ || !pauseTimer_ || !turnTimer_ || !worker_ ||
        !generateKey_)
        throw std::invalid_argument("TChatSession needs every part of its environment");
    channel_.SetFileTransferTexts(&transfer_);
    WireEvents();
}

TChatSession::~TChatSession() {
    // Work under way is waited for; its result is then dropped.
    worker_.reset();
    UnwireEvents();
}

void TChatSession::WireEvents() {
    server_->OnListen = [this] { ServerSocket1Listen(); };
    server_->OnAccept = [this](ISocketConnection& socket) { ServerSocket1Accept(socket); };
    server_->OnClientDisconnect = [this](ISocketConnection& socket) { ServerSocket1ClientDisconnect(socket); };
    server_->OnClientError = [this](ISocketConnection& socket, TErrorEvent event, int& code) {
        ServerSocket1ClientError(socket, event, code);
    };
    server_->OnClientRead = [this](ISocketConnection& socket) { ServerSocket1ClientRead(socket); };
    server_->OnClientWrite = [this](ISocketConnection&) { PullFrames(); };
    server_->OnException = [this](const std::string& text) { view_.ShowError(ReceivedTextForView(text)); };

    client_->OnConnect = [this](ISocketConnection& socket) { ClientSocket1Connect(socket); };
    client_->OnDisconnect = [this](ISocketConnection& socket) { ClientSocket1Disconnect(socket); };
    client_->OnError = [this](ISocketConnection& socket, TErrorEvent event, int& code) {
        ClientSocket1Error(socket, event, code);
    };
    client_->OnRead = [this](ISocketConnection& socket) { ClientSocket1Read(socket); };
    client_->OnWrite = [this](ISocketConnection&) { PullFrames(); };
    client_->OnException = [this](const std::string& text) { view_.ShowError(ReceivedTextForView(text)); };

    pauseTimer_->OnTimeout = [this] {
        guarded([this] { sendNextQueuedFrame(); });
        PullFrames();
    };
    turnTimer_->OnTimeout = [this] { NextTurn(); };
}

void TChatSession::UnwireEvents() {
    pauseTimer_->OnTimeout = nullptr;
    turnTimer_->OnTimeout = nullptr;
    server_->OnListen = nullptr;
    server_->OnAccept = server_->OnClientRead = server_->OnClientWrite = server_->OnClientDisconnect = nullptr;
    server_->OnClientError = nullptr;
    server_->OnException = nullptr;
    client_->OnConnect = client_->OnDisconnect = client_->OnRead = client_->OnWrite = nullptr;
    client_->OnError = nullptr;
    client_->OnException = nullptr;
}

bool TChatSession::guarded(const std::function<void()>& action) {
    bool ok = true;
    Guarded(action, [this, &ok](const std::string& text) {
        ok = false;
        view_.ShowError(ReceivedTextForView(text));
    });
    return ok;
}

TSessionFlags TChatSession::Flags() const {
    TSessionFlags flags;
    flags.isActive = isActive_;
    flags.isHandshaking = isHandshaking_;
    flags.isTransferring = transfer_.isTransferring();
    flags.debugMode = debugMode_;
    flags.isLogging = trace_.isLogging();
    return flags;
}

void TChatSession::FixControls() { view_.FixControls(FixControlsRules(Flags())); }

void TChatSession::flashTaskBarIfInactive() {
    if (!view_.IsApplicationActive()) view_.FlashTaskBar();
}

void TChatSession::SetPayloadHandler(std::unique_ptr<IPayloadHandler> handler) { payloadHandler_ = std::move(handler); }

void TChatSession::ConnectionEnded(TConnectionEnd end) {
    if (OnConnectionEnded) OnConnectionEnded(end);
}

// ---------------------------------------------------------------- the port

void TChatSession::AppendLog(const std::string& line) {
    std::string shown = ReceivedTextForView(line);
    view_.AppendLog(shown);
    // It may have held a key or a plaintext; the view keeps its own copy.
    SecureWipe(shown);
}

void TChatSession::DebugLine(std::string line) {
    if (debugMode_) AppendLog(line);
    TraceLine(line);
    SecureWipe(line);
}

void TChatSession::TraceLine(const std::string& line) { trace_.WriteLine(line); }

void TChatSession::EndHandshake() {
    isHandshaking_ = false;
    FixControls();
    flashTaskBarIfInactive();
    if (!view_.TextToSendAntiKeyloggingActive()) view_.FocusTextToSend();
    view_.SetBusyCursor(false);
}

void TChatSession::Disconnect() { disconnectNow(); }

void TChatSession::HoldFrames() { framesHeld_ = true; }

void TChatSession::ReleaseFrames() {
    if (!framesHeld_) return;
    framesHeld_ = false;
    // What arrived meanwhile is taken on the loop's next turn, never from in here.
    ScheduleTurnIfWaiting();
}

// ---------------------------------------------------------------- start and close

void TChatSession::FormCreate() {
    guarded([this] {
        keys_.ReleaseSessionKey();
        isActive_ = false;
        FixControls();
        ApplySettings(settings_->Read());
        SpeedButton1Click();
    });
}

void TChatSession::ApplySettings(const std::string& fileBytes) {
    const TSessionSettings settings = ParseSessionSettings(fileBytes);
    view_.SetFieldText(TSessionField::RSAKeySize, settings.RsaKeySize);
    debugMode_ = settings.debug;
    sleepDuringTransfer_ = settings.sleepDuringTransfer;
    vantrelPath_ = settings.vantrelPath;
    view_.SetAntiKeyloggingToggleDown(settings.antikeylogging);
    view_.SetFieldText(TSessionField::ListenPort, settings.listenPort);
    view_.SetFieldText(TSessionField::RemotePort, settings.remotePort);
    saveHost_ = settings.saveHost;
    view_.SetFieldText(TSessionField::RemoteHost, settings.remoteHost);
}

void TChatSession::FormShow() {
    guarded([this] { FixControls(); });
}

bool TChatSession::FormClose() {
    if (isGeneratingKey_) return false;
    guarded([this] {
        cleanupMemory();
        WriteSettings();
        OverwriteShownTexts();
        btnStopLoggingClick();
        if (trace_.LeftOnDisk()) view_.ShowWarning("Warning - log file left on disk!");
    });
    return true;
}

void TChatSession::WriteSettings() {
    TWrittenSettings written;
    written.RsaKeySize = view_.FieldText(TSessionField::RSAKeySize);
    written.antikeylogging = view_.AntiKeyloggingToggleDown();
    written.listenPort = view_.FieldText(TSessionField::ListenPort);
    written.remotePort = view_.FieldText(TSessionField::RemotePort);
    written.remoteHost = saveHost_ ? view_.FieldText(TSessionField::RemoteHost) : std::string();
    settings_->Update([&](const std::string& current) { return UpdateSessionSettings(current, written); });
}

void TChatSession::OverwriteShownTexts() {
    view_.SetFieldText(TSessionField::RemoteHost, Windows1252ToUtf8(genGarbageString(kGarbageLength)));
    view_.SetFieldText(TSessionField::TextToSend, Windows1252ToUtf8(genGarbageString(kGarbageLength)));
    const int lines = view_.LogLineCount();
    view_.ClearLog();
    for (int i = 0; i < lines; ++i) view_.AppendLog(Windows1252ToUtf8(genGarbageString(kGarbageLength)));
    view_.ClearLog();
}

void TChatSession::ForgetReceivedBytes() {
    receiveBuffer_.Clear();
    // A frame loop under way notices and stops.
    ++connectionGeneration_;
    framesHeld_ = false;
    readDeferred_ = false;
    turnTimer_->Stop();
}

void TChatSession::ForgetConnection() {
    ForgetReceivedBytes();
    dropPendingFrames();
    keys_.ResetExchange();
    transfer_.ConnectionEnded();
}

void TChatSession::cleanupMemory() {
    EndLeavingPeer(TConnectionEnd::PeerLeft);
    try {
        keys_.ReleaseSessionKey();
        ForgetReceivedBytes();
        dropPendingFrames();
        keys_.ReleaseKeys();
    } catch (const std::exception& error) {
        AppendLog(error.what());
    }
}

std::string TChatSession::genGarbageString(int count) {
    std::string text;
    if (count <= 0) return text;
    text.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) text += static_cast<char>(GeneralRandom(255));
    return text;
}

void TChatSession::SpeedButton1Click() {
    guarded([this] {
        const bool down = view_.AntiKeyloggingToggleDown();
        view_.ApplyAntiKeylogging(down, std::string("Toggle Anti-Keylogging (currently ") + (down ? "on)" : "off)"));
    });
}

void TChatSession::txtTextToSendKeyPress(char key) {
    if (key != '\r') return;
    guarded([this] { channel_.SendTypedLine(); });
}

void TChatSession::btnSendFileClick() {
    guarded([this] { transfer_.btnSendFileClick(); });
}

void TChatSession::OfferFile(const std::string& path) {
    guarded([&] { transfer_.OfferFile(path); });
}

void TChatSession::CancelSending() {
    guarded([this] { transfer_.CancelSending(); });
}

void TChatSession::btnStartLoggingClick() {
    guarded([this] {
        trace_.Start();
        FixControls();
    });
}

// ---------------------------------------------------------------- desktop extras

void TChatSession::sbLaunchVantrelClick() {
    guarded([this] {
        const int result = desktop_->StartDocument(vantrelPath_);
        if (result >= kLaunchFailureLimit) return;
        view_.ShowErrorBox("Error", "Error " + Decimal(result) + " running " + vantrelPath_ + "\r\n" +
                                        " - download from " + DownloadPageAddress(projectHomepage_) + " " + "\r\n" +
                                        " and configure path in " + "quellmere.conf");
    });
}

void TChatSession::sbVisitWebSiteClick() {
    guarded([this] { desktop_->OpenAddress(ReadMePageAddress(projectHomepage_)); });
}

void TChatSession::SpeedButton20Click() { WindowsExit(kExitPowerOff | kExitForce); }

bool TChatSession::WindowsExit(uint32_t flags) {
    bool accepted = false;
    guarded([&] { accepted = desktop_->ExitSystem(flags); });
    return accepted;
}

void TChatSession::btnStopLoggingClick() {
    guarded([this] {
        if (!trace_.isLogging()) return;
        trace_.Stop();
        FixControls();
    });
}

// ---------------------------------------------------------------- listening

void TChatSession::btnListenClick() {
    // Nothing else happens to the session until the key pair exists.
    if (isGeneratingKey_) return;
    const bool started = guarded([this] {
        cleanupMemory();
        isServer_ = true;

        const std::string keySizeText = view_.FieldText(TSessionField::RSAKeySize);
        const int32_t keySize = StrToInt(keySizeText);
        if (keySize < 1024)
            view_.ShowWarning("Warning - key size is " + keySizeText + " which is weak, use 1024 at least!");

        view_.AppendLog("Generating " + keySizeText + " bit RSA key...please wait");
        view_.SetBusyCursor(true);
        GenerateKeyThenListen(keySize, keySizeText);
    });
    if (!started) ConnectionEnded(TConnectionEnd::ConnectFailed);
}

void TChatSession::GenerateKeyThenListen(int32_t keySize, const std::string& keySizeText) {
    // Made off this thread so the window stays live.
    isGeneratingKey_ = true;
    try {
        worker_->Run([this, generate = generateKey_, keySize, keySizeText]() -> std::function<void()> {
            // Shared, so the continuation stays copyable; only it takes the key out.
            auto key = std::make_shared<std::unique_ptr<TPrivateKey>>();
            std::string failure;
            Guarded([&] { *key = generate(keySize); }, [&](const std::string& text) { failure = text; });
            if (failure.empty() && !*key) failure = "Key generation failed";
            return [this, key, failure, keySizeText] {
                if (failure.empty())
                    listenWithKey(std::move(*key), keySizeText);
                else
                    keyGenerationFailed(failure);
            };
        });
    } catch (...) {
        isGeneratingKey_ = false;
        view_.SetBusyCursor(false);
        throw;
    }
}

void TChatSession::listenWithKey(std::unique_ptr<TPrivateKey> key, const std::string& keySizeText) {
    isGeneratingKey_ = false;
    const bool listening = guarded([&] {
        keys_.SetPrivateKey(std::move(key));
        view_.AppendLog("Generated " + keySizeText + " bit RSA key ok");
        const int32_t port = StrToInt(view_.FieldText(TSessionField::ListenPort));
        server_->SetPort(port);
        server_->SetActive(true);
    });
    // Also after a failure: the busy cursor must not outlive the command.
    view_.SetBusyCursor(false);
    if (!listening) ConnectionEnded(TConnectionEnd::ConnectFailed);
    ServeHeldPeers();
}

void TChatSession::keyGenerationFailed(const std::string& text) {
    isGeneratingKey_ = false;
    view_.SetBusyCursor(false);
    view_.ShowError(text);
    ConnectionEnded(TConnectionEnd::ConnectFailed);
    ServeHeldPeers();
}

void TChatSession::ServeHeldPeers() {
    std::vector<ISocketConnection*> held;
    held.swap(heldPeers_);
    for (ISocketConnection* socket : held) {
        // Only peers still in the server's list, so not a closed one.
        bool listed = false;
        for (int i = 0; i < server_->ConnectionCount(); ++i) listed = listed || server_->ConnectionAt(i) == socket;
        if (!listed || !socket->Connected()) continue;
        ServerSocket1Accept(*socket);
        // What it sent meanwhile waited in the socket.
        if (socket->Connected() && server_->ConnectionAt(0) == socket) ServerSocket1ClientRead(*socket);
    }
}

bool TChatSession::IsHeld(const ISocketConnection& socket) const {
    return std::find(heldPeers_.begin(), heldPeers_.end(), &socket) != heldPeers_.end();
}

void TChatSession::ServerSocket1Listen() {
    guarded([this] {
        view_.AppendLog("Listening on port " + Decimal(server_->Port()));
        isActive_ = true;
        FixControls();
    });
}

// ---------------------------------------------------------------- connecting

void TChatSession::btnConnectClick() {
    if (isGeneratingKey_) return;
    const bool started = guarded([this] {
        isServer_ = false;
        ForgetReceivedBytes();
        sendSequence_ = 0;
        receiveSequence_ = 0;
        cleanupMemory();
        client_->SetHost(view_.FieldText(TSessionField::RemoteHost));
        client_->SetPort(StrToInt(view_.FieldText(TSessionField::RemotePort)));
        client_->SetActive(true);
    });
    if (!started) ConnectionEnded(TConnectionEnd::ConnectFailed);
}

void TChatSession::ClientSocket1Connect(ISocketConnection& socket) {
    guarded([&] {
        isActive_ = true;
        isHandshaking_ = true;
        FixControls();
        view_.AppendLog("Connected to " + socket.RemoteHostName() + ":" + Decimal(socket.RemotePortNumber()));
    });
}

void TChatSession::ServerSocket1Accept(ISocketConnection& socket) {
    // Listen pressed again is making a new key pair: the peer waits for it,
    // as it would while the key was made on this thread.
    if (isGeneratingKey_) {
        heldPeers_.push_back(&socket);
        return;
    }
    guarded([&] {
        // A peer still being heard after it left is gone before the next comes.
        EndLeavingPeer(TConnectionEnd::PeerLeft);
        view_.AppendLog("Connection from " + socket.RemoteHostName());
        std::string rejection;
        // The new connection is last in the list: any other comes first.
        if (server_->ConnectionAt(0) != &socket) {
            ISocketConnection* first = server_->ConnectionAt(0);
            rejection = "Rejecting incoming connection as already connected to " +
                        (first != nullptr ? first->RemoteHostName() : std::string());
        } else if (!keys_.privateKey()) {
            // Without a key pair there is no public key to send.
            rejection = "Rejecting incoming connection as no RSA key exists";
        }
        if (!rejection.empty()) {
            view_.AppendLog(rejection);
            rejecting_ = &socket;
            try {
                socket.CloseConnection();
            } catch (...) {
                rejecting_ = nullptr;
                throw;
            }
            rejecting_ = nullptr;
            return;
        }

        isActive_ = true;
        isHandshaking_ = true;
        FixControls();

        keys_.StartServerSide();
        ForgetReceivedBytes();
        sendSequence_ = 0;
        receiveSequence_ = 0;
        dropPendingFrames();
        keys_.SendPublicKey(socket.RemoteHostName());
    });
}

void TChatSession::ServerSocket1ClientDisconnect(ISocketConnection& socket) {
    if (IsHeld(socket)) {
        // Came and went while the key pair was being made.
        heldPeers_.erase(std::find(heldPeers_.begin(), heldPeers_.end(), &socket));
        return;
    }
    guarded([&] {
        if (&socket == rejecting_ || server_->ConnectionAt(0) != &socket) return;
        if (!HearTheRestFirst(socket, TLeavingPeer::Accepted)) AcceptedPeerLeft(TConnectionEnd::PeerLeft);
    });
}

void TChatSession::AcceptedPeerLeft(TConnectionEnd end) {
    guarded([&] {
        view_.AppendLog("Client disconnected");
        isActive_ = false;
        // Still listening, with the same key pair; nothing of this peer's may reach the next.
        ForgetConnection();
        FixControls();
        flashTaskBarIfInactive();
        if (!disconnecting_) ConnectionEnded(end);
    });
}

void TChatSession::ClientSocket1Disconnect(ISocketConnection& socket) {
    guarded([&] {
        if (!HearTheRestFirst(socket, TLeavingPeer::Connected)) ConnectedPeerLeft(TConnectionEnd::PeerLeft);
    });
}

void TChatSession::ConnectedPeerLeft(TConnectionEnd end) {
    guarded([&] {
        isActive_ = false;
        isHandshaking_ = false;
        ForgetConnection();
        FixControls();
        view_.AppendLog("Disconnected");
        flashTaskBarIfInactive();
        if (!disconnecting_) ConnectionEnded(end);
    });
}

bool TChatSession::HearTheRestFirst(ISocketConnection& socket, TLeavingPeer peer) {
    if (disconnecting_ || inFrameLoop_ || framesHeld_) return false;
    // All it sent is with the system by now, and no more comes: a bounded amount.
    for (std::string data = socket.ReceiveAvailable(); !data.empty(); data = socket.ReceiveAvailable())
        receiveBuffer_.Append(data);
    if (!receiveBuffer_.HasFrame()) return false;
    leavingPeer_ = peer;
    ScheduleTurnIfWaiting();
    return true;
}

void TChatSession::EndLeavingPeer(TConnectionEnd end) {
    switch (std::exchange(leavingPeer_, TLeavingPeer::None)) {
        case TLeavingPeer::None: return;
        case TLeavingPeer::Accepted: AcceptedPeerLeft(end); return;
        case TLeavingPeer::Connected: ConnectedPeerLeft(end); return;
    }
}

void TChatSession::ServerSocket1ClientError(ISocketConnection&, TErrorEvent, int& errorCode) {
    // The code stays as it is: the transport then reports the error itself.
    guarded([&] {
        view_.AppendLog("Socket error: " + Decimal(errorCode));
        flashTaskBarIfInactive();
    });
}

void TChatSession::ClientSocket1Error(ISocketConnection& socket, TErrorEvent errorEvent, int& errorCode) {
    ServerSocket1ClientError(socket, errorEvent, errorCode);
    // An error before the connect event: the connection was never made.
    if (!isActive_ && !client_->Active()) ConnectionEnded(TConnectionEnd::ConnectFailed);
}

void TChatSession::btnDisconnectClick() {
    if (isGeneratingKey_) return;
    disconnectNow();
}

void TChatSession::disconnectNow() {
    const bool wasConnected = client_->Active() || server_->Active() || leavingPeer_ != TLeavingPeer::None;
    disconnecting_ = true;
    // A peer that left and is still being heard is told gone first, as it went first.
    EndLeavingPeer(TConnectionEnd::LocalDisconnect);
    guarded([this] {
        if (client_->Active()) {
            client_->SetActive(false);
        } else if (server_->Active()) {
            if (server_->ConnectionCount() > 0) {
                if (ISocketConnection* first = server_->ConnectionAt(0)) first->CloseConnection();
            }
            server_->SetActive(false);
            view_.AppendLog("Disconnected");
        }
    });
    heldPeers_.clear();
    // Whatever failed above, the session ends up idle and without key material.
    cleanupMemory();
    isActive_ = false;
    isHandshaking_ = false;
    guarded([this] { FixControls(); });
    ForgetConnection();
    disconnecting_ = false;
    if (wasConnected)
        ConnectionEnded(endingOnReceiveError_ ? TConnectionEnd::ReceiveError : TConnectionEnd::LocalDisconnect);
}

// ---------------------------------------------------------------- sending

ISocketConnection* TChatSession::currentConnection() {
    if (client_->Active()) return &client_->Socket();
    if (server_->Active() && server_->ConnectionCount() > 0) return server_->ConnectionAt(0);
    return nullptr;
}

void TChatSession::dropPendingFrames() {
    sendQueue_.clear();
    pauseTimer_->Stop();
    frameSource_ = nullptr;
}

void TChatSession::sendTextToPeer(const std::string& payload) {
    guarded([&] {
        sendSequence_ = NextSequence(sendSequence_);
        // The peer has gone and is only being heard to its end: no one to answer.
        if (leavingPeer_ != TLeavingPeer::None) return;
        std::string frame = MakeFrame(sendSequence_, payload);
        ISocketConnection* connection = currentConnection();
        if (connection == nullptr) {
            view_.AppendLog("Error sending text - not connected");
            return;
        }
        if (sleepDuringTransfer_ <= 0) {
            connection->SendString(frame);
            return;
        }
        // The pause between frames is a timer: frames wait their turn while
        // the event loop (and the receive path) keeps running.
        if (pauseTimer_->IsActive() || !sendQueue_.empty()) {
            sendQueue_.push_back(std::move(frame));
            return;
        }
        connection->SendString(frame);
        pauseTimer_->Start(sleepDuringTransfer_);
    });
}

void TChatSession::sendNextQueuedFrame() {
    if (sendQueue_.empty()) return;
    ISocketConnection* connection = currentConnection();
    if (connection == nullptr) {
        sendQueue_.clear();
        return;
    }
    const std::string frame = std::move(sendQueue_.front());
    sendQueue_.pop_front();
    connection->SendString(frame);
    pauseTimer_->Start(sleepDuringTransfer_);
}

bool TChatSession::HasUnsentFrames() {
    if (!sendQueue_.empty()) return true;
    ISocketConnection* connection = currentConnection();
    return connection != nullptr && connection->UnsentBytes() > 0;
}

void TChatSession::SetFrameSource(IFrameSource* source) {
    frameSource_ = source;
    PullFrames();
}

bool TChatSession::HasSendRoom() {
    ISocketConnection* connection = currentConnection();
    if (connection == nullptr || !sendQueue_.empty() || pauseTimer_->IsActive()) return false;
    return connection->UnsentBytes() < sendRoomBytes;
}

void TChatSession::PullFrames() {
    // A payload sent from inside the loop must not start a second loop.
    if (pullingFrames_) return;
    pullingFrames_ = true;
    guarded([this] {
        std::string payload;
        while (frameSource_ != nullptr && HasSendRoom() && frameSource_->NextPayload(payload)) sendTextToPeer(payload);
    });
    pullingFrames_ = false;
}

// ---------------------------------------------------------------- receiving

void TChatSession::ServerSocket1ClientRead(ISocketConnection& socket) {
    // A held peer's bytes wait in its socket until it is served.
    if (IsHeld(socket)) return;
    // While frames wait that the loop cannot take yet, the rest stays with the
    // system, which then slows the peer: memory stays bounded however much it sends.
    if (!MayReadMore()) {
        readDeferred_ = true;
        return;
    }
    std::string data;
    guarded([&] { data = socket.ReceiveAvailable(); });
    handleReceivedText(data);
}

void TChatSession::ClientSocket1Read(ISocketConnection& socket) { ServerSocket1ClientRead(socket); }

bool TChatSession::MayReadMore() const {
    return !receiveBuffer_.HasFrame() || receiveBuffer_.Unframed().size() < maxWaitingBytes;
}

void TChatSession::handleReceivedText(const std::string& data) {
    receiveBuffer_.Append(data);
    RunFrameLoop();
}

void TChatSession::RunFrameLoop() {
    // A read that comes while the loop is on the stack (a dialog lets the
    // event loop run) leaves its bytes for that loop: frames are never taken
    // from inside the handling of another.
    const bool nested = inFrameLoop_;
    std::string failure;
    Guarded(
        [&] {
            if (!nested) TakeFrames();
            CheckOpenFrame();
        },
        [&](const std::string& text) { failure = text; });
    if (!failure.empty()) {
        AbortConnection(failure);
        return;
    }
    if (nested) return;
    receiveBuffer_.Compact();
    // A peer that left is done with once all it said has been heard, or once
    // the rest can no longer matter (its key exchange's work would answer no one).
    if (leavingPeer_ != TLeavingPeer::None && (framesHeld_ || !receiveBuffer_.HasFrame()))
        EndLeavingPeer(TConnectionEnd::PeerLeft);
    else
        ScheduleTurnIfWaiting();
}

void TChatSession::TakeFrames() {
    const TFlagScope inLoop(inFrameLoop_);
    const uint64_t generation = connectionGeneration_;
    for (int taken = 0; taken < framesPerTurn; ++taken) {
        if (framesHeld_ || generation != connectionGeneration_) return;
        std::optional<std::string> frame = receiveBuffer_.Next();
        if (!frame) return;
        TFrameParts parts = SplitFrame(*frame);
        receiveSequence_ = NextSequence(receiveSequence_);
        const int32_t received = StrToInt(parts.sequenceText);
        if (received != receiveSequence_) {
            AppendLog(receiveBuffer_.PendingFrameText());
            throw EProtocolError("Expected sequence " + Decimal(receiveSequence_) + " but received " +
                                 Decimal(received));
        }
        DispatchPayload(parts.payload);
    }
}

void TChatSession::CheckOpenFrame() {
    // A peer may not make us hold an endless unfinished frame.
    const std::size_t limit = isHandshaking_ ? maxUnframedHandshakeBytes : maxUnframedBytes;
    if (receiveBuffer_.OpenFrameBytes() > limit)
        throw EProtocolError("Peer sent more than " + SizeText(limit) + " without a frame end");
}

void TChatSession::ScheduleTurnIfWaiting() {
    const bool framesWait = receiveBuffer_.HasFrame() && !framesHeld_;
    const bool bytesWait = readDeferred_ && MayReadMore();
    if ((framesWait || bytesWait) && !turnTimer_->IsActive()) turnTimer_->Start(0);
}

void TChatSession::NextTurn() {
    if (readDeferred_ && MayReadMore()) {
        readDeferred_ = false;
        if (ISocketConnection* connection = currentConnection()) {
            // The read runs the loop after it.
            ServerSocket1ClientRead(*connection);
            return;
        }
    }
    RunFrameLoop();
}

void TChatSession::AbortConnection(const std::string& reason) {
    AppendLog(reason);
    // Not refused while a key is being made: a broken connection must end.
    endingOnReceiveError_ = true;
    disconnectNow();
    endingOnReceiveError_ = false;
}

void TChatSession::DispatchPayload(const std::string& payload) {
    if (payloadHandler_) {
        if (!isHandshaking_)
            payloadHandler_->handleReceivedCiphertext(payload);
        else if (isServer_)
            payloadHandler_->doServerHandshaking(payload);
        else
            payloadHandler_->doClientHandshaking(payload);
        return;
    }
    if (!isHandshaking_)
        channel_.handleReceivedCiphertext(payload);
    else if (isServer_)
        keys_.doServerHandshaking(payload);
    else
        keys_.doClientHandshaking(payload);
}
