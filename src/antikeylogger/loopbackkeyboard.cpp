#include "antikeylogger/loopbackkeyboard.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <memory>

namespace {

// The keys of a US layout that carry a symbol, unshifted and shifted.
constexpr std::string_view kUnshifted = "`1234567890-=[]\\;',./";
constexpr std::string_view kShifted = "~!@#$%^&*()_+{}|:\"<>?";

void PostKey(bool press, int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) {
    QWidget* target = QApplication::focusWidget();
    if (target == nullptr) return;  // nobody has the keyboard: the key is lost
    auto event = std::make_unique<QKeyEvent>(press ? QEvent::KeyPress : QEvent::KeyRelease, qtKey, modifiers, text);
    QCoreApplication::postEvent(target, event.release());
}

int QtKeyOf(TModifierKey key) {
    switch (key) {
        case TModifierKey::Ctrl: return Qt::Key_Control;
        case TModifierKey::Alt: return Qt::Key_Alt;
        case TModifierKey::RightAlt: return Qt::Key_AltGr;
        case TModifierKey::Shift: return Qt::Key_Shift;
        case TModifierKey::CapsLock: return Qt::Key_CapsLock;
    }
    return Qt::Key_unknown;
}

}  // namespace

bool& TLoopbackKeyboard::Down(TModifierKey key) {
    switch (key) {
        case TModifierKey::Ctrl: return ctrl;
        case TModifierKey::Alt: return alt;
        case TModifierKey::RightAlt: return rightAlt;
        case TModifierKey::Shift: return shift;
        case TModifierKey::CapsLock: return capsKey;
    }
    return shift;
}

void TLoopbackKeyboard::SetHeld(TModifierKey key, bool down) {
    bool& state = Down(key);
    if (key == TModifierKey::CapsLock && down && !state) capsLock = !capsLock;
    state = down;
}

bool TLoopbackKeyboard::IsCtrlOrAltHeld() { return ctrl || alt || rightAlt; }

THeldModifiers TLoopbackKeyboard::HeldModifiers() {
    THeldModifiers held;
    held.Ctrl = ctrl;
    held.Alt = alt;
    held.RightAlt = rightAlt;
    held.Shift = shift;
    return held;
}

std::optional<TKeyStroke> TLoopbackKeyboard::MapCharacter(char ch) {
    if (unproducible.find(ch) != std::string::npos) return std::nullopt;
    if (ch >= 'a' && ch <= 'z') return TKeyStroke{static_cast<uint32_t>(ch), false};
    if (ch >= 'A' && ch <= 'Z') return TKeyStroke{static_cast<uint32_t>(ch - 'A' + 'a'), true};
    if (ch == ' ') return TKeyStroke{static_cast<uint32_t>(ch), false};
    if (kUnshifted.find(ch) != std::string_view::npos) return TKeyStroke{static_cast<uint32_t>(ch), false};
    const size_t shifted = kShifted.find(ch);
    if (shifted != std::string_view::npos) return TKeyStroke{static_cast<uint32_t>(kUnshifted[shifted]), true};
    return std::nullopt;
}

char TLoopbackKeyboard::CharacterOf(uint32_t keyCode) const {
    const char base = static_cast<char>(keyCode);
    if (base >= 'a' && base <= 'z') {
        const bool upper = shift != capsLock;
        return upper ? static_cast<char>(base - 'a' + 'A') : base;
    }
    if (!shift) return base;
    const size_t unshifted = kUnshifted.find(base);
    return unshifted == std::string_view::npos ? base : kShifted[unshifted];
}

void TLoopbackKeyboard::SendModifier(TModifierKey key, bool press) {
    SetHeld(key, press);
    Qt::KeyboardModifiers modifiers;
    if (shift) modifiers |= Qt::ShiftModifier;
    if (ctrl) modifiers |= Qt::ControlModifier;
    if (alt) modifiers |= Qt::AltModifier;
    if (rightAlt) modifiers |= Qt::GroupSwitchModifier;
    PostKey(press, QtKeyOf(key), modifiers, QString());
}

void TLoopbackKeyboard::SendKey(uint32_t keyCode, bool press) {
    const char ch = CharacterOf(keyCode);
    Qt::KeyboardModifiers modifiers;
    if (shift) modifiers |= Qt::ShiftModifier;
    if (ctrl) modifiers |= Qt::ControlModifier;
    if (alt) modifiers |= Qt::AltModifier;
    if (press) injectedText += ch;
    // Qt names printable keys by their upper-case character.
    const int qtKey = (ch >= 'a' && ch <= 'z') ? ch - 'a' + 'A' : ch;
    PostKey(press, qtKey, modifiers, QString(QChar::fromLatin1(ch)));
}
