#include "antikeylogger/antikeyloggeredit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <algorithm>
#include <string>

#include "antikeylogger/antikeyloggercommon.h"

namespace {

// Largest burst size bound whose draws still fit the 16-bit garbage length.
constexpr int kMaxGarbageCount = 32768;

bool IsReturnKey(const QKeyEvent& event) {
    return event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter;
}

// A character is what would have gone into the text: printable text, or
// Return, which the owner needs as a character to send the line. Control
// texts (Backspace, Tab, Escape, Delete) are editing keys, not characters.
bool IsCharacter(const QKeyEvent& event) {
    if (IsReturnKey(event)) return true;
    const QString text = event.text();
    if (text.isEmpty()) return false;
    const char16_t code = text.at(0).unicode();
    return code >= 0x20 && code != 0x7F;
}

}  // namespace

TAntiKeyLoggerEdit::TAntiKeyLoggerEdit(QWidget* parent) : QLineEdit(parent) {
    std::shared_ptr<TKeyboardBackend> backend = DefaultKeyboardBackend();
    keyboardState = backend;
    injector = backend;
}

void TAntiKeyLoggerEdit::setGarbageCount(int count) {
    garbageCount = std::clamp(count, 0, kMaxGarbageCount);
}

void TAntiKeyLoggerEdit::setKeyboardBackend(std::shared_ptr<IKeyboardState> state,
                                            std::shared_ptr<IKeystrokeInjector> newInjector) {
    if (state) keyboardState = std::move(state);
    if (newInjector) injector = std::move(newInjector);
}

void TAntiKeyLoggerEdit::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event);
    if (antiKeyloggingActive) StartBurst();
}

void TAntiKeyLoggerEdit::keyPressEvent(QKeyEvent* event) {
    if (!IsCharacter(*event)) {
        QLineEdit::keyPressEvent(event);
        return;
    }
    const QChar key = IsReturnKey(*event) ? QChar(u'\r') : event->text().at(0);

    // Shortcuts and AltGr characters are the user's own and start no burst.
    if (!antiKeyloggingActive || keyboardState->IsCtrlOrAltHeld()) {
        emit keyPressed(key);
        QLineEdit::keyPressEvent(event);
        return;
    }
    if (pendingGarbage != 0) {
        --pendingGarbage;
        event->accept();
        return;
    }
    emit keyPressed(key);
    QLineEdit::keyPressEvent(event);
    StartBurst();
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
