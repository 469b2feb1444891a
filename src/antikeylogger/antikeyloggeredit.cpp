#include "antikeylogger/antikeyloggeredit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <algorithm>
#include <optional>
#include <string>

#include "antikeylogger/antikeyloggercommon.h"

namespace {

// Largest burst size bound whose draws still fit the 16-bit garbage length.
constexpr int kMaxGarbageCount = 32768;

// The character a key press hands to the drop/burst step, if it is one:
// printable text, Return (the owner needs it to send the line), and Backspace
// and Esc, which arrive as characters on the platform we imitate and so must
// be counted like any other. Tab, Delete, arrows and the like stay editing keys.
std::optional<QChar> CharacterOf(const QKeyEvent& event) {
    switch (event.key()) {
        case Qt::Key_Return:
        case Qt::Key_Enter: return QChar(u'\r');
        case Qt::Key_Backspace: return QChar(u'\x08');
        case Qt::Key_Escape: return QChar(u'\x1B');
        default: break;
    }
    const QString text = event.text();
    if (text.isEmpty()) return std::nullopt;
    const QChar first = text.at(0);
    if (first.unicode() < 0x20 || first.unicode() == 0x7F) return std::nullopt;
    return first;
}

// Only entering the field itself is worth hiding; a window coming back to
// the front or a popup closing hands the focus back without anyone typing.
bool IsFieldEntered(Qt::FocusReason reason) {
    switch (reason) {
        case Qt::MouseFocusReason:
        case Qt::TabFocusReason:
        case Qt::BacktabFocusReason:
        case Qt::ShortcutFocusReason:
        case Qt::OtherFocusReason: return true;
        default: return false;
    }
}

bool IsAnyModifierHeld(IKeyboardState& state) {
    const THeldModifiers held = state.HeldModifiers();
    return held.Ctrl || held.Alt || held.RightAlt || held.Shift;
}

}  // namespace

TAntiKeyLoggerEdit::TAntiKeyLoggerEdit(QWidget* parent) : QLineEdit(parent) {
    std::shared_ptr<TKeyboardBackend> backend = DefaultKeyboardBackend();
    keyboardState = backend;
    injector = backend;
}

void TAntiKeyLoggerEdit::setGarbageCount(int count) { garbageCount = std::clamp(count, 0, kMaxGarbageCount); }

void TAntiKeyLoggerEdit::setKeyboardBackend(std::shared_ptr<IKeyboardState> state,
                                            std::shared_ptr<IKeystrokeInjector> newInjector) {
    if (state) keyboardState = std::move(state);
    if (newInjector) injector = std::move(newInjector);
}

void TAntiKeyLoggerEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    // With a modifier down the burst would come back as a shortcut or, with
    // Ctrl, get through the key step into the text.
    if (antiKeyloggingActive && IsFieldEntered(event->reason()) && !IsAnyModifierHeld(*keyboardState)) {
        StartBurst();
    }
}

void TAntiKeyLoggerEdit::keyPressEvent(QKeyEvent* event) {
    const std::optional<QChar> key = CharacterOf(*event);
    if (!key) {
        QLineEdit::keyPressEvent(event);
        return;
    }

    // Shortcuts and AltGr characters are the user's own and start no burst.
    if (!antiKeyloggingActive || keyboardState->IsCtrlOrAltHeld()) {
        ProcessCharacter(*key, event);
        return;
    }
    if (pendingGarbage != 0) {
        --pendingGarbage;
        event->accept();
        return;
    }
    ProcessCharacter(*key, event);
    StartBurst();
}

void TAntiKeyLoggerEdit::ProcessCharacter(QChar key, QKeyEvent* event) {
    emit keyPressed(key);
    QLineEdit::keyPressEvent(event);
    // The base field ignores Esc, which would let it on to close a dialog;
    // here it is a character the field has taken.
    if (key == QChar(u'\x1B')) event->accept();
}

void TAntiKeyLoggerEdit::StartBurst() {
    // Range(0) would divide by zero: no bound, no burst.
    const int32_t n = garbageCount > 0 ? GarbageRandom.Range(garbageCount) : 0;
    const std::string garbage = MakeGarbageText(static_cast<int16_t>(n));
    // Counted before injecting, in case a backend hands keystrokes back at
    // once; then what never went out (skipped, or no injection at all) is
    // taken off again, since waiting for it would swallow real typing.
    pendingGarbage = n;
    const int injected = InjectKeystrokes(garbage, *keyboardState, *injector);
    pendingGarbage = std::max<int32_t>(0, pendingGarbage - (n - injected));
}
