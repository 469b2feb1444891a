// The field on the offscreen platform, fed by the loop-back keyboard: what it
// injects really comes back as key events and has to be dropped.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <functional>
#include <memory>
#include <string>

#include "antikeylogger/antikeyloggercommon.h"
#include "antikeylogger/antikeyloggeredit.h"
#include "antikeylogger/loopbackkeyboard.h"

namespace {

class AntiKeyLoggerEditTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(window.get());
        other = new QLineEdit(window.get());
        edit = new TAntiKeyLoggerEdit(window.get());
        edit->setObjectName("txtTextToSend");
        layout->addWidget(other);
        layout->addWidget(edit);
        keyboard = std::make_shared<TLoopbackKeyboard>();
        edit->setKeyboardBackend(keyboard, keyboard);
        other->setFocus();
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        ASSERT_TRUE(other->hasFocus());
        pressed = std::make_unique<QSignalSpy>(edit, &TAntiKeyLoggerEdit::keyPressed);
    }

    void TearDown() override {
        pressed.reset();
        window.reset();
        QCoreApplication::removePostedEvents(nullptr);
    }

    void Seed(uint32_t word0, uint32_t word1) {
        const uint32_t seed[2] = {word0, word1};
        GarbageRandom.Seed(seed, 1, true);
        reference.Seed(seed, 1, true);
    }

    // Seeds both generators so that the size of the burst after burstsBefore
    // others (all of a 25 bound) satisfies pred.
    template <typename Pred>
    void SeedForBurst(int burstsBefore, Pred pred) {
        for (uint32_t word = 1;; ++word) {
            TIsaac probe;
            const uint32_t seed[2] = {word, 0};
            probe.Seed(seed, 1, true);
            for (int burst = 0; burst < burstsBefore; ++burst) {
                MakeGarbageText(static_cast<int16_t>(probe.Range(25)), probe);
            }
            if (pred(probe.Range(25))) {
                Seed(word, 0);
                return;
            }
        }
    }

    template <typename Pred>
    void SeedForFirstBurst(Pred pred) {
        SeedForBurst(0, pred);
    }

    // The burst the field is expected to make next, from the reference.
    std::string NextBurst(int bound = 25) {
        const int n = bound > 0 ? reference.Range(bound) : 0;
        return MakeGarbageText(static_cast<int16_t>(n), reference);
    }

    static void Deliver() { QCoreApplication::sendPostedEvents(); }

    void Focus() {
        edit->setFocus();
        ASSERT_TRUE(edit->hasFocus());
    }

    // Another top-level window takes the activation and hands it back;
    // whileAway runs in between.
    void SwitchAwayAndBack(const std::function<void()>& whileAway = [] {}) {
        QWidget elsewhere;
        elsewhere.show();
        elsewhere.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
        ASSERT_FALSE(window->isActiveWindow());
        whileAway();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }

    QString PressedKeys() const {
        QString keys;
        for (const QList<QVariant>& args : *pressed) keys += args.at(0).value<QChar>();
        return keys;
    }

    bool GeneratorsAgree() { return GarbageRandom.Next() == reference.Next(); }

    std::unique_ptr<QWidget> window;
    QLineEdit* other = nullptr;
    TAntiKeyLoggerEdit* edit = nullptr;
    std::shared_ptr<TLoopbackKeyboard> keyboard;
    std::unique_ptr<QSignalSpy> pressed;
    TIsaac reference;
};

TEST_F(AntiKeyLoggerEditTest, DefaultsAndBounds) {
    EXPECT_EQ(edit->GarbageCount(), 25);
    EXPECT_TRUE(edit->AntiKeyloggingActive());
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_EQ(edit->property("GarbageCount").toInt(), 25);
    edit->setGarbageCount(-3);
    EXPECT_EQ(edit->GarbageCount(), 0);
    edit->setGarbageCount(100000);
    EXPECT_EQ(edit->GarbageCount(), 32768);
}

