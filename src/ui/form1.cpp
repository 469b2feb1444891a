#include "ui/form1.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QCursor>
#include <QDateTime>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QFont>
#include <QFrame>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "antikeylogger/antikeyloggeredit.h"
#include "session/displaytext.h"
#include "session/guarded.h"

// The resource initialiser lives in a static library; nothing would pull it
// in unless asked by name, and the macro must not sit inside a namespace.
static void initUiResources() { Q_INIT_RESOURCE(uiicons); }

namespace {

constexpr int clientWidth = 661;
constexpr int clientHeight = 463;
constexpr int toolbarHeight = 25;
constexpr int controlsHeight = 184;
constexpr int progressHeight = 17;

constexpr int toolButtonWidth = 23;
constexpr int toolButtonHeight = 22;
constexpr int toolButtonPitch = 24;

constexpr int editWidth = 121;
constexpr int editHeight = 21;
constexpr int buttonWidth = 75;
constexpr int buttonHeight = 25;

// Both columns of the controls panel: label, then field.
constexpr int leftLabelX = 16;
constexpr int leftFieldX = 96;
constexpr int rightLabelX = 444;
constexpr int rightFieldX = 524;
constexpr int firstRowY = 10;
constexpr int secondRowY = 42;
constexpr int buttonRowY = 76;
constexpr int textRowY = 114;
constexpr int logRowY = 148;
// The middle buttons sit centred between the columns.
constexpr int sendFileX = 250;
constexpr int disconnectX = 336;
constexpr int startLoggingX = 252;
constexpr int stopLoggingX = 334;

// Lines the message log keeps.
constexpr int kMaxLogLines = 5000;

QString Utf8(const std::string& text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

const QString textToSendHint = QStringLiteral("Enter the text to send and press Return");

QFrame* makePanel(QWidget* parent, const char* name) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(x, y, leftFieldX - leftLabelX - 4, editHeight);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

template <class Edit>
Edit* placeEdit(Edit* edit, const char* name, int x, int y, int width = editWidth) {
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(x, y, width, editHeight);
    return edit;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, const QString& hint, int x, int y) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, buttonWidth, buttonHeight);
    if (!hint.isEmpty()) button->setToolTip(hint);
    // Clicks must not steal the focus from the text being typed, as with the
    // toolbar; Tab still reaches the buttons.
    button->setAutoDefault(false);
    return button;
}

}  // namespace

TForm1::TForm1(TWindowEnvironment environment, std::unique_ptr<IDialogs> dialogs, QWidget* parent)
    : QWidget(parent), dialogs_(std::move(dialogs)) {
    initUiResources();
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quellmere"));
    setWindowIcon(QIcon(QStringLiteral(":/ui/icons/antikeylogging.png")));

    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    setFont(font);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildToolbar();
    buildControls();
    buildLog();
    layout->addWidget(Panel3);
    layout->addWidget(Panel2);
    layout->addWidget(Panel1, 1);
    buildTabOrder();

    resize(clientWidth, clientHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()).topLeft());
    }

    setAcceptDrops(true);
    presenter_ = std::make_unique<TWindowPresenter>(*this, std::move(environment));
    wireSession();
    presenter_->FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::buildToolbar() {
    Panel3 = makePanel(this, "Panel3");
    Panel3->setFixedHeight(toolbarHeight);

    struct Tool {
        QToolButton** button;
        const char* name;
        const char* icon;
        const char* hint;
    };
    const Tool tools[] = {
        {&sbListen, "sbListen", "listen", "Listen for an incoming connection"},
        {&sbConnect, "sbConnect", "connect", "Connect to remote host"},
        {&sbDisconnect, "sbDisconnect", "disconnect", "Disconnect"},
        {&sbSendFile, "sbSendFile", "sendfile", "Send file to remote host"},
        {&SpeedButton1, "SpeedButton1", "antikeylogging", nullptr},  // the session sets its hint
        {&sbLaunchVantrel, "sbLaunchVantrel", "launch", "Launch Vantrel"},
        {&sbVisitWebSite, "sbVisitWebSite", "website", "Visit Quellmere web site"},
        {&SpeedButton20, "SpeedButton20", "shutdown", "Shutdown Windows immediately (DOES NOT PROMPT!)"},
    };
    int x = 1;
    for (const Tool& tool : tools) {
        auto* button = new QToolButton(Panel3);
        button->setObjectName(QString::fromLatin1(tool.name));
        button->setGeometry(x, (toolbarHeight - toolButtonHeight) / 2, toolButtonWidth, toolButtonHeight);
        button->setIcon(QIcon(QStringLiteral(":/ui/icons/%1.png").arg(QString::fromLatin1(tool.icon))));
        button->setIconSize(QSize(16, 16));
        button->setAutoRaise(true);
        // Like the buttons of a toolbar: a click leaves the focus where it was.
        button->setFocusPolicy(Qt::NoFocus);
        if (tool.hint) button->setToolTip(QString::fromLatin1(tool.hint));
        *tool.button = button;
        x += toolButtonPitch;
    }
    SpeedButton1->setCheckable(true);
}

