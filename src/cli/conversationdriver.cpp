#include "cli/conversationdriver.h"

#include <algorithm>

namespace {

// Enough to keep the connection busy, few enough that one turn stays short.
constexpr int kLinesPerTurn = 64;

bool IsBlank(const std::string& text) { return text.find_first_not_of(" \t") == std::string::npos; }

// /cancel and /quit act on the transfer that other lines wait for.
bool GoesAheadOfTransfers(const TTypedLine& line) {
    return line.kind == TTypedLine::TKind::Cancel || line.kind == TTypedLine::TKind::Quit;
}

}  // namespace

TTypedLine ReadTypedLine(const std::string& line) {
    using TKind = TTypedLine::TKind;
    if (line.rfind("//", 0) == 0) return {TKind::Chat, line.substr(1)};
    const std::size_t blank = line.find_first_of(" \t");
    const std::string word = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (word == "/send") {
        if (rest.empty()) return {TKind::Mistyped, "/send needs a PATH"};
        return {TKind::SendFile, rest};
    }
    if (word == "/cancel" || word == "/quit") {
        // A mistyped command is no chat line: it would tell the peer what was meant for us.
        if (!IsBlank(rest)) return {TKind::Mistyped, word + " takes nothing after it"};
        return {word == "/cancel" ? TKind::Cancel : TKind::Quit, std::string()};
    }
    return {TKind::Chat, line};
}

TConversationDriver::TConversationDriver(TChatSession& session, TTerminalView& view, TCliOptions options,
                                         TConversationLoop loop)
    : session_(session), view_(view), options_(std::move(options)), loop_(std::move(loop)) {
    for (const std::string& path : options_.filesToSend) waitingLines_.push_back({TTypedLine::TKind::SendFile, path});
    session_.OnConnectionEnded = [this](TConnectionEnd end) { ConnectionEnded(end); };
    view_.OnControlsFixed = [this](const TControlStates& states) { ControlsFixed(states); };
    view_.OnAskYesNo = [this](const std::string& question) { return AnswerOffer(question); };
    view_.OnChooseSaveFile = [this](const std::string& offeredName) {
        if (!options_.acceptFolder) return TSaveTarget{};
        return SaveTargetIn(*options_.acceptFolder, offeredName, options_.overwrite);
    };
}

TConversationDriver::~TConversationDriver() {
    session_.OnConnectionEnded = nullptr;
    view_.OnControlsFixed = nullptr;
    view_.OnAskYesNo = nullptr;
    view_.OnChooseSaveFile = nullptr;
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
    TTypedLine typed = ReadTypedLine(line);
    if (typed.kind == TTypedLine::TKind::Mistyped) {
        view_.ShowError(typed.text);
        return;
    }
    waitingLines_.push_back(std::move(typed));
    if (KeyExchangeComplete()) ScheduleSend();
}

void TConversationDriver::InputEnded() { inputEnded_ = true; }

void TConversationDriver::Poll() {
    if (finished()) return;
    EndProgressUnlessTransferring();
    if (!waitingLines_.empty() && KeyExchangeComplete()) RunWaitingLines();
    if (AllSaid()) Finish(kExitSuccess, true);
}

void TConversationDriver::Interrupt() {
    if (!finished()) Finish(kExitSuccess, true);
}

void TConversationDriver::ControlsFixed(const TControlStates& states) {
    EndProgressUnlessTransferring();
    // Inside a session callback: the lines go out from the event loop.
    if (states.sendingEnabled && !waitingLines_.empty()) ScheduleSend();
}

bool TConversationDriver::AnswerOffer(const std::string& question) {
    // While a file of ours waits or moves, the session refuses offers before asking.
    if (options_.acceptFolder) return true;
    view_.ShowWarning(question + " No: files are taken only with --accept-files");
    return false;
}

void TConversationDriver::ScheduleSend() {
    if (sendScheduled_) return;
    sendScheduled_ = true;
    loop_.post([this] {
        sendScheduled_ = false;
        if (!finished()) RunWaitingLines();
    });
}

void TConversationDriver::RunWaitingLines() {
    // A line may end the conversation or start a transfer; the rest then wait.
    // A long paste goes out a slice per turn so received lines keep flowing.
    for (int sent = 0; !finished() && KeyExchangeComplete(); ++sent) {
        const auto next = NextRunnableLine();
        if (next == waitingLines_.end()) return;
        if (sent == kLinesPerTurn) {
            ScheduleSend();
            return;
        }
        const TTypedLine line = std::move(*next);
        waitingLines_.erase(next);
        Run(line);
    }
}

std::deque<TTypedLine>::iterator TConversationDriver::NextRunnableLine() {
    if (waitingLines_.empty()) return waitingLines_.end();
    if (FileTransferIdle() || GoesAheadOfTransfers(waitingLines_.front())) return waitingLines_.begin();
    // Lines wait for the file; a /cancel or /quit behind them need not.
    return std::find_if(waitingLines_.begin(), waitingLines_.end(), GoesAheadOfTransfers);
}

void TConversationDriver::Run(const TTypedLine& line) {
    switch (line.kind) {
        case TTypedLine::TKind::Chat:
            view_.SetFieldText(TSessionField::TextToSend, line.text);
            session_.txtTextToSendKeyPress('\r');
            return;
        case TTypedLine::TKind::SendFile: session_.OfferFile(line.text); return;
        case TTypedLine::TKind::Cancel: session_.CancelSending(); return;
        case TTypedLine::TKind::Quit: Finish(kExitSuccess, true); return;
        case TTypedLine::TKind::Mistyped: return;
    }
}

void TConversationDriver::EndProgressUnlessTransferring() {
    if (!session_.isTransferring()) view_.EndProgressLine();
}

bool TConversationDriver::KeyExchangeComplete() {
    return session_.isActive() && !session_.isHandshaking() && HasPeer();
}

bool TConversationDriver::FileTransferIdle() {
    const TFileTransfer& transfer = session_.fileTransfer();
    return !transfer.isOffering() && !transfer.isSending() && !transfer.isTransferring();
}

bool TConversationDriver::ConversationReady() { return KeyExchangeComplete() && FileTransferIdle(); }

bool TConversationDriver::HasPeer() {
    // A listener is active before anyone connects.
    if (!session_.isServer()) return session_.ClientSocket1().Active();
    IServerSocket& server = session_.ServerSocket1();
    ISocketConnection* peer = server.Active() ? server.ConnectionAt(0) : nullptr;
    return peer != nullptr && peer->Connected();
}

bool TConversationDriver::AllSaid() {
    // Our offers answered and every transfer over, both ways, before hanging up.
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
        case TConnectionEnd::LocalDisconnect: Finish(kExitSuccess, false); return;
        case TConnectionEnd::ReceiveError:
        case TConnectionEnd::ConnectFailed: Finish(kExitFailure, false); return;
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
        // The shell's prompt starts on a line of its own.
        view_.EndProgressLine();
        loop_.quit(status);
    });
}
