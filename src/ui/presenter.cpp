#include "ui/presenter.h"

#include "isaac/generalrandom.h"
#include "session/displaytext.h"
#include "session/guarded.h"
#include "session/settings.h"

namespace {

constexpr int kGarbageLength = 255;

std::string Decimal(int64_t value) { return std::to_string(value); }

}  // namespace

std::string genGarbageString(int count) {
    std::string text;
    if (count <= 0) return text;
    text.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) text += static_cast<char>(GeneralRandom(255));
    return text;
}

TWindowPresenter::TWindowPresenter(IFormControls& form, TWindowEnvironment environment)
    : form_(form),
      settings_(std::move(environment.settings)),
      desktop_(environment.desktop ? std::move(environment.desktop) : std::make_unique<TNullDesktop>()),
      projectHomepage_(std::move(environment.projectHomepage)),
      session_(*this, std::move(environment.session)) {
    if (!settings_) throw std::invalid_argument("The window needs its settings file");
}

TWindowPresenter::~TWindowPresenter() = default;

void TWindowPresenter::RunGuarded(const std::function<void()>& action) {
    Guarded(action, [this](const std::string& text) { form_.ShowError(ReceivedTextForView(text)); });
}

// ---------------------------------------------------------------- start and close

void TWindowPresenter::FormCreate() {
    RunGuarded([this] {
        FixControls(session_.State());
        ApplySettings(settings_->Read());
        SpeedButton1Click();
    });
}

void TWindowPresenter::ApplySettings(const std::string& fileBytes) {
    const TSessionSettings settings = ParseSessionSettings(fileBytes);
    form_.SetFieldText(TFormField::RSAKeySize, settings.RsaKeySize);
    session_.SetDebugMode(settings.debug);
    session_.SetSleepDuringTransfer(settings.sleepDuringTransfer);
    vantrelPath_ = settings.vantrelPath;
    form_.SetAntiKeyloggingToggleDown(settings.antikeylogging);
    form_.SetFieldText(TFormField::ListenPort, settings.listenPort);
    form_.SetFieldText(TFormField::RemotePort, settings.remotePort);
    saveHost_ = settings.saveHost;
    form_.SetFieldText(TFormField::RemoteHost, settings.remoteHost);
}

void TWindowPresenter::FormShow() {
    RunGuarded([this] { FixControls(session_.State()); });
}

bool TWindowPresenter::FormClose() {
    if (session_.State().phase == TPhase::GeneratingKey) return false;
    RunGuarded([this] {
        session_.cleanupMemory();
        WriteSettings();
        OverwriteShownTexts();
        btnStopLoggingClick();
        if (session_.TraceFileLeftOnDisk()) form_.ShowWarning("Warning - log file left on disk!");
    });
    return true;
}

void TWindowPresenter::WriteSettings() {
    TWrittenSettings written;
    written.RsaKeySize = form_.FieldText(TFormField::RSAKeySize);
    written.antikeylogging = form_.AntiKeyloggingToggleDown();
    written.listenPort = form_.FieldText(TFormField::ListenPort);
    written.remotePort = form_.FieldText(TFormField::RemotePort);
    written.remoteHost = saveHost_ ? form_.FieldText(TFormField::RemoteHost) : std::string();
    settings_->Update([&](const std::string& current) { return UpdateSessionSettings(current, written); });
}

void TWindowPresenter::OverwriteShownTexts() {
    form_.SetFieldText(TFormField::RemoteHost, Windows1252ToUtf8(genGarbageString(kGarbageLength)));
    form_.SetFieldText(TFormField::TextToSend, Windows1252ToUtf8(genGarbageString(kGarbageLength)));
    const int lines = form_.LogLineCount();
    form_.ClearLog();
    for (int i = 0; i < lines; ++i) form_.AppendLog(Windows1252ToUtf8(genGarbageString(kGarbageLength)));
    form_.ClearLog();
}

// ---------------------------------------------------------------- buttons

void TWindowPresenter::btnListenClick() {
    session_.Listen(form_.FieldText(TFormField::RSAKeySize), form_.FieldText(TFormField::ListenPort));
}

