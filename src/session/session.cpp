#include "session/session.h"

#include <stdexcept>
#include <utility>

#include "rsa/privatekey.h"
#include "secure/securewipe.h"
#include "session/channel.h"
#include "session/convert.h"
#include "session/displaytext.h"
#include "session/guarded.h"

namespace {

std::string Decimal(int64_t value) { return std::to_string(value); }

// The message cipher under no key, as before any key is agreed.
std::shared_ptr<const IRecordLayer> KeylessRecordLayer() { return std::make_shared<TMessageCipher>(std::string()); }

}  // namespace

TChatSession::TChatSession(ISessionView& view, TSessionEnvironment environment)
    : view_(view),
      files_(std::move(environment.files)),
      clock_(std::move(environment.clock)),
      pauseTimer_(std::move(environment.pauseTimer)),
      turnTimer_(std::move(environment.turnTimer)),
      generateKey_(std::move(environment.generateKey)),
      worker_(std::move(environment.worker)),
      connection_((environment.client && environment.server)
                      ? TConnection(std::move(environment.client), std::move(environment.server), *this)
                      : throw std::invalid_argument("TChatSession needs both socket components")),
      wire_(connection_, *this, *pauseTimer_, *turnTimer_),
      keys_(*this, *worker_),
      transfer_(*this, *files_, *worker_),
      trace_(*files_),
      record_(KeylessRecordLayer()) {
    if (!files_ || !clock_ || !pauseTimer_ || !turnTimer_ || !worker_ || !generateKey_)
        throw std::invalid_argument("TChatSession needs every part of its environment");
    wire_.SetFrameSource(this);
}

TChatSession::~TChatSession() {
    // Work under way is waited for; its result is then dropped.
    worker_.reset();
}

// ---------------------------------------------------------------- state

void TChatSession::Fire(TPhaseEvent event) { phase_ = Transition(phase_, event); }

TSessionState TChatSession::State() const {
    TSessionState state;
    state.phase = phase_;
    state.isActive = IsActive(phase_);
    state.isHandshaking = IsHandshaking(phase_);
    state.isTransferring = transfer_.isTransferring();
    state.isOffering = transfer_.isOffering();
    state.isSending = transfer_.isSending();
    state.debugMode = debugMode_;
    state.isLogging = trace_.isLogging();
    return state;
}

void TChatSession::NotifyState() { view_.StateChanged(State()); }

bool TChatSession::HasUnsentFrames() { return wire_.HasUnsentFrames(); }

bool TChatSession::RunGuarded(const std::function<void()>& action) {
    bool ok = true;
    Guarded(action, [this, &ok](const std::string& text) {
        ok = false;
        view_.ShowError(ReceivedTextForView(text));
    });
    return ok;
}

void TChatSession::SetDebugMode(bool on) { debugMode_ = on; }

void TChatSession::SetSleepDuringTransfer(int32_t milliseconds) { wire_.SetPause(milliseconds); }

// ---------------------------------------------------------------- the log

void TChatSession::Log(const std::string& line) {
    std::string shown = ReceivedTextForView(line);
    view_.LineLogged(shown);
    // It may have held a key or a plaintext; the view keeps its own copy.
    SecureWipe(shown);
}

void TChatSession::Detail(std::string line) {
    if (debugMode_) Log(line);
    trace_.WriteLine(line);
    SecureWipe(line);
}

void TChatSession::Trace(const std::string& line) { trace_.WriteLine(line); }

bool TChatSession::WantsDetails() const { return debugMode_ || trace_.isLogging(); }

void TChatSession::ShowError(const std::string& text) { view_.ShowError(ReceivedTextForView(text)); }

void TChatSession::StartLogging() {
    RunGuarded([this] {
        trace_.Start();
        NotifyState();
    });
}

void TChatSession::StopLogging() {
    RunGuarded([this] {
        if (!trace_.isLogging()) return;
        trace_.Stop();
        NotifyState();
    });
}

bool TChatSession::TraceFileLeftOnDisk() {
    bool left = false;
    RunGuarded([&] { left = trace_.LeftOnDisk(); });
    return left;
}

