#include "cli/conversationdriver.h"

TConversationDriver::TConversationDriver(TChatSession& session, TTerminalView& view, TCliOptions options,
                                         TConversationLoop loop)
    : session_(session), view_(view), options_(std::move(options)), loop_(std::move(loop)) {
    session_.OnConnectionEnded = [this](TConnectionEnd end) { ConnectionEnded(end); };
    view_.OnControlsFixed = [this](const TControlStates& states) { ControlsFixed(states); };
}

TConversationDriver::~TConversationDriver() {
    session_.OnConnectionEnded = nullptr;
    view_.OnControlsFixed = nullptr;
}

void TConversationDriver::Start() {
    session_.FormCreate();
    ApplyOptions();
    if (options_.log) session_.btnStartLoggingClick();
    if (options_.command == TCliCommand::Listen)
        session_.btnListenClick();
    else
        session_.btnConnectClick();
}

void TConversationDriver::ApplyOptions() {
    if (options_.command == TCliCommand::Listen) {
        if (options_.port) view_.SetFieldText(TSessionField::ListenPort, *options_.port);
        if (options_.keySize) view_.SetFieldText(TSessionField::RSAKeySize, *options_.keySize);
    } else {
        view_.SetFieldText(TSessionField::RemoteHost, options_.host);
        if (options_.port) view_.SetFieldText(TSessionField::RemotePort, *options_.port);
    }
    if (options_.debug) session_.SetDebugMode(true);
    if (options_.sleepMilliseconds) session_.SetSleepDuringTransfer(*options_.sleepMilliseconds);
}

void TConversationDriver::TypedLine(const std::string& line) {
    waitingLines_.push_back(line);
    if (ConversationReady()) ScheduleSend();
}

void TConversationDriver::InputEnded() { inputEnded_ = true; }

void TConversationDriver::Poll() {
    if (finished()) return;
    if (!waitingLines_.empty() && ConversationReady()) SendWaitingLines();
    if (AllSaid()) Finish(kExitSuccess, true);
}

void TConversationDriver::Interrupt() {
    if (!finished()) Finish(kExitSuccess, true);
}

void TConversationDriver::ControlsFixed(const TControlStates& states) {
    // Inside a session callback: the lines go out from the event loop.
    if (states.sendingEnabled && !waitingLines_.empty()) ScheduleSend();
}

void TConversationDriver::ScheduleSend() {
    if (sendScheduled_) return;
    sendScheduled_ = true;
    loop_.post([this] {
        sendScheduled_ = false;
        if (!finished()) SendWaitingLines();
    });
}

void TConversationDriver::SendWaitingLines() {
    // A line may end the conversation; the rest then wait for the next one.
    while (!waitingLines_.empty() && ConversationReady()) {
        view_.SetFieldText(TSessionField::TextToSend, waitingLines_.front());
        waitingLines_.pop_front();
        session_.txtTextToSendKeyPress('\r');
    }
}

bool TConversationDriver::ConversationReady() {
    return session_.isActive() && !session_.isHandshaking() && !session_.isTransferring() && HasPeer();
}

bool TConversationDriver::HasPeer() {
    // A listener is active before anyone connects.
    if (!session_.isServer()) return session_.ClientSocket1().Active();
    IServerSocket& server = session_.ServerSocket1();
    ISocketConnection* peer = server.Active() ? server.ConnectionAt(0) : nullptr;
    return peer != nullptr && peer->Connected();
}

bool TConversationDriver::AllSaid() {
    return inputEnded_ && !options_.keepListening && waitingLines_.empty() && ConversationReady() &&
           !session_.HasUnsentFrames();
}

void TConversationDriver::ConnectionEnded(TConnectionEnd end) {
    if (finished()) return;
    if (options_.keepListening) {
        KeepListeningAfter(end);
        return;
    }
    switch (end) {
        case TConnectionEnd::PeerLeft:
            // A listener still listens: it stops before leaving.
            Finish(kExitSuccess, session_.isServer());
            return;
        case TConnectionEnd::LocalDisconnect:
            Finish(kExitSuccess, false);
            return;
        case TConnectionEnd::ReceiveError:
        case TConnectionEnd::ConnectFailed:
            Finish(kExitFailure, false);
            return;
    }
}

void TConversationDriver::KeepListeningAfter(TConnectionEnd end) {
    switch (end) {
        case TConnectionEnd::PeerLeft:
            // Still listening, with the same key.
            return;
        case TConnectionEnd::ConnectFailed:
            // Listening itself failed: trying again would fail the same way.
            Finish(kExitFailure, false);
            return;
        case TConnectionEnd::LocalDisconnect:
        case TConnectionEnd::ReceiveError:
            // The session stopped listening with the connection.
            loop_.post([this] {
                if (!finished()) session_.btnListenClick();
            });
            return;
    }
}

void TConversationDriver::Finish(int status, bool hangUp) {
    exitStatus_ = status;
    loop_.post([this, status, hangUp] {
        if (hangUp) session_.btnDisconnectClick();
        if (options_.log) session_.btnStopLoggingClick();
        loop_.quit(status);
    });
}
