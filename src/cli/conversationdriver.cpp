#include "cli/conversationdriver.h"

#include <algorithm>

#include "session/settings.h"

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

TConversationDriver::TConversationDriver(TChatSession& session, TTerminalView& view, ISettingsStore& settings,
                                         TCliOptions options, TConversationLoop loop)
    : session_(session), view_(view), settings_(settings), options_(std::move(options)), loop_(std::move(loop)) {
    for (const std::string& path : options_.filesToSend) waitingLines_.push_back({TTypedLine::TKind::SendFile, path});
    view_.OnStateChanged = [this](const TSessionState& state) { StateChanged(state); };
    view_.OnConnectionEnded = [this](TConnectionEnd end) { ConnectionEnded(end); };
    view_.OnOfferArrived = [this](const std::string& question, const std::string& offeredName) {
        AnswerOffer(question, offeredName);
    };
    view_.OnOutgoingDrained = [this] { GoOn(); };
}

TConversationDriver::~TConversationDriver() {
    view_.OnStateChanged = nullptr;
    view_.OnConnectionEnded = nullptr;
    view_.OnOfferArrived = nullptr;
    view_.OnOutgoingDrained = nullptr;
}

void TConversationDriver::Start() {
    // The window's settings, with the options over them.
    const TSessionSettings settings = ParseSessionSettings(settings_.Read());
    session_.SetDebugMode(options_.debug || settings.debug);
    session_.SetSleepDuringTransfer(options_.sleepMilliseconds.value_or(settings.sleepDuringTransfer));
    if (options_.log) session_.StartLogging();
    keySizeText_ = options_.keySize.value_or(settings.RsaKeySize);
    portText_ = options_.port.value_or(options_.command == TCliCommand::Listen ? settings.listenPort
                                                                              : settings.remotePort);
    if (options_.command == TCliCommand::Listen)
        session_.Listen(keySizeText_, portText_);
    else
        session_.Connect(options_.host, portText_);
}

void TConversationDriver::TypedLine(const std::string& line) {
    TTypedLine typed = ReadTypedLine(line);
    if (typed.kind == TTypedLine::TKind::Mistyped) {
        view_.ShowError(typed.text);
        return;
    }
    waitingLines_.push_back(std::move(typed));
    ScheduleSend();
}

void TConversationDriver::InputEnded() {
    inputEnded_ = true;
    ScheduleSend();
}

void TConversationDriver::Interrupt() {
    if (!finished()) Finish(kExitSuccess, true);
}

void TConversationDriver::StateChanged(const TSessionState& state) {
    if (!state.isTransferring) view_.EndProgressLine();
    // Inside a session callback: the lines go out from the event loop.
    ScheduleSend();
}

void TConversationDriver::AnswerOffer(const std::string& question, const std::string& offeredName) {
    // While a file of ours waits or moves, the session refuses offers before asking.
    if (!options_.acceptFolder) {
        view_.ShowWarning(question + " No: files are taken only with --accept-files");
        session_.AnswerOffer(TSaveTarget{});
        return;
    }
    session_.AnswerOffer(SaveTargetIn(*options_.acceptFolder, offeredName, options_.overwrite));
}

void TConversationDriver::ScheduleSend() {
    const bool nothingToDo = waitingLines_.empty() && !inputEnded_;
    if (nothingToDo || sendScheduled_ || finished()) return;
    sendScheduled_ = true;
    loop_.post([this] {
        sendScheduled_ = false;
        GoOn();
    });
}

void TConversationDriver::GoOn() {
    if (finished()) return;
    RunWaitingLines();
    if (AllSaid()) Finish(kExitSuccess, true);
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
        case TTypedLine::TKind::Chat: session_.Say(line.text); return;
        case TTypedLine::TKind::SendFile: session_.Offer(line.text); return;
        case TTypedLine::TKind::Cancel: session_.CancelSending(); return;
        case TTypedLine::TKind::Quit: Finish(kExitSuccess, true); return;
        case TTypedLine::TKind::Mistyped: return;
    }
}

bool TConversationDriver::KeyExchangeComplete() { return session_.State().phase == TPhase::Conversation; }

bool TConversationDriver::FileTransferIdle() {
    // Asked, not remembered: offering changes no controls, so it sends no event.
    const TSessionState state = session_.State();
    return !state.isOffering && !state.isSending && !state.isTransferring;
}

bool TConversationDriver::ConversationReady() { return KeyExchangeComplete() && FileTransferIdle(); }

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
            Finish(kExitSuccess, session_.State().phase == TPhase::ListenerAfterPeer);
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
                if (!finished()) session_.Listen(keySizeText_, portText_);
            });
            return;
    }
}

void TConversationDriver::Finish(int status, bool hangUp) {
    exitStatus_ = status;
    loop_.post([this, status, hangUp] {
        if (hangUp) session_.Disconnect();
        if (options_.log) session_.StopLogging();
        // The shell's prompt starts on a line of its own.
        view_.EndProgressLine();
        loop_.quit(status);
    });
}