TEST_F(AntiKeyLoggerEditTest, FocusBurstIsInjectedAndDroppedOnArrival) {
    SeedForFirstBurst([](int n) { return n >= 5; });
    const std::string burst = NextBurst();
    Focus();
    EXPECT_EQ(keyboard->InjectedText(), burst);
    EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(burst.size()));
    Deliver();
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(pressed->count(), 0);
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, TypingKeepsExactlyTheTypedTextAmidGarbage) {
    Seed(2024, 12);
    std::string expectedInjected = NextBurst();
    Focus();
    Deliver();
    const std::string typed = "hello World, 42!";
    for (char ch : typed) {
        QTest::keyClick(edit, ch);
        expectedInjected += NextBurst();
        EXPECT_EQ(keyboard->InjectedText(), expectedInjected);
        Deliver();
        ASSERT_EQ(edit->PendingGarbage(), 0);
    }
    EXPECT_EQ(edit->text().toStdString(), typed);
    EXPECT_EQ(PressedKeys().toStdString(), typed);
    // A logger saw the typed characters drowned in garbage.
    EXPECT_GT(keyboard->InjectedText().size(), 3 * typed.size());
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, DropsExactlyTheCountedNumberOfCharacters) {
    SeedForFirstBurst([](int n) { return n >= 3; });
    const std::string burst = NextBurst();
    Focus();
    // Whatever arrives first is taken for the garbage, even typed keys.
    QCoreApplication::removePostedEvents(edit);
    for (size_t i = 0; i < burst.size(); ++i) QTest::keyClick(edit, 'z');
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_EQ(edit->text(), "");
    QTest::keyClick(edit, 'y');
    EXPECT_EQ(edit->text(), "y");
    EXPECT_EQ(PressedKeys(), "y");
}

TEST_F(AntiKeyLoggerEditTest, GarbageCountOneNeverDrops) {
    Seed(7, 8);
    edit->setGarbageCount(1);
    Focus();
    for (char ch : std::string("abc de")) {
        QTest::keyClick(edit, ch);
        EXPECT_EQ(edit->PendingGarbage(), 0);
    }
    Deliver();
    EXPECT_EQ(edit->text(), "abc de");
    EXPECT_EQ(keyboard->InjectedText(), "");
    // One draw of Range(1) per burst: the focus and six characters.
    for (int i = 0; i < 7; ++i) EXPECT_EQ(reference.Range(1), 0);
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, BurstOfSizeZeroTreatsNextCharacterAsReal) {
    SeedForFirstBurst([](int n) { return n == 0; });
    EXPECT_EQ(NextBurst(), "");
    Focus();
    EXPECT_EQ(edit->PendingGarbage(), 0);
    const std::string burst = NextBurst();
    QTest::keyClick(edit, 'q');
    EXPECT_EQ(edit->text(), "q");
    EXPECT_EQ(PressedKeys(), "q");
    EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(burst.size()));
    EXPECT_EQ(keyboard->InjectedText(), burst);
}

TEST_F(AntiKeyLoggerEditTest, GarbageCountZeroDrawsNothing) {
    Seed(31, 41);
    edit->setGarbageCount(0);
    Focus();
    QTest::keyClick(edit, 'a');
    EXPECT_EQ(edit->text(), "a");
    EXPECT_EQ(keyboard->InjectedText(), "");
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, CtrlOrAltHeldCharactersPassAndStartNoBurst) {
    SeedForFirstBurst([](int n) { return n >= 2; });
    const std::string burst = NextBurst();
    Focus();
    QCoreApplication::removePostedEvents(edit);
    const int pending = edit->PendingGarbage();
    ASSERT_EQ(pending, static_cast<int>(burst.size()));

    keyboard->SetHeld(TModifierKey::Alt, true);
    QTest::keyClick(edit, 'x', Qt::AltModifier);
    keyboard->SetHeld(TModifierKey::Alt, false);
    EXPECT_EQ(edit->text(), "x");

    keyboard->SetHeld(TModifierKey::Ctrl, true);
    QTest::keyClick(edit, 'a', Qt::ControlModifier);  // select all: a shortcut, not text
    keyboard->SetHeld(TModifierKey::Ctrl, false);
    EXPECT_EQ(edit->selectedText(), "x");

    keyboard->SetHeld(TModifierKey::RightAlt, true);
    QTest::keyClick(edit, '@');
    keyboard->SetHeld(TModifierKey::RightAlt, false);
    EXPECT_EQ(edit->text(), "@");

    EXPECT_EQ(PressedKeys(), "xa@");
    EXPECT_EQ(edit->PendingGarbage(), pending);
    EXPECT_EQ(keyboard->InjectedText(), burst);
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, UnproducibleGarbageIsNotWaitedFor) {
    SeedForFirstBurst([](int n) { return n >= 6; });
    const std::string burst = NextBurst();
    // The layout cannot make the burst's first character (wherever it occurs).
    const char missing = burst.front();
    keyboard->SetUnproducible(std::string(1, missing));
    std::string produced;
    for (char ch : burst) {
        if (ch != missing) produced += ch;
    }
    Focus();
    EXPECT_EQ(keyboard->InjectedText(), produced);
    EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(produced.size()));
    Deliver();
    EXPECT_EQ(edit->PendingGarbage(), 0);
    // The draws for the skipped characters were still taken.
    EXPECT_TRUE(GeneratorsAgree());
    keyboard->SetUnproducible("");
    QTest::keyClick(edit, 'k');
    EXPECT_EQ(edit->text(), "k");
}

