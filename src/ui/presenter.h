#pragma once
// The window's logic, without widgets: the handlers the behaviour names on
// the form (btnListenClick, txtTextToSendKeyPress, SpeedButton1Click,
// FormClose, ...), the settings to and from the fields, the anti-keylogging
// toggle, the scrubbing at close and the desktop extras. It drives the
// session through its verbs and shows what the session tells it on the
// form, through IFormControls; TForm1 is that form.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/desktop.h"
#include "session/environment.h"
#include "session/session.h"
#include "session/sessionview.h"
#include "ui/controlrules.h"

// The text fields the settings fill and the close scrubs.
enum class TFormField { RSAKeySize, ListenPort, RemoteHost, RemotePort, TextToSend };

// The form's controls and boxes, as the presenter uses them.
class IFormControls {
public:
    virtual std::string FieldText(TFormField field) const = 0;
    virtual void SetFieldText(TFormField field, const std::string& text) = 0;
    // The anti-keylogging toggle button and the two fields it switches.
    virtual bool AntiKeyloggingToggleDown() const = 0;
    virtual void SetAntiKeyloggingToggleDown(bool down) = 0;
    virtual void ApplyAntiKeylogging(bool active, const std::string& toggleHint) = 0;
    virtual bool TextToSendAntiKeyloggingActive() const = 0;
    virtual void FocusTextToSend() = 0;

    // The message log: whole lines, UTF-8.
    virtual void AppendLog(const std::string& line) = 0;
    virtual int LogLineCount() const = 0;
    virtual void ClearLog() = 0;

    // Applies the control states, puts the progress bar back to 0 and the
    // cursor back to the arrow.
    virtual void FixControls(const TControlStates& states) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
    virtual void SetProgress(int percent, int64_t done, int64_t total) = 0;
    virtual void SetTextToSendEnabled(bool enabled) = 0;
    virtual bool IsApplicationActive() const = 0;
    virtual void FlashTaskBar() = 0;

    // A modal box with the single button OK.
    virtual void ShowWarning(const std::string& text) = 0;
    // The application's top-level error display.
    virtual void ShowError(const std::string& text) = 0;
    // A modal box with its own caption, the error icon and the button OK.
    virtual void ShowErrorBox(const std::string& caption, const std::string& text) = 0;
    // A confirmation box with Yes and No.
    virtual bool AskYesNo(const std::string& question) = 0;
    // The file-open dialog; empty when cancelled.
    virtual std::string ChooseFileToSend() = 0;
    // The save dialog with the offered name filled in; empty when cancelled.
    virtual std::string ChooseSaveFile(const std::string& offeredName) = 0;
    // Runs the task from the event loop, outside everything under way now.
    virtual void Later(std::function<void()> task) = 0;

protected:
    ~IFormControls() = default;
};

// What the window has besides a session's environment.
struct TWindowEnvironment {
    TSessionEnvironment session;
    std::unique_ptr<ISettingsStore> settings;
    // Without one, the null desktop.
    std::unique_ptr<IDesktop> desktop;
    // The project's web address; its read-me and download pages hang off it.
    std::string projectHomepage;
};

// The general generator's garbage: count characters of codes 0 to 254.
std::string genGarbageString(int count);

class TWindowPresenter final : public ISessionView {
public:
    TWindowPresenter(IFormControls& form, TWindowEnvironment environment);
    ~TWindowPresenter() override;
    TWindowPresenter(const TWindowPresenter&) = delete;
    TWindowPresenter& operator=(const TWindowPresenter&) = delete;

    // The window's events.
    void FormCreate();
    void FormShow();
    // Writes the settings and scrubs what was shown. Returns false, doing
    // nothing, while a key pair is being made: the window must stay open.
    bool FormClose();

    // Buttons (and their toolbar twins).
    void btnListenClick();
    void btnConnectClick();
    void btnDisconnectClick();
    void btnSendFileClick();
    void btnStartLoggingClick();
    void btnStopLoggingClick();
    void SpeedButton1Click();
    // A key in the entry field: Return sends its text and echoes it.
    void txtTextToSendKeyPress(char key);
    // The desktop extras: the companion tool, the read-me page and an
    // immediate power-off that asks no one and closes nothing first.
    void sbLaunchVantrelClick();
    void sbVisitWebSiteClick();
    void SpeedButton20Click();
    // True when the system accepted the request; a refusal shows nothing.
    bool WindowsExit(uint32_t flags);
    // A file dropped on the window; Escape while one is sent.
    void OfferFile(const std::string& path);
    void CancelSending();

    TSessionState State() const { return session_.State(); }
    const std::string& vantrelPath() const { return vantrelPath_; }
    bool saveHost() const { return saveHost_; }

    // ISessionView
    void LineLogged(const std::string& line) override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void StateChanged(const TSessionState& state) override;
    void OfferArrived(const std::string& question, const std::string& offeredName) override;
    void TransferProgress(int percent, int64_t done, int64_t total) override;
    void AttentionWanted() override;
    void FocusWanted(TFocusRequest focus) override;
    void BusyChanged(bool busy) override;
    void TextEntryEnabled(bool enabled) override;

private:
    friend class TPresenterInspection;

    void ApplySettings(const std::string& fileBytes);
    void WriteSettings();
    void OverwriteShownTexts();
    void FixControls(const TSessionState& state);
    // Errors of a handler go to the error display.
    void RunGuarded(const std::function<void()>& action);

    IFormControls& form_;
    std::unique_ptr<ISettingsStore> settings_;
    std::unique_ptr<IDesktop> desktop_;
    std::string projectHomepage_;
    std::string vantrelPath_ = "vantrel.exe";
    bool saveHost_ = false;
    // Last: it is the view's first user and goes first.
    TChatSession session_;
};
