// The main window on the offscreen platform: its layout and texts, the control
// states, and what each control and window event hands to the session.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "antikeylogger/antikeyloggercommon.h"
#include "antikeylogger/antikeyloggeredit.h"
#include "antikeylogger/loopbackkeyboard.h"
#include "rsa/privatekey.h"
#include "support/fakedesktop.h"
#include "support/fakes.h"
#include "support/testpeer.h"
#include "ui/form1.h"
#include "session/keyexchange.h"

namespace {

class RecordingDialogs : public IDialogs {
public:
    void Warning(QWidget*, const QString& text) override { warnings << text; }
    void Error(QWidget*, const QString& text) override { errors << text; }
    void ErrorBox(QWidget*, const QString& caption, const QString& text) override {
        errorBoxes << caption + QStringLiteral("|") + text;
    }
    bool Question(QWidget*, const QString& text) override {
        questions << text;
        return answerYes;
    }
    QString OpenFile(QWidget*) override { return fileToOpen; }
    QString SaveFile(QWidget*, const QString& suggestedName) override {
        suggested << suggestedName;
        return saveAs;
    }
    QStringList warnings;
    QStringList errors;
    // Caption and text, joined by a bar.
    QStringList errorBoxes;
    QStringList questions;
    QStringList suggested;
    bool answerYes = true;
    QString fileToOpen;
    QString saveAs;
};

// One window with its session on the shared fakes, and recorded boxes.
class Form1Test : public ::testing::Test {
protected:
    void writeConfig(const std::string& text) { configText = text; }

    TForm1& make() {
        auto recording = std::make_unique<RecordingDialogs>();
        dialogs = recording.get();
        auto store = std::make_unique<FakeSettingsStore>();
        store->bytes = configText;
        settings = store.get();
        auto fakeDesktop = std::make_unique<FakeDesktop>();
        desktop = fakeDesktop.get();
        TWindowEnvironment environment{fakes.Make([](int32_t) { return std::make_unique<TPrivateKey>(64); }),
                                       std::move(store), std::move(fakeDesktop), kFakeHomepage};
        client = fakes.client;
        server = fakes.server;
        worker = fakes.worker;
        form = std::make_unique<TForm1>(std::move(environment), std::move(recording));
        return *form;
    }

    // The window connects to a listening peer and the key exchange runs.
    void joinPeer() {
        setText("txtRemoteHost", QStringLiteral("localhost"));
        click("btnConnect");
        peer = std::make_unique<TestPeer>();
        peer->Join(*client, *worker);
    }

    // What the window posted to the event loop (the boxes of an offer) runs.
    void runLater() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

    TForm1& makeShown() {
        make().show();
        return *form;
    }