TEST_F(AntiKeyLoggerEditTest, HeldShiftAndCapsLockComeBackAfterBurst) {
    SeedForBurst(1, [](int n) { return n >= 10; });
    NextBurst();
    Focus();
    Deliver();
    const size_t injectedBefore = keyboard->InjectedText().size();
    const std::string burst = NextBurst();
    keyboard->SetHeld(TModifierKey::Shift, true);
    keyboard->SetCapsLock(true);
    QTest::keyClick(edit, 'Q', Qt::ShiftModifier);
    // Typed with Shift up and Caps Lock off, so it came out as drawn.
    EXPECT_EQ(keyboard->InjectedText().substr(injectedBefore), burst);
    EXPECT_TRUE(keyboard->HeldModifiers().Shift);
    EXPECT_TRUE(keyboard->IsCapsLockOn());
    Deliver();
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_EQ(edit->text(), "Q");
}

TEST_F(AntiKeyLoggerEditTest, ReturnReachesOwnerAndStartsBurst) {
    Seed(55, 66);
    NextBurst();
    Focus();
    Deliver();
    QString sent;
    QStringList textWhenPressed;
    QObject::connect(edit, &TAntiKeyLoggerEdit::keyPressed, edit, [&](QChar key) {
        textWhenPressed << edit->text();
        if (key == QChar(u'\r')) {
            sent = edit->text();
            edit->clear();
        }
    });
    QTest::keyClick(edit, 'o');
    NextBurst();
    Deliver();
    QTest::keyClick(edit, 'k');
    NextBurst();
    Deliver();
    const std::string burst = NextBurst();
    const size_t injectedBefore = keyboard->InjectedText().size();
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(sent, "ok");
    EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(burst.size()));
    EXPECT_EQ(keyboard->InjectedText().substr(injectedBefore), burst);
    Deliver();
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(PressedKeys(), "ok\r");
    // The owner hears of each character before the field takes it in.
    EXPECT_EQ(textWhenPressed, (QStringList{"", "o", "ok"}));
}

TEST_F(AntiKeyLoggerEditTest, EditingKeysPassWithoutCounting) {
    SeedForFirstBurst([](int n) { return n >= 2; });
    edit->setText("ab");
    const std::string burst = NextBurst();
    Focus();
    QCoreApplication::removePostedEvents(edit);
    const int pending = edit->PendingGarbage();
    ASSERT_EQ(pending, static_cast<int>(burst.size()));
    QTest::keyClick(edit, Qt::Key_Left);
    QTest::keyClick(edit, Qt::Key_Delete);
    EXPECT_EQ(edit->text(), "a");
    QTest::keyClick(edit, Qt::Key_Home);
    EXPECT_EQ(edit->cursorPosition(), 0);
    QTest::keyClick(edit, Qt::Key_End);
    EXPECT_EQ(edit->cursorPosition(), 1);
    QTest::keyClick(edit, Qt::Key_F2);
    EXPECT_EQ(edit->PendingGarbage(), pending);
    // Tab moves on, uncounted too.
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_TRUE(other->hasFocus());
    EXPECT_EQ(edit->PendingGarbage(), pending);
    EXPECT_EQ(pressed->count(), 0);
    EXPECT_EQ(keyboard->InjectedText(), burst);
}