void TChatSession::cleanupMemory() {
    EndLeavingPeer(TConnectionEnd::PeerLeft);
    try {
        keys_.ReleaseSessionKey();
        record_ = KeylessRecordLayer();
        wire_.Forget();
        keys_.ReleaseKeys();
    } catch (const std::exception& error) {
        Log(error.what());
    }
}

// ---------------------------------------------------------------- listening

void TChatSession::Listen(const std::string& keySizeText, const std::string& portText) {
    // Nothing else happens to the session until the key pair exists.
    if (phase_ == TPhase::GeneratingKey) return;
    const bool started = RunGuarded([&] {
        cleanupMemory();
        const int32_t keySize = StrToInt(keySizeText);
        if (keySize < 1024)
            view_.ShowWarning("Warning - key size is " + keySizeText + " which is weak, use 1024 at least!");
        Log("Generating " + keySizeText + " bit RSA key...please wait");
        view_.BusyChanged(true);
        Fire(TPhaseEvent::ListenPressed);
        connection_.HoldPeers();
        // Made off this thread so the window stays live.
        try {
            worker_->Run([this, generate = generateKey_, keySize, keySizeText,
                          portText]() -> std::function<void()> {
                // Shared, so the continuation stays copyable; only it takes the key out.
                auto key = std::make_shared<std::unique_ptr<TPrivateKey>>();
                std::string failure;
                Guarded([&] { *key = generate(keySize); }, [&](const std::string& text) { failure = text; });
                if (failure.empty() && !*key) failure = "Key generation failed";
                return [this, key, failure, keySizeText, portText] {
                    if (failure.empty())
                        ListenWithKey(std::move(*key), keySizeText, portText);
                    else
                        KeyGenerationFailed(failure);
                };
            });
        } catch (...) {
            Fire(connection_.Listens() ? TPhaseEvent::KeyDoneWhileListening : TPhaseEvent::KeyDone);
            connection_.ServeHeldPeers();
            view_.BusyChanged(false);
            throw;
        }
    });
    if (!started) view_.ConnectionEnded(TConnectionEnd::ConnectFailed);
}

void TChatSession::ListenWithKey(std::unique_ptr<TPrivateKey> key, const std::string& keySizeText,
                                 const std::string& portText) {
    Fire(connection_.Listens() ? TPhaseEvent::KeyDoneWhileListening : TPhaseEvent::KeyDone);
    const bool listening = RunGuarded([&] {
        keys_.SetPrivateKey(std::move(key));
        Log("Generated " + keySizeText + " bit RSA key ok");
        connection_.Listen(StrToInt(portText));
    });
    // Also after a failure: the busy cursor must not outlive the command.
    view_.BusyChanged(false);
    if (!listening) view_.ConnectionEnded(TConnectionEnd::ConnectFailed);
    connection_.ServeHeldPeers();
}

void TChatSession::KeyGenerationFailed(const std::string& text) {
    Fire(connection_.Listens() ? TPhaseEvent::KeyDoneWhileListening : TPhaseEvent::KeyDone);
    view_.BusyChanged(false);
    view_.ShowError(text);
    view_.ConnectionEnded(TConnectionEnd::ConnectFailed);
    connection_.ServeHeldPeers();
}

void TChatSession::Listening(int port) {
    Log("Listening on port " + Decimal(port));
    Fire(TPhaseEvent::Listened);
    NotifyState();
}

bool TChatSession::MayServe() const { return keys_.privateKey() != nullptr; }

void TChatSession::PeerArriving() { EndLeavingPeer(TConnectionEnd::PeerLeft); }

void TChatSession::PeerAccepted(ISocketConnection& peer) {
    Fire(TPhaseEvent::Accepted);
    NotifyState();
    keys_.StartServerSide();
    wire_.StartCounting();
    keys_.SendPublicKey(peer.RemoteHostName());
}

// ---------------------------------------------------------------- connecting

void TChatSession::Connect(const std::string& host, const std::string& portText) {
    if (phase_ == TPhase::GeneratingKey) return;
    const bool started = RunGuarded([&] {
        wire_.StartCounting();
        cleanupMemory();
        const int32_t port = StrToInt(portText);
        Fire(TPhaseEvent::ConnectPressed);
        connection_.Connect(host, port);
    });
    if (!started) {
        Fire(TPhaseEvent::ConnectFailed);
        view_.ConnectionEnded(TConnectionEnd::ConnectFailed);
    }
}

