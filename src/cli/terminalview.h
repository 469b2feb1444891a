#pragma once
// The session's view in a terminal: the message log on standard output, the
// error display and the warning boxes on standard error, one line each, with
// control characters made visible, and while a file moves a progress line on
// standard error when that is a terminal. Fields are plain texts; the
// controls, the cursor and the anti-keylogging field have nothing to show.
// The answers to file offers come from whoever sets the hooks.

#include <cstdint>
#include <functional>
#include <map>
#include <ostream>
#include <string>

#include "session/sessionview.h"

class TTerminalView final : public ISessionView {
public:
    TTerminalView(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

    void AppendLog(const std::string& line) override;
    int LogLineCount() const override { return logLines_; }
    void ClearLog() override { logLines_ = 0; }
    void FixControls(const TControlStates& states) override;
    std::string FieldText(TSessionField field) const override;
    void SetFieldText(TSessionField field, const std::string& text) override { fields_[field] = text; }
    bool AntiKeyloggingToggleDown() const override { return antiKeyloggingToggleDown_; }
    void SetAntiKeyloggingToggleDown(bool down) override { antiKeyloggingToggleDown_ = down; }
    void ApplyAntiKeylogging(bool, const std::string&) override {}
    // Lines come from standard input, never from a keyboard hook to fool.
    bool TextToSendAntiKeyloggingActive() const override { return false; }
    void FocusTextToSend() override {}
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    // The caption, then each line of the text.
    void ShowErrorBox(const std::string& caption, const std::string& text) override;
    void SetBusyCursor(bool) override {}
    bool IsApplicationActive() const override { return true; }
    void FlashTaskBar() override {}
    // Files: offers are refused unless a hook takes them.
    bool AskYesNo(const std::string& question) override { return OnAskYesNo && OnAskYesNo(question); }
    // Files to send are named on the command line or in a command, never chosen.
    std::string ChooseFileToSend() override { return std::string(); }
    TSaveTarget ChooseSaveFile(const std::string& offeredName) override;
    void SetProgress(int) override {}
    void ShowTransferStatus(int64_t done, int64_t total) override;
    void SetTextToSendEnabled(bool) override {}

    // Turns the progress line on; only for a terminal, where the carriage
    // return and the erase code mean something. logOnTerminal: the log goes
    // to the same terminal, so the progress line makes way for its lines too.
    void EnableProgressLine(bool logOnTerminal, std::function<int64_t()> milliseconds);
    // The transfer ended: a progress line shown is finished with a newline,
    // and the next transfer starts its own.
    void EndProgressLine();

    // Told every control state the session applies: sending may have become possible.
    std::function<void(const TControlStates&)> OnControlsFixed;
    std::function<bool(const std::string& question)> OnAskYesNo;
    // Where an accepted file goes; an empty path refuses it after all.
    std::function<TSaveTarget(const std::string& offeredName)> OnChooseSaveFile;

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
    int logLines_ = 0;
    std::map<TSessionField, std::string> fields_;
    bool antiKeyloggingToggleDown_ = false;
};