TEST_F(AntiKeyLoggerEditTest, BackspaceAndEscAreDroppedWhileGarbageIsPending) {
    SeedForFirstBurst([](int n) { return n >= 3; });
    edit->setText("ab");
    const std::string burst = NextBurst();
    Focus();
    QCoreApplication::removePostedEvents(edit);
    const int pending = edit->PendingGarbage();
    ASSERT_EQ(pending, static_cast<int>(burst.size()));
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "ab");
    EXPECT_EQ(edit->PendingGarbage(), pending - 1);
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(edit->PendingGarbage(), pending - 2);
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "ab");
    EXPECT_EQ(edit->PendingGarbage(), pending - 3);
    EXPECT_EQ(pressed->count(), 0);
    EXPECT_EQ(keyboard->InjectedText(), burst);
}

TEST_F(AntiKeyLoggerEditTest, BackspaceWithNothingPendingDeletesAndStartsBurst) {
    SeedForBurst(1, [](int n) { return n >= 3; });
    edit->setText("ab");
    NextBurst();
    Focus();
    Deliver();
    ASSERT_EQ(edit->PendingGarbage(), 0);
    const size_t injectedBefore = keyboard->InjectedText().size();
    const std::string burst = NextBurst();
    QTest::keyClick(edit, Qt::Key_Backspace);
    EXPECT_EQ(edit->text(), "a");
    EXPECT_EQ(PressedKeys(), QString(QChar(u'\x08')));
    EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(burst.size()));
    EXPECT_EQ(keyboard->InjectedText().substr(injectedBefore), burst);
    Deliver();
    EXPECT_EQ(edit->text(), "a");
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, EscReachesTheOwnerAndLeavesTheDialogOpen) {
    QDialog dialog;
    auto* field = new TAntiKeyLoggerEdit(&dialog);
    field->setKeyboardBackend(keyboard, keyboard);
    QSignalSpy fieldPressed(field, &TAntiKeyLoggerEdit::keyPressed);
    QSignalSpy rejected(&dialog, &QDialog::rejected);
    SeedForFirstBurst([](int n) { return n >= 2; });
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    ASSERT_TRUE(field->hasFocus());
    ASSERT_EQ(field->PendingGarbage(), 0);

    const std::string burst = NextBurst();
    QTest::keyClick(field, Qt::Key_Escape);
    ASSERT_EQ(fieldPressed.count(), 1);
    EXPECT_EQ(fieldPressed.at(0).at(0).value<QChar>(), QChar(u'\x1B'));
    EXPECT_EQ(field->PendingGarbage(), static_cast<int>(burst.size()));
    EXPECT_EQ(keyboard->InjectedText(), burst);
    EXPECT_EQ(rejected.count(), 0);
    EXPECT_TRUE(dialog.isVisible());

    // Taken for garbage, and still not the dialog's.
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(fieldPressed.count(), 1);
    EXPECT_EQ(field->PendingGarbage(), static_cast<int>(burst.size()) - 1);
    EXPECT_EQ(rejected.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(field->text(), "");
}

TEST_F(AntiKeyLoggerEditTest, WindowReactivationStartsNoBurst) {
    SeedForFirstBurst([](int n) { return n >= 5; });
    // The field becomes the window's focus while it is in the background, and
    // gets it when the window comes back.
    SwitchAwayAndBack([&] { edit->setFocus(); });
    ASSERT_TRUE(edit->hasFocus());
    EXPECT_EQ(keyboard->InjectedText(), "");
    EXPECT_EQ(edit->PendingGarbage(), 0);

    const std::string burst = NextBurst();
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Tab);
    ASSERT_TRUE(edit->hasFocus());
    EXPECT_EQ(keyboard->InjectedText(), burst);
    Deliver();
    EXPECT_EQ(edit->PendingGarbage(), 0);

    SwitchAwayAndBack();
    ASSERT_TRUE(edit->hasFocus());
    Deliver();
    EXPECT_EQ(keyboard->InjectedText(), burst);
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_EQ(edit->text(), "");
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, CtrlHeldThroughWindowSwitchPutsNoGarbageInTheField) {
    SeedForFirstBurst([](int n) { return n >= 5; });
    keyboard->SetHeld(TModifierKey::Ctrl, true);
    SwitchAwayAndBack([&] { edit->setFocus(); });
    ASSERT_TRUE(edit->hasFocus());
    Deliver();
    keyboard->SetHeld(TModifierKey::Ctrl, false);
    EXPECT_EQ(keyboard->InjectedText(), "");
    EXPECT_EQ(edit->text(), "");
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, OnlyEnteringTheFieldStartsABurst) {
    Seed(404, 17);
    for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
        QFocusEvent event(QEvent::FocusIn, reason);
        QCoreApplication::sendEvent(edit, &event);
    }
    EXPECT_EQ(keyboard->InjectedText(), "");
    EXPECT_EQ(edit->PendingGarbage(), 0);

    std::string expected;
    for (Qt::FocusReason reason : {Qt::MouseFocusReason, Qt::TabFocusReason, Qt::BacktabFocusReason,
                                   Qt::ShortcutFocusReason, Qt::OtherFocusReason}) {
        SCOPED_TRACE(static_cast<int>(reason));
        const std::string burst = NextBurst();
        expected += burst;
        QFocusEvent event(QEvent::FocusIn, reason);
        QCoreApplication::sendEvent(edit, &event);
        EXPECT_EQ(keyboard->InjectedText(), expected);
        EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(burst.size()));
        // The field never really had the focus; its garbage would land elsewhere.
        QCoreApplication::removePostedEvents(nullptr);
    }
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, NoFocusBurstWhileAModifierIsHeld) {
    SeedForFirstBurst([](int n) { return n >= 5; });
    for (TModifierKey key : {TModifierKey::Ctrl, TModifierKey::Alt, TModifierKey::RightAlt, TModifierKey::Shift}) {
        SCOPED_TRACE(static_cast<int>(key));
        keyboard->SetHeld(key, true);
        QTest::mouseClick(edit, Qt::LeftButton);
        ASSERT_TRUE(edit->hasFocus());
        keyboard->SetHeld(key, false);
        EXPECT_EQ(keyboard->InjectedText(), "");
        EXPECT_EQ(edit->PendingGarbage(), 0);
        other->setFocus();
    }
    const std::string burst = NextBurst();
    QTest::mouseClick(edit, Qt::LeftButton);
    ASSERT_TRUE(edit->hasFocus());
    EXPECT_EQ(keyboard->InjectedText(), burst);
    EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(burst.size()));
}