    template <class T = QWidget>
    T* child(const char* name) const {
        T* widget = form->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QStringList logLines() const {
        const QString text = child<QPlainTextEdit>("Memo1")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }

    void click(const char* name) { child<QAbstractButton>(name)->click(); }

    void setText(const char* name, const QString& text) { child<QLineEdit>(name)->setText(text); }

    std::string configText;
    FakeEnvironment fakes;
    FakeClientSocket* client = nullptr;
    FakeServerSocket* server = nullptr;
    FakeWorker* worker = nullptr;
    RecordingDialogs* dialogs = nullptr;
    FakeSettingsStore* settings = nullptr;
    FakeDesktop* desktop = nullptr;
    std::unique_ptr<TestPeer> peer;
    std::unique_ptr<TForm1> form;
};

const char* const toolbarNames[] = {"sbListen",     "sbConnect",       "sbDisconnect",   "sbSendFile",
                                    "SpeedButton1", "sbLaunchVantrel", "sbVisitWebSite", "SpeedButton20"};

// ---------------------------------------------------------------- layout

TEST_F(Form1Test, WindowHasItsCaptionSizeAndThreePanels) {
    TForm1& window = makeShown();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Quellmere"));
    EXPECT_EQ(window.objectName(), QStringLiteral("Form1"));
    EXPECT_EQ(window.size(), QSize(661, 463));
    const QPoint screenCentre = window.screen()->availableGeometry().center();
    // Centred as closely as the window frame, which the platform adds, allows.
    EXPECT_NEAR(window.geometry().center().x(), screenCentre.x(), 10);
    EXPECT_NEAR(window.geometry().center().y(), screenCentre.y(), 10);

    auto* toolbar = child<QFrame>("Panel3");
    auto* controls = child<QFrame>("Panel2");
    auto* log = child<QFrame>("Panel1");
    EXPECT_EQ(toolbar->geometry(), QRect(0, 0, 661, 25));
    EXPECT_EQ(controls->geometry(), QRect(0, 25, 661, 184));
    EXPECT_EQ(log->geometry(), QRect(0, 209, 661, 463 - 209));
}

TEST_F(Form1Test, LogIsReadOnlyWithOnlyAVerticalScrollBarAboveTheProgressBar) {
    makeShown();
    auto* memo = child<QPlainTextEdit>("Memo1");
    auto* progress = child<QProgressBar>("ProgressBar1");
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(progress->minimum(), 0);
    EXPECT_EQ(progress->maximum(), 100);
    EXPECT_EQ(progress->height(), 17);
    EXPECT_EQ(progress->parentWidget(), child<QWidget>("Panel1"));
    EXPECT_EQ(memo->geometry().bottom() + 1, progress->geometry().top());
    EXPECT_EQ(progress->geometry().bottom(), child<QWidget>("Panel1")->contentsRect().bottom());
}

TEST_F(Form1Test, LogGrowsWithTheWindowWhileTheOtherPanelsKeepTheirHeight) {
    TForm1& window = makeShown();
    auto* memo = child<QPlainTextEdit>("Memo1");
    const QSize before = memo->size();
    window.resize(861, 663);
    EXPECT_EQ(memo->size(), before + QSize(200, 200));
    EXPECT_EQ(child<QWidget>("Panel3")->height(), 25);
    EXPECT_EQ(child<QWidget>("Panel2")->height(), 184);
    EXPECT_EQ(child<QProgressBar>("ProgressBar1")->height(), 17);
    EXPECT_EQ(child<QProgressBar>("ProgressBar1")->width(), memo->width());
}

TEST_F(Form1Test, ToolbarHoldsEightImageButtonsSideBySide) {
    makeShown();
    const QWidget* toolbar = child<QWidget>("Panel3");
    int previousX = -1;
    for (const char* name : toolbarNames) {
        auto* button = child<QToolButton>(name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->parentWidget(), toolbar) << name;
        EXPECT_EQ(button->size(), QSize(23, 22)) << name;
        if (previousX >= 0) {
            EXPECT_EQ(button->x() - previousX, 24) << name;
        }
        previousX = button->x();
        EXPECT_FALSE(button->icon().pixmap(16, 16).isNull()) << name << " has no image";
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus) << name;
    }
    EXPECT_LE(child<QToolButton>("sbListen")->x(), 2);
    EXPECT_TRUE(child<QToolButton>("SpeedButton1")->isCheckable());
}

TEST_F(Form1Test, ToolbarHintsAreTooltips) {
    makeShown();
    EXPECT_EQ(child<QWidget>("sbListen")->toolTip(), QStringLiteral("Listen for an incoming connection"));
    EXPECT_EQ(child<QWidget>("sbConnect")->toolTip(), QStringLiteral("Connect to remote host"));
    EXPECT_EQ(child<QWidget>("sbDisconnect")->toolTip(), QStringLiteral("Disconnect"));
    EXPECT_EQ(child<QWidget>("sbSendFile")->toolTip(), QStringLiteral("Send file to remote host"));
    EXPECT_EQ(child<QWidget>("sbLaunchVantrel")->toolTip(), QStringLiteral("Launch Vantrel"));
    EXPECT_EQ(child<QWidget>("sbVisitWebSite")->toolTip(), QStringLiteral("Visit Quellmere web site"));
    EXPECT_EQ(child<QWidget>("SpeedButton20")->toolTip(),
              QStringLiteral("Shutdown Windows immediately (DOES NOT PROMPT!)"));
}

TEST_F(Form1Test, ButtonsHaveTheirCaptionsAccessKeysAndHints) {
    makeShown();
    struct Expected {
        const char* name;
        const char* caption;
        const char* hint;
    };
    const Expected buttons[] = {
        {"btnListen", "&Listen", "Listen for an incoming connection"},
        {"btnConnect", "&Connect", "Connect to remote host"},
        {"btnDisconnect", "&Disconnect", "Disconnect from remote host"},
        {"btnSendFile", "Send &file", "Send file to remote host"},
        {"btnStartLogging", "Log start", ""},
        {"btnStopLogging", "Log stop", ""},
    };
    for (const Expected& expected : buttons) {
        auto* button = child<QPushButton>(expected.name);
        ASSERT_NE(button, nullptr);
        EXPECT_EQ(button->text(), QString::fromLatin1(expected.caption)) << expected.name;
        EXPECT_EQ(button->toolTip(), QString::fromLatin1(expected.hint)) << expected.name;
        EXPECT_EQ(button->size(), QSize(75, 25)) << expected.name;
    }
}

TEST_F(Form1Test, FieldsHaveTheirDefaultsWidthsLabelsAndHints) {
    makeShown();
    EXPECT_EQ(child<QLineEdit>("txtListenPort")->text(), QStringLiteral("1801"));
    EXPECT_EQ(child<QLineEdit>("txtRemotePort")->text(), QStringLiteral("1801"));
    EXPECT_EQ(child<QLineEdit>("txtRSAKeySize")->text(), QStringLiteral("1024"));
    EXPECT_EQ(child<QLineEdit>("txtRemoteHost")->text(), QString());
    EXPECT_EQ(child<QLineEdit>("txtTextToSend")->text(), QString());
    for (const char* name : {"txtListenPort", "txtRemotePort", "txtRSAKeySize", "txtRemoteHost"})
        EXPECT_EQ(child<QWidget>(name)->width(), 121) << name;
    EXPECT_GT(child<QWidget>("txtTextToSend")->width(), 661 * 3 / 4);

    const QString hint = QStringLiteral("Enter the text to send and press Return");
    EXPECT_EQ(child<QWidget>("txtTextToSend")->toolTip(), hint);
    EXPECT_EQ(child<QLabel>("lblTextToSend")->toolTip(), hint);

    // Each label reads as written and stands to the left of its field, on its row.
    const std::pair<const char*, const char*> labelled[] = {{"lblRSAKeySize", "txtRSAKeySize"},
                                                            {"lblListenPort", "txtListenPort"},
                                                            {"lblRemoteHost", "txtRemoteHost"},
                                                            {"lblRemotePort", "txtRemotePort"},
                                                            {"lblTextToSend", "txtTextToSend"}};
    const QStringList captions = {"RSA key size", "Listen Port", "Remote host", "Remote port", "Text to send"};
    for (std::size_t i = 0; i < std::size(labelled); ++i) {
        auto* label = child<QLabel>(labelled[i].first);
        auto* field = child<QWidget>(labelled[i].second);
        EXPECT_EQ(label->text(), captions[static_cast<qsizetype>(i)]);
        EXPECT_LT(label->geometry().right(), field->x()) << labelled[i].first;
        EXPECT_EQ(label->y(), field->y()) << labelled[i].first;
    }
}

TEST_F(Form1Test, AntiKeyloggingFieldsStartWithTwentyFiveGarbageKeys) {
    make();
    for (const char* name : {"txtTextToSend", "txtRemoteHost"}) {
        auto* edit = child<TAntiKeyLoggerEdit>(name);
        ASSERT_NE(edit, nullptr) << name;
        EXPECT_EQ(edit->GarbageCount(), 25) << name;
    }
}

TEST_F(Form1Test, ControlsAreArrangedInColumnsAndRows) {
    makeShown();
    auto geometry = [&](const char* name) { return child<QWidget>(name)->geometry(); };
    // Left column, top to bottom.
    EXPECT_LT(geometry("txtRSAKeySize").bottom(), geometry("txtListenPort").top());
    EXPECT_LT(geometry("txtListenPort").bottom(), geometry("btnListen").top());
    // Right column, top to bottom.
    EXPECT_LT(geometry("txtRemoteHost").bottom(), geometry("txtRemotePort").top());
    EXPECT_LT(geometry("txtRemotePort").bottom(), geometry("btnConnect").top());
    EXPECT_LT(geometry("txtRSAKeySize").right(), geometry("txtRemoteHost").left());
    // The button row: Listen, Send file, Disconnect, Connect.
    for (const char* name : {"btnSendFile", "btnDisconnect", "btnConnect"})
        EXPECT_EQ(geometry(name).top(), geometry("btnListen").top()) << name;
    EXPECT_LT(geometry("btnListen").right(), geometry("btnSendFile").left());
    EXPECT_LT(geometry("btnSendFile").right(), geometry("btnDisconnect").left());
    EXPECT_LT(geometry("btnDisconnect").right(), geometry("btnConnect").left());
    // Then the text line, then the log buttons in the middle.
    EXPECT_LT(geometry("btnListen").bottom(), geometry("txtTextToSend").top());
    EXPECT_LT(geometry("txtTextToSend").bottom(), geometry("btnStartLogging").top());
    EXPECT_EQ(geometry("btnStartLogging").top(), geometry("btnStopLogging").top());
    EXPECT_LT(geometry("btnStartLogging").right(), geometry("btnStopLogging").left());
    const int middle = 661 / 2;
    EXPECT_NEAR((geometry("btnStartLogging").left() + geometry("btnStopLogging").right()) / 2, middle, 2);
    EXPECT_NEAR((geometry("btnSendFile").left() + geometry("btnDisconnect").right()) / 2, middle, 2);
    // Everything fits in the controls panel.
    const QRect panel = child<QWidget>("Panel2")->rect();
    for (const char* name : {"btnStartLogging", "btnStopLogging", "txtTextToSend", "btnConnect", "txtRemoteHost"})
        EXPECT_TRUE(panel.contains(geometry(name))) << name;
}

TEST_F(Form1Test, TabOrderFollowsTheControlsTable) {
    writeConfig("[main]\ndebug=true\n");
    makeShown();
    const QStringList expected = {"txtListenPort",  "btnListen",     "btnConnect",   "txtRemotePort",
                                  "txtRSAKeySize",  "btnDisconnect", "btnSendFile",  "btnStartLogging",
                                  "btnStopLogging", "txtTextToSend", "txtRemoteHost"};
    QStringList seen;
    QWidget* widget = child<QWidget>("txtListenPort");
    for (int steps = 0; widget && steps < 200 && seen.size() < expected.size(); ++steps) {
        if (expected.contains(widget->objectName()) && !seen.contains(widget->objectName()))
            seen << widget->objectName();
        widget = widget->nextInFocusChain();
    }
    EXPECT_EQ(seen, expected);
}

TEST_F(Form1Test, AccessKeyPressesItsButton) {
    TForm1& window = makeShown();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    setText("txtRemoteHost", QStringLiteral("127.0.0.1"));
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_C, Qt::AltModifier);
    // A mnemonic presses its button the animated way: the click lands a moment later.
    EXPECT_TRUE(QTest::qWaitFor([&] { return client->activations == 1; }, 5000)) << "Alt+C did not press Connect";
    EXPECT_EQ(client->host, "127.0.0.1");
}