void TChatSession::PeerConnected(ISocketConnection& peer) {
    Fire(TPhaseEvent::Connected);
    NotifyState();
    Log("Connected to " + peer.RemoteHostName() + ":" + Decimal(peer.RemotePortNumber()));
}

void TChatSession::ConnectFailed() {
    Fire(TPhaseEvent::ConnectFailed);
    view_.ConnectionEnded(TConnectionEnd::ConnectFailed);
}

void TChatSession::SocketError(int code) {
    // The code stays as it is: the transport then reports the error itself.
    Log("Socket error: " + Decimal(code));
    view_.AttentionWanted();
}

// ---------------------------------------------------------------- the end of a connection

void TChatSession::Disconnect() {
    if (phase_ == TPhase::GeneratingKey) return;
    EndConnection(TConnectionEnd::LocalDisconnect);
}

void TChatSession::AbortConnection(const std::string& reason) {
    Log(reason);
    // Not refused while a key is being made: a broken connection must end.
    EndConnection(TConnectionEnd::ReceiveError);
}

void TChatSession::EndConnection(TConnectionEnd end) {
    const bool wasConnected = connection_.HasClient() || connection_.Listens() || leaving_.has_value();
    // A peer that left and is still being heard is told gone first, as it went first.
    EndLeavingPeer(std::nullopt);
    RunGuarded([this] {
        const TClosed closed = connection_.Close();
        if (closed.connectedPeer) ConnectedPeerLeft(std::nullopt);
        if (closed.acceptedPeer) AcceptedPeerLeft(std::nullopt);
        if (closed.listener) Log("Disconnected");
    });
    // Whatever failed above, the session ends up idle and without key material.
    cleanupMemory();
    Fire(TPhaseEvent::Disconnected);
    RunGuarded([this] { NotifyState(); });
    ForgetConnection();
    if (wasConnected) view_.ConnectionEnded(end);
}

void TChatSession::ForgetConnection() {
    wire_.Forget();
    keys_.ResetExchange();
    record_ = KeylessRecordLayer();
    transfer_.ConnectionEnded();
}

void TChatSession::PeerLeft(ISocketConnection& socket, TPeerSide side) {
    // What the peer said before it left is heard before it is gone.
    if (wire_.ReadRest(socket)) {
        leaving_ = side;
        return;
    }
    connection_.PeerHeard();
    if (side == TPeerSide::Accepted)
        AcceptedPeerLeft(TConnectionEnd::PeerLeft);
    else
        ConnectedPeerLeft(TConnectionEnd::PeerLeft);
}

void TChatSession::AllHeard() { EndLeavingPeer(TConnectionEnd::PeerLeft); }

void TChatSession::EndLeavingPeer(std::optional<TConnectionEnd> report) {
    if (!leaving_) return;
    const TPeerSide side = *std::exchange(leaving_, std::nullopt);
    connection_.PeerHeard();
    if (side == TPeerSide::Accepted)
        AcceptedPeerLeft(report);
    else
        ConnectedPeerLeft(report);
}

void TChatSession::AcceptedPeerLeft(std::optional<TConnectionEnd> report) {
    RunGuarded([&] {
        Log("Client disconnected");
        // Still listening, with the same key pair; nothing of this peer's may reach the next.
        Fire(TPhaseEvent::PeerLeftListener);
        ForgetConnection();
        NotifyState();
        view_.AttentionWanted();
        if (report) view_.ConnectionEnded(*report);
    });
}

void TChatSession::ConnectedPeerLeft(std::optional<TConnectionEnd> report) {
    RunGuarded([&] {
        Fire(TPhaseEvent::PeerLeftClient);
        ForgetConnection();
        NotifyState();
        Log("Disconnected");
        view_.AttentionWanted();
        if (report) view_.ConnectionEnded(*report);
    });
}

// ---------------------------------------------------------------- the wire

void TChatSession::Readable() { wire_.Readable(); }

void TChatSession::Writable() { wire_.Writable(); }

void TChatSession::Drained() { view_.OutgoingDrained(); }

bool TChatSession::TakesPayloads() const { return !keys_.isWorking(); }