void TForm1::buildControls() {
    Panel2 = makePanel(this, "Panel2");
    Panel2->setFixedHeight(controlsHeight);

    makeLabel(Panel2, "lblRSAKeySize", QStringLiteral("RSA key size"), leftLabelX, firstRowY);
    txtRSAKeySize = placeEdit(new QLineEdit(QStringLiteral("1024"), Panel2), "txtRSAKeySize", leftFieldX, firstRowY);
    makeLabel(Panel2, "lblListenPort", QStringLiteral("Listen Port"), leftLabelX, secondRowY);
    txtListenPort = placeEdit(new QLineEdit(QStringLiteral("1801"), Panel2), "txtListenPort", leftFieldX, secondRowY);
    btnListen = makeButton(Panel2, "btnListen", QStringLiteral("&Listen"),
                           QStringLiteral("Listen for an incoming connection"), leftFieldX, buttonRowY);

    makeLabel(Panel2, "lblRemoteHost", QStringLiteral("Remote host"), rightLabelX, firstRowY);
    txtRemoteHost = placeEdit(new TAntiKeyLoggerEdit(Panel2), "txtRemoteHost", rightFieldX, firstRowY);
    makeLabel(Panel2, "lblRemotePort", QStringLiteral("Remote port"), rightLabelX, secondRowY);
    txtRemotePort = placeEdit(new QLineEdit(QStringLiteral("1801"), Panel2), "txtRemotePort", rightFieldX, secondRowY);
    btnConnect = makeButton(Panel2, "btnConnect", QStringLiteral("&Connect"), QStringLiteral("Connect to remote host"),
                            rightFieldX, buttonRowY);

    btnSendFile = makeButton(Panel2, "btnSendFile", QStringLiteral("Send &file"),
                             QStringLiteral("Send file to remote host"), sendFileX, buttonRowY);
    btnDisconnect = makeButton(Panel2, "btnDisconnect", QStringLiteral("&Disconnect"),
                               QStringLiteral("Disconnect from remote host"), disconnectX, buttonRowY);

    QLabel* textLabel = makeLabel(Panel2, "lblTextToSend", QStringLiteral("Text to send"), leftLabelX, textRowY);
    textLabel->setToolTip(textToSendHint);
    txtTextToSend = placeEdit(new TAntiKeyLoggerEdit(Panel2), "txtTextToSend", leftFieldX, textRowY,
                              rightFieldX + editWidth - leftFieldX);
    txtTextToSend->setToolTip(textToSendHint);

    btnStartLogging =
        makeButton(Panel2, "btnStartLogging", QStringLiteral("Log start"), QString(), startLoggingX, logRowY);
    btnStopLogging = makeButton(Panel2, "btnStopLogging", QStringLiteral("Log stop"), QString(), stopLoggingX, logRowY);

    for (TAntiKeyLoggerEdit* edit : {txtTextToSend, txtRemoteHost}) {
        edit->setGarbageCount(25);
        edit->setAntiKeyloggingActive(true);
    }
}

void TForm1::buildLog() {
    Panel1 = makePanel(this, "Panel1");
    auto* layout = new QVBoxLayout(Panel1);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    Memo1 = new QPlainTextEdit(Panel1);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // The oldest lines go: a chatty or hostile peer cannot fill the memory.
    Memo1->setMaximumBlockCount(kMaxLogLines);

    ProgressBar1 = new QProgressBar(Panel1);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setFixedHeight(progressHeight);

    layout->addWidget(Memo1, 1);
    layout->addWidget(ProgressBar1);
}