// ---------------------------------------------------------------- control states

struct StateCase {
    const char* name;
    TSessionState flags;
    bool settingsEnabled;  // Listen, Connect and the four setting fields
    bool disconnectEnabled;
    bool sendEnabled;  // text to send and send file
};

void PrintTo(const StateCase& state, std::ostream* out) { *out << state.name; }

TSessionState flagsOf(bool active, bool handshaking, bool transferring) {
    TSessionState flags;
    flags.isActive = active;
    flags.isHandshaking = handshaking;
    flags.isTransferring = transferring;
    return flags;
}

const StateCase stateCases[] = {
    {"Idle", flagsOf(false, false, false), true, false, false},
    {"ListeningNoPeer", flagsOf(true, false, false), false, true, true},
    {"Handshaking", flagsOf(true, true, false), false, true, false},
    {"Connected", flagsOf(true, false, false), false, true, true},
    {"Transferring", flagsOf(true, false, true), false, true, false},
};

class FixControlsTest : public Form1Test, public ::testing::WithParamInterface<StateCase> {};

TEST_P(FixControlsTest, EnablesWhatTheStateAllows) {
    makeShown();
    const StateCase& state = GetParam();
    const char* const settings[] = {"btnListen",     "sbListen",      "btnConnect",    "sbConnect",
                                    "txtRSAKeySize", "txtListenPort", "txtRemoteHost", "txtRemotePort"};
    const char* const disconnects[] = {"btnDisconnect", "sbDisconnect"};
    const char* const senders[] = {"txtTextToSend", "btnSendFile", "sbSendFile"};
    // Start from the opposite of every expectation, so each control must change.
    for (const char* name : settings) child<QWidget>(name)->setEnabled(!state.settingsEnabled);
    for (const char* name : disconnects) child<QWidget>(name)->setEnabled(!state.disconnectEnabled);
    for (const char* name : senders) child<QWidget>(name)->setEnabled(!state.sendEnabled);
    child<QWidget>("btnStartLogging")->show();
    child<QWidget>("btnStopLogging")->show();
    form->FixControls(FixControlsRules(state.flags));

    for (const char* name : settings) EXPECT_EQ(child<QWidget>(name)->isEnabled(), state.settingsEnabled) << name;
    for (const char* name : disconnects) EXPECT_EQ(child<QWidget>(name)->isEnabled(), state.disconnectEnabled) << name;
    for (const char* name : senders) EXPECT_EQ(child<QWidget>(name)->isEnabled(), state.sendEnabled) << name;
    for (const char* name : {"SpeedButton1", "sbLaunchVantrel", "sbVisitWebSite", "SpeedButton20"})
        EXPECT_TRUE(child<QWidget>(name)->isEnabled()) << name;
    // No debug mode: the log buttons stay hidden in every state.
    EXPECT_FALSE(child<QWidget>("btnStartLogging")->isVisible());
    EXPECT_FALSE(child<QWidget>("btnStopLogging")->isVisible());
}

