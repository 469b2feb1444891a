#pragma once
// Decides what a terminal conversation does and when: the options over the
// settings, Listen or Connect, typed lines and commands held until the key
// exchange is complete, files offered one at a time and offers answered,
// hanging up at the end of input, listening again, and the exit status. It
// drives the session through its verbs and learns what happens from the
// view's events; the event loop brings it stdin lines and signals.

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/clioptions.h"
#include "cli/savefolder.h"
#include "cli/terminalview.h"
#include "session/session.h"

// What the driver asks of the event loop.
struct TConversationLoop {
    // Runs the task later from the event loop, outside every session callback.
    std::function<void(std::function<void()> task)> post;
    // Ends the event loop with this exit status.
    std::function<void(int status)> quit;
};

// A line of standard input as the conversation takes it.
struct TTypedLine {
    enum class TKind { Chat, SendFile, Cancel, Quit, Mistyped };
    TKind kind = TKind::Chat;
    // The text to send, the path to offer, or why a command is wrong.
    std::string text;
};

// "/send PATH", "/cancel" and "/quit" are commands, decided by the line's
// first word; "//" sends the rest of the line from its second "/"; every
// other line is chat as it is.
TTypedLine ReadTypedLine(const std::string& line);

class TConversationDriver {
public:
    // settings: the window's settings file, only read.
    TConversationDriver(TChatSession& session, TTerminalView& view, ISettingsStore& settings, TCliOptions options,
                        TConversationLoop loop);
    ~TConversationDriver();
    TConversationDriver(const TConversationDriver&) = delete;
    TConversationDriver& operator=(const TConversationDriver&) = delete;

    // Reads the settings, lays the options over them and listens or connects.
    void Start();
    // One line of standard input.
    void TypedLine(const std::string& line);
    void InputEnded();
    // SIGINT or SIGTERM: hang up and leave.
    void Interrupt();

    bool finished() const { return exitStatus_.has_value(); }
    std::optional<int> exitStatus() const { return exitStatus_; }
    // Typed lines, commands and files to offer that have not had their turn.
    std::size_t waitingLines() const { return waitingLines_.size(); }

private:
    void StateChanged(const TSessionState& state);
    void ConnectionEnded(TConnectionEnd end);
    void KeepListeningAfter(TConnectionEnd end);
    void AnswerOffer(const std::string& question, const std::string& offeredName);
    // Lines that can go now are sent; all said, the conversation ends.
    void GoOn();
    void ScheduleSend();
    void RunWaitingLines();
    std::deque<TTypedLine>::iterator NextRunnableLine();
    void Run(const TTypedLine& line);
    // A peer is there and the key exchange with it is complete.
    bool KeyExchangeComplete();
    // No offer of ours waits for its answer and no file moves either way.
    bool FileTransferIdle();
    bool ConversationReady();
    bool AllSaid();
    void Finish(int status, bool hangUp);

    TChatSession& session_;
    TTerminalView& view_;
    ISettingsStore& settings_;
    TCliOptions options_;
    // As Start chose them; listening again takes the same.
    std::string keySizeText_;
    std::string portText_;
    TConversationLoop loop_;
    std::deque<TTypedLine> waitingLines_;
    bool sendScheduled_ = false;
    bool inputEnded_ = false;
    std::optional<int> exitStatus_;
};
