#pragma once
// The main window: the layout, the control states and the boxes. It owns
// the window's presenter and hands it every button press and window event;
// what the presenter decides comes back through IFormControls. No logic here
// beyond showing it.

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "ui/dialogs.h"
#include "ui/presenter.h"

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class TAntiKeyLoggerEdit;

class TForm1 : public QWidget, public IFormControls {
    Q_OBJECT

public:
    // Builds the window, then its presenter, whose FormCreate reads the settings.
    explicit TForm1(TWindowEnvironment environment,
                    std::unique_ptr<IDialogs> dialogs = std::make_unique<TMessageBoxDialogs>(),
                    QWidget* parent = nullptr);
    ~TForm1() override;

    TWindowPresenter& presenter() { return *presenter_; }
    // Every line appended to the message log is also handed here, as the session gave it.
    void SetLogEcho(std::function<void(const std::string& line)> echo) { logEcho_ = std::move(echo); }

    // IFormControls
    void AppendLog(const std::string& line) override;
    int LogLineCount() const override;
    void ClearLog() override;
    void FixControls(const TControlStates& states) override;
    std::string FieldText(TFormField field) const override;
    void SetFieldText(TFormField field, const std::string& text) override;
    bool AntiKeyloggingToggleDown() const override;
    void SetAntiKeyloggingToggleDown(bool down) override;
    void ApplyAntiKeylogging(bool active, const std::string& toggleHint) override;
    bool TextToSendAntiKeyloggingActive() const override;
    void FocusTextToSend() override;
    void ShowWarning(const std::string& text) override;
    void ShowError(const std::string& text) override;
    void ShowErrorBox(const std::string& caption, const std::string& text) override;
    void SetBusyCursor(bool busy) override;
    bool IsApplicationActive() const override;
    void FlashTaskBar() override;
    bool AskYesNo(const std::string& question) override;
    std::string ChooseFileToSend() override;
    std::string ChooseSaveFile(const std::string& offeredName) override;
    void SetProgress(int percent, int64_t done, int64_t total) override;
    void SetTextToSendEnabled(bool enabled) override;
    void Later(std::function<void()> task) override;

    // Draws attention to the window's taskbar entry until it is activated.
    void flashTaskBar();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    // A file dropped on the window is offered; Escape stops one being sent.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildToolbar();
    void buildControls();
    void buildLog();
    void buildTabOrder();
    void wireSession();
    QWidget* field(TFormField field) const;

    std::unique_ptr<IDialogs> dialogs_;
    std::function<void(const std::string&)> logEcho_;
    int logLines_ = 0;

    QFrame* Panel3 = nullptr;
    QFrame* Panel2 = nullptr;
    QFrame* Panel1 = nullptr;

    QToolButton* sbListen = nullptr;
    QToolButton* sbConnect = nullptr;
    QToolButton* sbDisconnect = nullptr;
    QToolButton* sbSendFile = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* sbLaunchVantrel = nullptr;
    QToolButton* sbVisitWebSite = nullptr;
    QToolButton* SpeedButton20 = nullptr;

    QLineEdit* txtListenPort = nullptr;
    QPushButton* btnListen = nullptr;
    QPushButton* btnConnect = nullptr;
    QLineEdit* txtRemotePort = nullptr;
    QLineEdit* txtRSAKeySize = nullptr;
    QPushButton* btnDisconnect = nullptr;
    QPushButton* btnSendFile = nullptr;
    QPushButton* btnStartLogging = nullptr;
    QPushButton* btnStopLogging = nullptr;
    TAntiKeyLoggerEdit* txtTextToSend = nullptr;
    TAntiKeyLoggerEdit* txtRemoteHost = nullptr;

    QPlainTextEdit* Memo1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    // Bytes done, speed and time left while a file moves.
    QLabel* lblTransferStatus = nullptr;
    // When the transfer shown began, for its speed.
    qint64 transferStartMs_ = 0;

    // Last member: goes first on destruction, while the widgets it talks to live.
    std::unique_ptr<TWindowPresenter> presenter_;
};