void TWindowPresenter::btnConnectClick() {
    session_.Connect(form_.FieldText(TFormField::RemoteHost), form_.FieldText(TFormField::RemotePort));
}

void TWindowPresenter::btnDisconnectClick() { session_.Disconnect(); }

void TWindowPresenter::btnStartLoggingClick() { session_.StartLogging(); }

void TWindowPresenter::btnStopLoggingClick() { session_.StopLogging(); }

void TWindowPresenter::txtTextToSendKeyPress(char key) {
    if (key != '\r') return;
    // An empty field goes as an empty line; the field empties only once it went.
    if (session_.Say(form_.FieldText(TFormField::TextToSend))) form_.SetFieldText(TFormField::TextToSend, std::string());
}

void TWindowPresenter::btnSendFileClick() {
    RunGuarded([this] {
        const std::string path = form_.ChooseFileToSend();
        if (path.empty()) {
            form_.FocusTextToSend();
            return;
        }
        session_.Offer(path);
    });
}

void TWindowPresenter::OfferFile(const std::string& path) { session_.Offer(path); }

void TWindowPresenter::CancelSending() { session_.CancelSending(); }

void TWindowPresenter::SpeedButton1Click() {
    RunGuarded([this] {
        const bool down = form_.AntiKeyloggingToggleDown();
        form_.ApplyAntiKeylogging(down, std::string("Toggle Anti-Keylogging (currently ") + (down ? "on)" : "off)"));
    });
}

// ---------------------------------------------------------------- desktop extras

void TWindowPresenter::sbLaunchVantrelClick() {
    RunGuarded([this] {
        const int result = desktop_->StartDocument(vantrelPath_);
        if (result >= kLaunchFailureLimit) return;
        form_.ShowErrorBox("Error", "Error " + Decimal(result) + " running " + vantrelPath_ + "\r\n" +
                                        " - download from " + DownloadPageAddress(projectHomepage_) + " " + "\r\n" +
                                        " and configure path in " + "quellmere.conf");
    });
}

void TWindowPresenter::sbVisitWebSiteClick() {
    RunGuarded([this] { desktop_->OpenAddress(ReadMePageAddress(projectHomepage_)); });
}

void TWindowPresenter::SpeedButton20Click() { WindowsExit(kExitPowerOff | kExitForce); }

bool TWindowPresenter::WindowsExit(uint32_t flags) {
    bool accepted = false;
    RunGuarded([&] { accepted = desktop_->ExitSystem(flags); });
    return accepted;
}

// ---------------------------------------------------------------- what the session tells

void TWindowPresenter::LineLogged(const std::string& line) { form_.AppendLog(line); }

void TWindowPresenter::ShowWarning(const std::string& text) { form_.ShowWarning(text); }

void TWindowPresenter::ShowError(const std::string& text) { form_.ShowError(text); }

void TWindowPresenter::FixControls(const TSessionState& state) { form_.FixControls(FixControlsRules(state)); }

void TWindowPresenter::StateChanged(const TSessionState& state) { FixControls(state); }

void TWindowPresenter::OfferArrived(const std::string& question, const std::string& offeredName) {
    // The boxes are modal: they run from the event loop, and the conversation goes on meanwhile.
    form_.Later([this, question, offeredName] {
        TSaveTarget target;
        // The dialog asked before replacing a file there.
        if (form_.AskYesNo(question)) target = {form_.ChooseSaveFile(offeredName), TSaveMode::Replace};
        session_.AnswerOffer(target);
    });
}

void TWindowPresenter::TransferProgress(int percent, int64_t done, int64_t total) {
    form_.SetProgress(percent, done, total);
}

void TWindowPresenter::AttentionWanted() {
    if (!form_.IsApplicationActive()) form_.FlashTaskBar();
}

void TWindowPresenter::FocusWanted(TFocusRequest focus) {
    if (focus == TFocusRequest::Always || !form_.TextToSendAntiKeyloggingActive()) form_.FocusTextToSend();
}

void TWindowPresenter::BusyChanged(bool busy) { form_.SetBusyCursor(busy); }

void TWindowPresenter::TextEntryEnabled(bool enabled) { form_.SetTextToSendEnabled(enabled); }
