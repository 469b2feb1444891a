#pragma once
// A keyboard that lives inside the program: injected keystrokes come back as
// key events posted to the focused widget, the way a real system queues them,
// with a US layout, Shift and Caps Lock applied. Tests hold keys down on it
// and make characters unproducible to drive the field for real.

#include <string>

#include "antikeylogger/keyboardbackend.h"

class TLoopbackKeyboard final : public TKeyboardBackend {
public:
    const char* Name() const override { return "loopback"; }

    // The user holds (or lets go of) a key. Caps Lock here means pressing it.
    void SetHeld(TModifierKey key, bool down);
    void SetCapsLock(bool on) { capsLock = on; }
    // Characters the layout cannot produce.
    void SetUnproducible(std::string characters) { unproducible = std::move(characters); }
    // Every character the injected keystrokes produced, in order.
    const std::string& InjectedText() const { return injectedText; }

    bool IsCtrlOrAltHeld() override;
    THeldModifiers HeldModifiers() override;
    bool IsCapsLockOn() override { return capsLock; }

    bool CanInject() const override { return true; }
    std::optional<TKeyStroke> MapCharacter(char ch) override;
    void SendModifier(TModifierKey key, bool press) override;
    void SendKey(uint32_t keyCode, bool press) override;
    void Flush() override {}

private:
    bool& Down(TModifierKey key);
    char CharacterOf(uint32_t keyCode) const;

    bool ctrl = false;
    bool alt = false;
    bool rightAlt = false;
    bool shift = false;
    bool capsKey = false;
    bool capsLock = false;
    std::string unproducible;
    std::string injectedText;
};