void TForm1::buildTabOrder() {
    QWidget* const order[] = {txtListenPort,  btnListen,     btnConnect,    txtRemotePort,
                              txtRSAKeySize,  btnDisconnect, btnSendFile,   btnStartLogging,
                              btnStopLogging, txtTextToSend, txtRemoteHost, Memo1};
    for (std::size_t i = 1; i < std::size(order); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
}

void TForm1::wireSession() {
    auto connectClick = [this](QAbstractButton* button, void (TWindowPresenter::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] {
            // The presenter catches its own errors; this keeps anything else out of the event loop.
            Guarded([this, handler] { (presenter_.get()->*handler)(); },
                    [this](const std::string& text) { ShowError(text); });
        });
    };
    connectClick(btnListen, &TWindowPresenter::btnListenClick);
    connectClick(sbListen, &TWindowPresenter::btnListenClick);
    connectClick(btnConnect, &TWindowPresenter::btnConnectClick);
    connectClick(sbConnect, &TWindowPresenter::btnConnectClick);
    connectClick(btnDisconnect, &TWindowPresenter::btnDisconnectClick);
    connectClick(sbDisconnect, &TWindowPresenter::btnDisconnectClick);
    connectClick(SpeedButton1, &TWindowPresenter::SpeedButton1Click);
    connectClick(btnStartLogging, &TWindowPresenter::btnStartLoggingClick);
    connectClick(btnSendFile, &TWindowPresenter::btnSendFileClick);
    connectClick(sbSendFile, &TWindowPresenter::btnSendFileClick);
    connectClick(btnStopLogging, &TWindowPresenter::btnStopLoggingClick);
    // Return sends the line; the field's own handling follows, on an emptied field.
    connect(txtTextToSend, &TAntiKeyLoggerEdit::keyPressed, this, [this](QChar key) {
        const char typed = key == QLatin1Char('\r') ? '\r' : '\0';
        Guarded([this, typed] { presenter_->txtTextToSendKeyPress(typed); },
                [this](const std::string& text) { ShowError(text); });
    });
    connectClick(sbLaunchVantrel, &TWindowPresenter::sbLaunchVantrelClick);
    connectClick(sbVisitWebSite, &TWindowPresenter::sbVisitWebSiteClick);
    connectClick(SpeedButton20, &TWindowPresenter::SpeedButton20Click);
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Restoring from the taskbar is the system's show, not the window's.
    if (!event->spontaneous()) presenter_->FormShow();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (presenter_->FormClose())
        event->accept();
    else
        event->ignore();
}

void TForm1::AppendLog(const std::string& line) {
    // One line stays one line of the log, however the peer built it.
    Memo1->appendPlainText(Utf8(ShownLine(line)));
    if (logEcho_) logEcho_(line);
    logLines_ = std::min(logLines_ + 1, kMaxLogLines);
}

int TForm1::LogLineCount() const { return logLines_; }

void TForm1::ClearLog() {
    Memo1->clear();
    logLines_ = 0;
}

void TForm1::FixControls(const TControlStates& states) {
    for (QWidget* control : {static_cast<QWidget*>(btnListen), static_cast<QWidget*>(sbListen),
                             static_cast<QWidget*>(btnConnect), static_cast<QWidget*>(sbConnect)})
        control->setEnabled(states.connectionSetupEnabled);
    btnDisconnect->setEnabled(states.disconnectEnabled);
    sbDisconnect->setEnabled(states.disconnectEnabled);
    txtTextToSend->setEnabled(states.sendingEnabled);
    for (QWidget* control : {static_cast<QWidget*>(txtRSAKeySize), static_cast<QWidget*>(txtListenPort),
                             static_cast<QWidget*>(txtRemoteHost), static_cast<QWidget*>(txtRemotePort)})
        control->setEnabled(states.connectionSetupEnabled);
    btnSendFile->setEnabled(states.sendingEnabled);
    sbSendFile->setEnabled(states.sendingEnabled);
    btnStartLogging->setVisible(states.loggingButtonsVisible);
    btnStartLogging->setEnabled(states.startLoggingEnabled);
    btnStopLogging->setVisible(states.loggingButtonsVisible);
    btnStopLogging->setEnabled(states.stopLoggingEnabled);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    SetBusyCursor(false);
}

