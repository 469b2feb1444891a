#pragma once
// The session's view in a terminal: the message log on standard output, the
// error display and the warning boxes on standard error, one line each, with
// control characters made visible. Fields are plain texts; the controls,
// the cursor and the anti-keylogging field have nothing to show.

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
    void SetBusyCursor(bool) override {}
    bool IsApplicationActive() const override { return true; }
    void FlashTaskBar() override {}
    // Files: offers are refused unless a folder takes them.
    bool AskYesNo(const std::string&) override { return false; }
    std::string ChooseFileToSend() override { return std::string(); }
    std::string ChooseSaveFile(const std::string&) override { return std::string(); }
    void SetProgress(int) override {}
    void ShowTransferStatus(int64_t, int64_t) override {}
    void SetTextToSendEnabled(bool) override {}

    // Told every control state the session applies: sending may have become possible.
    std::function<void(const TControlStates&)> OnControlsFixed;

private:
    static void WriteLine(std::ostream& stream, const std::string& text);

    std::ostream& out_;
    std::ostream& err_;
    int logLines_ = 0;
    std::map<TSessionField, std::string> fields_;
    bool antiKeyloggingToggleDown_ = false;
};
