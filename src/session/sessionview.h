#pragma once
// Everything the chat session needs from a person, and from the window that
// shows it. The window (or a terminal, or a test) implements it; the session
// never touches widgets.

#include <cstdint>
#include <string>

#include "session/controlrules.h"
#include "session/environment.h"

// The text fields the session reads and writes (settings, overwriting at close).
enum class TSessionField { RSAKeySize, ListenPort, RemoteHost, RemotePort, TextToSend };

class ISessionView {
public:
    virtual ~ISessionView() = default;

    // The message log: whole lines, UTF-8.
    virtual void AppendLog(const std::string& line) = 0;
    virtual int LogLineCount() const = 0;
    virtual void ClearLog() = 0;

    // Applies the control states, puts the progress bar back to 0 and the
    // cursor back to the arrow.
    virtual void FixControls(const TControlStates& states) = 0;

    virtual std::string FieldText(TSessionField field) const = 0;
    virtual void SetFieldText(TSessionField field, const std::string& text) = 0;

    // The anti-keylogging toggle button and the two fields it switches.
    virtual bool AntiKeyloggingToggleDown() const = 0;
    virtual void SetAntiKeyloggingToggleDown(bool down) = 0;
    virtual void ApplyAntiKeylogging(bool active, const std::string& toggleHint) = 0;
    virtual bool TextToSendAntiKeyloggingActive() const = 0;
    virtual void FocusTextToSend() = 0;

    // A modal box with the single button OK.
    virtual void ShowWarning(const std::string& text) = 0;
    // The application's top-level error display.
    virtual void ShowError(const std::string& text) = 0;
    // A modal box with its own caption, the error icon and the button OK. A
    // view without such a box shows the text on its error display.
    virtual void ShowErrorBox(const std::string& /*caption*/, const std::string& text) { ShowError(text); }
    virtual void SetBusyCursor(bool busy) = 0;
    virtual bool IsApplicationActive() const = 0;
    virtual void FlashTaskBar() = 0;

    // File transfer: the person's answers and what they see meanwhile.
    // A confirmation box with Yes and No.
    virtual bool AskYesNo(const std::string& question) = 0;
    // The file-open dialog; empty when cancelled.
    virtual std::string ChooseFileToSend() = 0;
    // The save dialog with the offered name filled in; an empty path when cancelled.
    virtual TSaveTarget ChooseSaveFile(const std::string& offeredName) = 0;
    // 0 to 100.
    virtual void SetProgress(int percent) = 0;
    // Bytes done of all, for a status line; done == total ends it.
    virtual void ShowTransferStatus(int64_t done, int64_t total) = 0;
    // Outside the control rules: disabled while an offer waits and while a file is sent.
    virtual void SetTextToSendEnabled(bool enabled) = 0;
};