QWidget* TForm1::field(TFormField which) const {
    switch (which) {
        case TFormField::RSAKeySize: return txtRSAKeySize;
        case TFormField::ListenPort: return txtListenPort;
        case TFormField::RemoteHost: return txtRemoteHost;
        case TFormField::RemotePort: return txtRemotePort;
        case TFormField::TextToSend: return txtTextToSend;
    }
    return nullptr;
}

std::string TForm1::FieldText(TFormField which) const {
    const auto* edit = qobject_cast<const QLineEdit*>(field(which));
    return edit ? edit->text().toStdString() : std::string();
}

void TForm1::SetFieldText(TFormField which, const std::string& text) {
    if (auto* edit = qobject_cast<QLineEdit*>(field(which)))
        edit->setText(Utf8(text));
}

bool TForm1::AntiKeyloggingToggleDown() const { return SpeedButton1->isChecked(); }

void TForm1::SetAntiKeyloggingToggleDown(bool down) { SpeedButton1->setChecked(down); }

void TForm1::ApplyAntiKeylogging(bool active, const std::string& toggleHint) {
    txtTextToSend->setAntiKeyloggingActive(active);
    txtRemoteHost->setAntiKeyloggingActive(active);
    SpeedButton1->setToolTip(QString::fromStdString(toggleHint));
}

bool TForm1::TextToSendAntiKeyloggingActive() const { return txtTextToSend->AntiKeyloggingActive(); }

void TForm1::FocusTextToSend() { txtTextToSend->setFocus(Qt::OtherFocusReason); }

void TForm1::ShowWarning(const std::string& text) {
    dialogs_->Warning(this, Utf8(text));
}

void TForm1::ShowError(const std::string& text) {
    dialogs_->Error(this, Utf8(text));
}

void TForm1::ShowErrorBox(const std::string& caption, const std::string& text) {
    dialogs_->ErrorBox(this, Utf8(caption), Utf8(text));
}

void TForm1::SetBusyCursor(bool busy) {
    if (busy) {
        if (!QApplication::overrideCursor()) QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    } else {
        // Back to the arrow whatever stacked up meanwhile.
        while (QApplication::overrideCursor()) QApplication::restoreOverrideCursor();
    }
}

bool TForm1::IsApplicationActive() const { return QGuiApplication::applicationState() == Qt::ApplicationActive; }

void TForm1::FlashTaskBar() { flashTaskBar(); }

bool TForm1::AskYesNo(const std::string& question) {
    // The question quotes the peer's offer: shown as a line, never laid out as markup.
    return dialogs_->Question(this, Utf8(ShownLine(question)));
}

std::string TForm1::ChooseFileToSend() { return dialogs_->OpenFile(this).toStdString(); }

std::string TForm1::ChooseSaveFile(const std::string& offeredName) {
    return dialogs_->SaveFile(this, Utf8(offeredName)).toStdString();
}

void TForm1::Later(std::function<void()> task) { QTimer::singleShot(0, this, std::move(task)); }

void TForm1::SetProgress(int percent, int64_t done, int64_t total) {
    ProgressBar1->setValue(percent);
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (!ProgressBar1->isTextVisible()) transferStartMs_ = now;
    // The bar itself carries the status line, so the layout stays as it is.
    ProgressBar1->setFormat(QString::fromStdString(TransferStatusText(done, total, now - transferStartMs_)));
    ProgressBar1->setTextVisible(done < total);
}

void TForm1::SetTextToSendEnabled(bool enabled) { txtTextToSend->setEnabled(enabled); }

void TForm1::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls() && btnSendFile->isEnabled()) event->acceptProposedAction();
}

void TForm1::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.first().isLocalFile() || !btnSendFile->isEnabled()) return;
    event->acceptProposedAction();
    presenter_->OfferFile(urls.first().toLocalFile().toStdString());
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && presenter_->State().isSending) {
        presenter_->CancelSending();
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm1::flashTaskBar() { QApplication::alert(this, 0); }
