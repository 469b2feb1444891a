#pragma once
// The session's view in a terminal: the message log on standard output, the
// error display and the warning boxes on standard error, one line each, with
// control characters made visible, and while a file moves a progress line on
// standard error when that is a terminal. What the conversation decides on
// (state changes, offers, the end) goes to whoever sets the hooks.

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>

#include "session/sessionview.h"

class TTerminalView final : public ISessionView {
public:
    TTerminalView(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    void LineLogged(const std::string& line) override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void StateChanged(const TSessionState& state) override;
    // Refused at once unless a hook answers.
    void OfferArrived(const std::string& question, const std::string& offeredName) override;
    void TransferProgress(int percent, int64_t done, int64_t total) override;
    void ConnectionEnded(TConnectionEnd end) override;
    void OutgoingDrained() override;

    // Turns the progress line on; only for a terminal, where the carriage
    // return and the erase code mean something. logOnTerminal: the log goes
    // to the same terminal, so the progress line makes way for its lines too.
    void EnableProgressLine(bool logOnTerminal, std::function<int64_t()> milliseconds);
    // The transfer ended: a progress line shown is finished with a newline,
    // and the next transfer starts its own.
    void EndProgressLine();

    std::function<void(const TSessionState&)> OnStateChanged;
    std::function<void(const std::string& question, const std::string& offeredName)> OnOfferArrived;
    std::function<void(TConnectionEnd)> OnConnectionEnded;
    std::function<void()> OnOutgoingDrained;

private:
    void WriteLine(std::ostream& stream, const std::string& text);
    void DrawProgress(int64_t done, int64_t total, int64_t now);

    std::ostream& out_;
    std::ostream& err_;
    // Progress line: off without a clock.
    std::function<int64_t()> milliseconds_;
    bool logOnTerminal_ = false;
    bool transferShown_ = false;
    bool lineShown_ = false;
    int64_t transferStart_ = 0;
    int64_t lastDrawn_ = 0;
};
