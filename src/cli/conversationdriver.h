#pragma once
// Decides what a terminal conversation does and when: the options over the
// settings, Listen or Connect, typed lines held until the key exchange is
// complete, hanging up at the end of input, listening again, and the exit
// status. The event loop only brings it stdin lines, signals and ticks.

#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "cli/clioptions.h"
#include "cli/terminalview.h"
#include "session/session.h"

// What the driver asks of the event loop.
struct TConversationLoop {
    // Runs the task later from the event loop, outside every session callback.
    std::function<void(std::function<void()> task)> post;
    // Ends the event loop with this exit status.
    std::function<void(int status)> quit;
};

class TConversationDriver {
public:
    TConversationDriver(TChatSession& session, TTerminalView& view, TCliOptions options, TConversationLoop loop);
    ~TConversationDriver();
    TConversationDriver(const TConversationDriver&) = delete;
    TConversationDriver& operator=(const TConversationDriver&) = delete;

    // Reads the settings, lays the options over them and listens or connects.
    void Start();
    // One line of standard input.
    void TypedLine(const std::string& line);
    void InputEnded();
    // Called on a short timer: sends what waits, hangs up when all is said.
    void Poll();
    // SIGINT or SIGTERM: hang up and leave.
    void Interrupt();

    bool finished() const { return exitStatus_.has_value(); }
    std::optional<int> exitStatus() const { return exitStatus_; }
    std::size_t waitingLines() const { return waitingLines_.size(); }

private:
    void ApplyOptions();
    void ControlsFixed(const TControlStates& states);
    void ConnectionEnded(TConnectionEnd end);
    void KeepListeningAfter(TConnectionEnd end);
    void ScheduleSend();
    void SendWaitingLines();
    // A peer is there and the key exchange with it is complete.
    bool ConversationReady();
    bool HasPeer();
    bool AllSaid();
    void Finish(int status, bool hangUp);

    TChatSession& session_;
    TTerminalView& view_;
    TCliOptions options_;
    TConversationLoop loop_;
    std::deque<std::string> waitingLines_;
    bool sendScheduled_ = false;
    bool inputEnded_ = false;
    std::optional<int> exitStatus_;
};