TEST_F(AntiKeyLoggerEditTest, SwitchedOffTypesPlainlyAndKeepsTheCount) {
    SeedForFirstBurst([](int n) { return n >= 3; });
    const std::string burst = NextBurst();
    Focus();
    edit->setAntiKeyloggingActive(false);
    QTest::keyClick(edit, 'p');
    EXPECT_EQ(edit->text(), "p");
    EXPECT_EQ(edit->PendingGarbage(), static_cast<int>(burst.size()));
    EXPECT_EQ(keyboard->InjectedText(), burst);
    edit->setAntiKeyloggingActive(true);
    Deliver();
    EXPECT_EQ(edit->text(), "p");
    EXPECT_EQ(edit->PendingGarbage(), 0);
    EXPECT_TRUE(GeneratorsAgree());
}

TEST_F(AntiKeyLoggerEditTest, WithoutInjectionDrawsStillRunButNothingIsDropped) {
    std::shared_ptr<TKeyboardBackend> none = MakeNullKeyboardBackend();
    edit->setKeyboardBackend(none, none);
    // Without injection the modifiers come from Qt, which here remembers those
    // of the last key it saw: earlier garbage may have ended on a shifted one.
    QTest::keyClick(other, Qt::Key_End);
    SeedForFirstBurst([](int n) { return n >= 4; });
    NextBurst();
    Focus();
    EXPECT_EQ(edit->PendingGarbage(), 0);
    for (char ch : std::string("secret")) {
        QTest::keyClick(edit, ch);
        NextBurst();
    }
    EXPECT_EQ(edit->text(), "secret");
    EXPECT_EQ(PressedKeys(), "secret");
    EXPECT_EQ(keyboard->InjectedText(), "");
    EXPECT_TRUE(GeneratorsAgree());
}

TEST(KeyboardBackendFactory, OffscreenGetsNoInjection) {
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    EXPECT_EQ(MakeX11KeyboardBackend(), nullptr);
    EXPECT_STREQ(MakeKeyboardBackend()->Name(), "none");
    EXPECT_FALSE(DefaultKeyboardBackend()->CanInject());
    auto loopback = std::make_shared<TLoopbackKeyboard>();
    SetDefaultKeyboardBackend(loopback);
    EXPECT_EQ(DefaultKeyboardBackend(), loopback);
    SetDefaultKeyboardBackend(nullptr);
    EXPECT_STREQ(DefaultKeyboardBackend()->Name(), "none");
}

}  // namespace