TEST_P(FixControlsTest, InDebugModeShowsTheLogButtonsWithOneEnabled) {
    makeShown();
    for (bool logging : {false, true}) {
        TSessionState flags = GetParam().flags;
        flags.debugMode = true;
        flags.isLogging = logging;
        form->FixControls(FixControlsRules(flags));
        EXPECT_TRUE(child<QWidget>("btnStartLogging")->isVisible());
        EXPECT_TRUE(child<QWidget>("btnStopLogging")->isVisible());
        EXPECT_EQ(child<QWidget>("btnStartLogging")->isEnabled(), !logging);
        EXPECT_EQ(child<QWidget>("btnStopLogging")->isEnabled(), logging);
    }
}

INSTANTIATE_TEST_SUITE_P(States, FixControlsTest, ::testing::ValuesIn(stateCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Form1Test, FixControlsPutsTheProgressBarAndCursorBack) {
    makeShown();
    auto* progress = child<QProgressBar>("ProgressBar1");
    progress->setValue(57);
    form->SetBusyCursor(true);
    ASSERT_NE(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    form->FixControls(FixControlsRules(flagsOf(true, true, false)));
    EXPECT_EQ(progress->value(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(Form1Test, BusyCursorDoesNotStack) {
    make();
    form->SetBusyCursor(true);
    form->SetBusyCursor(true);
    form->SetBusyCursor(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

// ---------------------------------------------------------------- the view's operations

TEST_F(Form1Test, LogTakesWholeLinesAndCountsThem) {
    make();
    form->ClearLog();
    EXPECT_EQ(form->LogLineCount(), 0);
    form->AppendLog("first");
    form->AppendLog("");
    form->AppendLog(
        "PEER (12:00:00) : gr\xc3\xbc\xc3\x9f"
        "e");
    EXPECT_EQ(form->LogLineCount(), 3);
    EXPECT_EQ(logLines(), (QStringList{"first", "", QString::fromUtf8("PEER (12:00:00) : grüße")}));
    form->ClearLog();
    EXPECT_EQ(form->LogLineCount(), 0);
    EXPECT_TRUE(logLines().isEmpty());
}

TEST_F(Form1Test, LogShowsEachLineAsOneLineInertAndCutAndKeepsTheNewestLines) {
    make();
    form->ClearLog();
    form->AppendLog("PEER (12:00:00) : hi\r\nYOU  (12:00:05) : I will pay now\r" + std::string(kHandshakeCompleteText));
    form->AppendLog("PEER (12:00:01) : " + std::string(1024 * 1024, 'A'));
    const QStringList lines = logLines();
    ASSERT_EQ(lines.size(), 2);
    EXPECT_EQ(lines[0], QStringLiteral("PEER (12:00:00) : hi\\x0d\\x0aYOU  (12:00:05) : I will pay now\\x0d") +
                            QString::fromLatin1(kHandshakeCompleteText));
    EXPECT_EQ(lines[1].size(), 4096 + QStringLiteral(" \u2026 (1048594 bytes)").size());
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("AAA \u2026 (1048594 bytes)")));
    for (int i = 0; i < 5010; ++i) form->AppendLog("line " + std::to_string(i));
    EXPECT_EQ(form->LogLineCount(), 5000);
    EXPECT_EQ(logLines().size(), 5000);
    EXPECT_EQ(logLines().first(), QStringLiteral("line 10"));
}

TEST_F(Form1Test, AnOfferNamedInMarkupIsAskedAsItsLiteralText) {
    makeShown();
    joinPeer();
    dialogs->answerYes = false;
    const std::string name = "<h1 style=\"color:red\">Update required<h1>Click <a href=\"http:x\">here<a><img src=\"x\">";
    peer->SendText("**FILE_START**" + name + "?1");
    runLater();
    const QString question = QString::fromStdString("Peer is sending file " + name + ", size=1.  Save?");
    EXPECT_EQ(dialogs->questions, QStringList{question});
    // The real box shows it as the characters they are: no heading, no link, no image read.
    const std::unique_ptr<QMessageBox> box =
        MakeMessageBox(form.get(), QMessageBox::Question, QStringLiteral("Confirm"), question, QMessageBox::Yes);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(box->text(), question);
}

TEST_F(Form1Test, FieldsAreReadAndWrittenAsUtf8) {
    make();
    const std::pair<TFormField, const char*> fields[] = {{TFormField::RSAKeySize, "txtRSAKeySize"},
                                                            {TFormField::ListenPort, "txtListenPort"},
                                                            {TFormField::RemoteHost, "txtRemoteHost"},
                                                            {TFormField::RemotePort, "txtRemotePort"},
                                                            {TFormField::TextToSend, "txtTextToSend"}};
    for (const auto& [field, name] : fields) {
        const std::string text = std::string("caf\xc3\xa9 ") + name;
        form->SetFieldText(field, text);
        EXPECT_EQ(child<QLineEdit>(name)->text(), QString::fromUtf8(text.c_str())) << name;
        EXPECT_EQ(form->FieldText(field), text) << name;
    }
}

TEST_F(Form1Test, LogLinesCanBeEchoedForScripts) {
    make();
    std::vector<std::string> echoed;
    form->SetLogEcho([&](const std::string& line) { echoed.push_back(line); });
    form->AppendLog("PEER (12:00:00) : caf\xc3\xa9");
    form->AppendLog("");
    EXPECT_EQ(echoed, (std::vector<std::string>{"PEER (12:00:00) : caf\xc3\xa9", ""}));
}

TEST_F(Form1Test, WarningsAndErrorsGoThroughTheDialogSeam) {
    make();
    form->ShowWarning("Warning - log file left on disk!");
    form->ShowError("Asynchronous socket error 10061");
    EXPECT_EQ(dialogs->warnings, QStringList{"Warning - log file left on disk!"});
    EXPECT_EQ(dialogs->errors, QStringList{"Asynchronous socket error 10061"});
}

TEST_F(Form1Test, ACaptionedErrorBoxGoesThroughTheDialogSeamAsUtf8) {
    make();
    form->ShowErrorBox("Error", "Error 2 running caf\xc3\xa9.exe\r\n - next");
    EXPECT_EQ(dialogs->errorBoxes, QStringList{QStringLiteral("Error|Error 2 running caf\u00e9.exe\r\n - next")});
    EXPECT_TRUE(dialogs->errors.isEmpty());
}

// ---------------------------------------------------------------- with the session

TEST_F(Form1Test, StartsWithDefaultsAndAntiKeyloggingOn) {
    makeShown();
    EXPECT_TRUE(child<QToolButton>("SpeedButton1")->isChecked());
    EXPECT_EQ(child<QWidget>("SpeedButton1")->toolTip(), QStringLiteral("Toggle Anti-Keylogging (currently on)"));
    EXPECT_TRUE(child<TAntiKeyLoggerEdit>("txtTextToSend")->AntiKeyloggingActive());
    EXPECT_TRUE(child<QWidget>("btnListen")->isEnabled());
    EXPECT_FALSE(child<QWidget>("btnDisconnect")->isEnabled());
    EXPECT_FALSE(child<QWidget>("btnStartLogging")->isVisible());
}

TEST_F(Form1Test, SettingsFillTheFieldsAndDebugShowsTheLogButtons) {
    writeConfig(
        "[main]\nRsaKeySize=2048\ndebug=true\nantikeylogging=false\nlistenPort=4000\n"
        "remotePort=4001\nsaveHost=true\nremoteHost=peer.example\n");
    makeShown();
    EXPECT_EQ(child<QLineEdit>("txtRSAKeySize")->text(), QStringLiteral("2048"));
    EXPECT_EQ(child<QLineEdit>("txtListenPort")->text(), QStringLiteral("4000"));
    EXPECT_EQ(child<QLineEdit>("txtRemotePort")->text(), QStringLiteral("4001"));
    EXPECT_EQ(child<QLineEdit>("txtRemoteHost")->text(), QStringLiteral("peer.example"));
    EXPECT_FALSE(child<QToolButton>("SpeedButton1")->isChecked());
    EXPECT_EQ(child<QWidget>("SpeedButton1")->toolTip(), QStringLiteral("Toggle Anti-Keylogging (currently off)"));
    EXPECT_TRUE(child<QWidget>("btnStartLogging")->isVisible());
    EXPECT_TRUE(child<QWidget>("btnStartLogging")->isEnabled());
    EXPECT_FALSE(child<QWidget>("btnStopLogging")->isEnabled());
}

TEST_F(Form1Test, AntiKeyloggingToggleFlipsBothFieldsAndItsHint) {
    makeShown();
    click("SpeedButton1");
    EXPECT_FALSE(child<QToolButton>("SpeedButton1")->isChecked());
    EXPECT_FALSE(child<TAntiKeyLoggerEdit>("txtTextToSend")->AntiKeyloggingActive());
    EXPECT_FALSE(child<TAntiKeyLoggerEdit>("txtRemoteHost")->AntiKeyloggingActive());
    EXPECT_EQ(child<QWidget>("SpeedButton1")->toolTip(), QStringLiteral("Toggle Anti-Keylogging (currently off)"));
    EXPECT_FALSE(form->TextToSendAntiKeyloggingActive());
    click("SpeedButton1");
    EXPECT_TRUE(child<QToolButton>("SpeedButton1")->isChecked());
    EXPECT_TRUE(form->TextToSendAntiKeyloggingActive());
    EXPECT_TRUE(child<TAntiKeyLoggerEdit>("txtTextToSend")->AntiKeyloggingActive());
    EXPECT_TRUE(child<TAntiKeyLoggerEdit>("txtRemoteHost")->AntiKeyloggingActive());
    EXPECT_EQ(child<QWidget>("SpeedButton1")->toolTip(), QStringLiteral("Toggle Anti-Keylogging (currently on)"));
}

TEST_F(Form1Test, ListenWithAWeakKeyWarnsThenListensAndDisconnectStops) {
    makeShown();
    setText("txtRSAKeySize", QStringLiteral("512"));
    click("btnListen");
    EXPECT_EQ(dialogs->warnings, QStringList{"Warning - key size is 512 which is weak, use 1024 at least!"});
    worker->RunAll();
    ASSERT_TRUE(logLines().contains(QStringLiteral("Listening on port 1801")));
    EXPECT_TRUE(server->active);
    EXPECT_FALSE(child<QWidget>("btnListen")->isEnabled());
    EXPECT_TRUE(child<QWidget>("btnDisconnect")->isEnabled());
    EXPECT_TRUE(child<QWidget>("txtTextToSend")->isEnabled());
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    click("sbDisconnect");
    EXPECT_FALSE(server->active);
    EXPECT_EQ(logLines().last(), QStringLiteral("Disconnected"));
    EXPECT_TRUE(child<QWidget>("btnListen")->isEnabled());
    EXPECT_TRUE(dialogs->errors.isEmpty()) << dialogs->errors.join('\n').toStdString();
}

TEST_F(Form1Test, ToolbarListenAndAPeerLeadToTheHandshakingState) {
    makeShown();
    click("sbListen");
    EXPECT_TRUE(dialogs->warnings.isEmpty());
    worker->RunAll();
    ASSERT_TRUE(logLines().contains(QStringLiteral("Listening on port 1801")));
    server->Incoming("localhost");
    EXPECT_FALSE(child<QWidget>("txtTextToSend")->isEnabled());
    EXPECT_FALSE(child<QWidget>("sbSendFile")->isEnabled());
    EXPECT_TRUE(child<QWidget>("sbDisconnect")->isEnabled());
    click("btnDisconnect");
    EXPECT_TRUE(logLines().contains(QStringLiteral("Client disconnected")));
    EXPECT_TRUE(child<QWidget>("sbListen")->isEnabled());
}

TEST_F(Form1Test, ListenWithAKeySizeThatIsNoNumberShowsTheConversionError) {
    makeShown();
    setText("txtRSAKeySize", QStringLiteral("abc"));
    click("btnListen");
    EXPECT_EQ(dialogs->errors, QStringList{"'abc' is not a valid integer value"});
    EXPECT_FALSE(server->active);
}

TEST_F(Form1Test, ConnectButtonsHandTheFieldsToTheClient) {
    makeShown();
    setText("txtRemoteHost", QStringLiteral("127.0.0.1"));
    setText("txtRemotePort", QStringLiteral("4321"));
    click("sbConnect");
    EXPECT_EQ(client->activations, 1);
    EXPECT_EQ(client->host, "127.0.0.1");
    EXPECT_EQ(client->port, 4321);
    client->CompleteConnect("localhost");
    EXPECT_TRUE(logLines().contains(QStringLiteral("Connected to localhost:4321")));
    EXPECT_FALSE(child<QWidget>("btnConnect")->isEnabled());
    EXPECT_FALSE(child<QWidget>("txtTextToSend")->isEnabled());
    click("sbDisconnect");
    EXPECT_FALSE(client->active);
    EXPECT_EQ(logLines().count(QStringLiteral("Disconnected")), 1);
    EXPECT_TRUE(child<QWidget>("btnConnect")->isEnabled());
}

TEST_F(Form1Test, ATransportRefusalReachesTheErrorDisplay) {
    makeShown();
    client->refusal = "Windows socket error: Connection refused (10061), on API 'connect'";
    click("btnConnect");
    EXPECT_EQ(dialogs->errors, QStringList{"Windows socket error: Connection refused (10061), on API 'connect'"});
    EXPECT_TRUE(form->isVisible());
}

TEST_F(Form1Test, LogButtonsStartAndStopTheTraceFile) {
    writeConfig("[main]\ndebug=true\n");
    makeShown();
    click("btnStartLogging");
    EXPECT_EQ(fakes.files->openFiles, 1);
    EXPECT_TRUE(fakes.files->FileExists("quellmere.log"));
    EXPECT_FALSE(child<QWidget>("btnStartLogging")->isEnabled());
    EXPECT_TRUE(child<QWidget>("btnStopLogging")->isEnabled());
    click("btnStopLogging");
    EXPECT_EQ(fakes.files->openFiles, 0);
    EXPECT_TRUE(child<QWidget>("btnStartLogging")->isEnabled());
    EXPECT_FALSE(child<QWidget>("btnStopLogging")->isEnabled());
}

TEST_F(Form1Test, ClosingWritesTheSettingsAndScrubsTheWindow) {
    makeShown();
    setText("txtListenPort", QStringLiteral("5005"));
    setText("txtRemoteHost", QStringLiteral("secret.host"));
    form->AppendLog("a line worth hiding");
    EXPECT_TRUE(form->close());
    EXPECT_FALSE(form->isVisible());
    EXPECT_NE(settings->bytes.find("\nlistenPort=5005\n"), std::string::npos) << settings->bytes;
    EXPECT_NE(child<QLineEdit>("txtRemoteHost")->text(), QStringLiteral("secret.host"));
    EXPECT_TRUE(logLines().isEmpty());
    EXPECT_TRUE(dialogs->warnings.isEmpty());
}

TEST_F(Form1Test, ClosingWithATraceFileOnDiskWarns) {
    makeShown();
    fakes.files->files["quellmere.log"] = "";
    EXPECT_TRUE(form->close());
    EXPECT_EQ(dialogs->warnings, QStringList{"Warning - log file left on disk!"});
}

TEST_F(Form1Test, WindowStaysOpenWhileAKeyIsBeingGenerated) {
    makeShown();
    click("btnListen");
    EXPECT_FALSE(form->close());
    EXPECT_TRUE(form->isVisible());
    EXPECT_EQ(settings->writes, 0);
    worker->RunAll();
    ASSERT_TRUE(logLines().contains(QStringLiteral("Listening on port 1801")));
    EXPECT_TRUE(form->close());
    EXPECT_EQ(settings->writes, 1);
}

TEST_F(Form1Test, ReturnInTheTextFieldSendsTheTypedLineAndEchoesIt) {
    TForm1& window = makeShown();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    auto* field = child<TAntiKeyLoggerEdit>("txtTextToSend");
    auto keyboard = std::make_shared<TLoopbackKeyboard>();
    field->setKeyboardBackend(keyboard, keyboard);
    joinPeer();
    ASSERT_TRUE(field->isEnabled());
    const uint32_t seed[2] = {7, 11};
    GarbageRandom.Seed(seed, 1, true);

    field->setFocus(Qt::TabFocusReason);
    QCoreApplication::sendPostedEvents();
    for (const QChar c : QStringLiteral("hello there")) {
        QTest::keyClick(field, c.toLatin1());
        // The garbage that each key sets off comes back before the next key.
        QCoreApplication::sendPostedEvents();
    }
    ASSERT_FALSE(keyboard->InjectedText().empty());
    EXPECT_EQ(field->text(), QStringLiteral("hello there"));
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::sendPostedEvents();

    EXPECT_EQ(logLines().last(), QStringLiteral("YOU  (11:01:04) : hello there"));
    EXPECT_EQ(peer->Heard(), std::vector<std::string>{"hello there"});
    // Emptied, and the garbage of the Return burst is dropped, not typed in.
    EXPECT_EQ(field->text(), QString());
}

TEST_F(Form1Test, SendFileOffersTheChosenFileAndAnOfferIsAnsweredThroughTheDialogs) {
    makeShown();
    joinPeer();
    fakes.files->files["/home/a/notes.txt"] = "some notes";
    dialogs->fileToOpen = QStringLiteral("/home/a/notes.txt");
    click("btnSendFile");
    EXPECT_EQ(logLines().last(), QStringLiteral("Waiting for peer to accept file...please wait"));
    EXPECT_FALSE(child<QWidget>("txtTextToSend")->isEnabled());
    EXPECT_EQ(peer->Heard(), std::vector<std::string>{"**FILE_START**notes.txt?10"});

    // The peer refuses, then offers a file of its own, which is saved.
    peer->SendText("FILE_NOK");
    EXPECT_EQ(logLines().last(), QStringLiteral("Peer rejected file"));
    dialogs->saveAs = QStringLiteral("/tmp/in/their.txt");
    peer->SendText("**FILE_START**../their.txt?2");
    runLater();
    EXPECT_EQ(dialogs->questions, QStringList{"Peer is sending file their.txt, size=2.  Save?"});
    EXPECT_EQ(dialogs->suggested, QStringList{"their.txt"});
    EXPECT_EQ(logLines().last(), QStringLiteral("Receiving file /tmp/in/their.txt"));
    peer->SendText("4869");
    EXPECT_EQ(child<QProgressBar>("ProgressBar1")->value(), 100);
    peer->SendText("**FILE_END**?177");
    EXPECT_EQ(logLines().last(), QStringLiteral("Finished reading file ok"));
    EXPECT_EQ(fakes.files->files["/tmp/in/their.txt"], "Hi");
    EXPECT_EQ(child<QProgressBar>("ProgressBar1")->value(), 0);
}

// ---------------------------------------------------------------- desktop extras

TEST_F(Form1Test, LaunchVantrelStartsTheConfiguredToolAndAFailureShowsTheErrorBox) {
    writeConfig("[main]\nvantrelPath=/opt/v/vantrel\n");
    makeShown();
    desktop->startResult = 2;
    click("sbLaunchVantrel");
    EXPECT_EQ(desktop->started, std::vector<std::string>{"/opt/v/vantrel"});
    EXPECT_EQ(dialogs->errorBoxes,
              QStringList{QStringLiteral("Error|Error 2 running /opt/v/vantrel\r\n - download from "
                                         "https://quellmere.example/home/releases \r\n and configure path in "
                                         "quellmere.conf")});
    EXPECT_TRUE(dialogs->errors.isEmpty());
}

TEST_F(Form1Test, LaunchVantrelThatStartsShowsNothing) {
    makeShown();
    click("sbLaunchVantrel");
    EXPECT_EQ(desktop->started, std::vector<std::string>{"vantrel.exe"});
    EXPECT_TRUE(dialogs->errorBoxes.isEmpty());
}

TEST_F(Form1Test, VisitWebSiteOpensTheReadMePage) {
    makeShown();
    click("sbVisitWebSite");
    EXPECT_EQ(desktop->opened, std::vector<std::string>{"https://quellmere.example/home#readme"});
    EXPECT_TRUE(desktop->started.empty());
}

TEST_F(Form1Test, ShutdownButtonPowersOffAtOnceAndARefusalShowsNothing) {
    makeShown();
    desktop->exitAccepted = false;
    const QStringList logBefore = logLines();
    click("SpeedButton20");
    EXPECT_EQ(desktop->exitRequests, std::vector<uint32_t>{12});
    EXPECT_TRUE(dialogs->errorBoxes.isEmpty());
    EXPECT_TRUE(dialogs->errors.isEmpty());
    EXPECT_TRUE(dialogs->questions.isEmpty());
    EXPECT_EQ(logLines(), logBefore);
    EXPECT_TRUE(form->isVisible());
}

}  // namespace