std::size_t TChatSession::OpenFrameLimit() const {
    return IsHandshaking(phase_) ? maxUnframedHandshakeBytes : maxUnframedBytes;
}

void TChatSession::ProtocolError(const std::string& reason) { AbortConnection(reason); }

void TChatSession::Payload(const std::string& payload) {
    switch (phase_) {
        case TPhase::ServerHandshake: keys_.doServerHandshaking(payload); return;
        case TPhase::ClientHandshake:
            view_.BusyChanged(true);
            keys_.doClientHandshaking(payload);
            return;
        case TPhase::Conversation: handleReceivedCiphertext(payload); return;
        default: return;
    }
}

// The payload is at most a frame (16 MiB); the text it gives is shorter still.
void TChatSession::handleReceivedCiphertext(const std::string& payload) {
    Detail("Received ciphertext: " + payload);
    const std::string plaintext = record_->Open(payload);
    Detail("Received plaintext: " + plaintext);
    switch (ClassifyPlaintext(plaintext, transfer_.isReceiving())) {
        case TChannelText::FileAccepted: transfer_.FileAccepted(); return;
        case TChannelText::FileRefused: transfer_.FileRefused(); return;
        case TChannelText::FileData: transfer_.FileData(plaintext); return;
        case TChannelText::FileOffered: transfer_.FileOffered(plaintext); return;
        case TChannelText::ChatLine:
            Log(PeerChatLine(clock_->LongTimeText(), plaintext));
            view_.AttentionWanted();
            return;
    }
}

// ---------------------------------------------------------------- the key exchange

void TChatSession::sendTextToPeer(const std::string& payload) { wire_.sendTextToPeer(payload); }

void TChatSession::KeyAgreed(const std::string& sessionKey) {
    record_ = std::make_shared<TMessageCipher>(sessionKey);
    Fire(TPhaseEvent::KeyAgreed);
    NotifyState();
    view_.AttentionWanted();
    view_.FocusWanted(TFocusRequest::UnlessGuarded);
    view_.BusyChanged(false);
}

void TChatSession::WorkDone() { wire_.MoreToDo(); }

void TChatSession::Failed(const std::string& reason) { AbortConnection(reason); }

// ---------------------------------------------------------------- the conversation

void TChatSession::sendTextToPeerEncrypted(const std::string& plaintext) {
    const std::string payload = record_->Seal(plaintext);
    Detail("Sending plaintext: " + plaintext);
    Detail("Sending ciphertext: " + payload);
    wire_.sendTextToPeer(payload);
}

bool TChatSession::Say(const std::string& text) {
    return RunGuarded([&] {
        sendTextToPeerEncrypted(text);
        // The time is taken after the send.
        Log(OwnChatLine(clock_->LongTimeText(), text));
    });
}

void TChatSession::Offer(const std::string& path) {
    RunGuarded([&] { transfer_.OfferFile(path); });
}

void TChatSession::AnswerOffer(const TSaveTarget& target) {
    RunGuarded([&] { transfer_.AnswerOffer(target); });
}

void TChatSession::CancelSending() {
    RunGuarded([this] { transfer_.CancelSending(); });
}

void TChatSession::StateChanged() { NotifyState(); }

void TChatSession::ChunksReady() { wire_.MoreToDo(); }

bool TChatSession::NextPayload(std::string& payload) {
    TSealedChunk chunk;
    if (!transfer_.NextChunk(chunk)) return false;
    if (WantsDetails()) {
        Detail("Sending plaintext: " + chunk.plaintext);
        Detail("Sending ciphertext: " + chunk.payload);
    }
    transfer_.ChunkSent(chunk);
    payload = std::move(chunk.payload);
    return true;
}

void TChatSession::OfferArrived(const std::string& question, const std::string& offeredName) {
    view_.OfferArrived(question, offeredName);
}

void TChatSession::Progress(int percent, int64_t done, int64_t total) { view_.TransferProgress(percent, done, total); }

void TChatSession::FocusWanted(TFocusRequest focus) { view_.FocusWanted(focus); }

void TChatSession::BusyChanged(bool busy) { view_.BusyChanged(busy); }

void TChatSession::TextEntryEnabled(bool enabled) { view_.TextEntryEnabled(enabled); }

void TChatSession::AttentionWanted() { view_.AttentionWanted(); }
