#include "antikeylogger/keyboardbackend.h"

#include <QGuiApplication>

namespace {

// Where keystrokes cannot be injected the field is a plain field; modifiers
// still come from Qt so the Ctrl/Alt rule reads the same everywhere.
class TNullKeyboardBackend final : public TKeyboardBackend {
public:
    const char* Name() const override { return "none"; }

    bool IsCtrlOrAltHeld() override {
        const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
        return mods.testAnyFlags(Qt::ControlModifier | Qt::AltModifier);
    }
    THeldModifiers HeldModifiers() override {
        const Qt::KeyboardModifiers mods = QGuiApplication::queryKeyboardModifiers();
        THeldModifiers held;
        held.Ctrl = mods.testFlag(Qt::ControlModifier);
        held.Alt = mods.testFlag(Qt::AltModifier);
        held.Shift = mods.testFlag(Qt::ShiftModifier);
        return held;
    }
    bool IsCapsLockOn() override { return false; }

    bool CanInject() const override { return false; }
    std::optional<TKeyStroke> MapCharacter(char) override { return std::nullopt; }
    void SendModifier(TModifierKey, bool) override {}
    void SendKey(uint32_t, bool) override {}
    void Flush() override {}
};

std::shared_ptr<TKeyboardBackend>& DefaultSlot() {
    static std::shared_ptr<TKeyboardBackend> backend;
    return backend;
}

}  // namespace

std::shared_ptr<TKeyboardBackend> MakeNullKeyboardBackend() { return std::make_shared<TNullKeyboardBackend>(); }

std::shared_ptr<TKeyboardBackend> MakeKeyboardBackend() {
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (std::shared_ptr<TKeyboardBackend> x11 = MakeX11KeyboardBackend()) return x11;
    }
    return MakeNullKeyboardBackend();
}

std::shared_ptr<TKeyboardBackend> DefaultKeyboardBackend() {
    std::shared_ptr<TKeyboardBackend>& backend = DefaultSlot();
    if (!backend) backend = MakeKeyboardBackend();
    return backend;
}

void SetDefaultKeyboardBackend(std::shared_ptr<TKeyboardBackend> backend) { DefaultSlot() = std::move(backend); }
