#pragma once
// The platform edge of the anti-keylogging field: reading the keyboard's
// state and putting keystrokes into the system's input queue. One backend per
// platform (X11/XTest, none) plus a loop-back one that tests drive.

#include <cstdint>
#include <memory>
#include <optional>

// Keys the injection releases and restores around a burst.
enum class TModifierKey { Ctrl, Alt, RightAlt, Shift, CapsLock };

struct THeldModifiers {
    bool Ctrl = false;
    bool Alt = false;
    bool RightAlt = false;  // Alt_R or ISO_Level3_Shift on X11
    bool Shift = false;
};

// How the current layout produces a character: which key, and whether Shift
// has to be down for it.
struct TKeyStroke {
    uint32_t KeyCode = 0;
    bool NeedsShift = false;
};

class IKeyboardState {
public:
    virtual ~IKeyboardState() = default;
    // Is a Ctrl or an Alt key (either side) down right now?
    virtual bool IsCtrlOrAltHeld() = 0;
    virtual THeldModifiers HeldModifiers() = 0;
    // Is Caps Lock toggled on?
    virtual bool IsCapsLockOn() = 0;
};

class IKeystrokeInjector {
public:
    virtual ~IKeystrokeInjector() = default;
    // False where the platform gives no way to inject: nothing injected will
    // ever come back, so nothing may be counted for dropping.
    virtual bool CanInject() const = 0;
    // Empty when the current layout cannot produce the character.
    virtual std::optional<TKeyStroke> MapCharacter(char ch) = 0;
    virtual void SendModifier(TModifierKey key, bool press) = 0;
    virtual void SendKey(uint32_t keyCode, bool press) = 0;
    // Hands everything sent so far to the system.
    virtual void Flush() = 0;
};

class TKeyboardBackend : public IKeyboardState, public IKeystrokeInjector {
public:
    virtual const char* Name() const = 0;
};

// A plain-field backend: injects nothing, reads modifiers from Qt.
std::shared_ptr<TKeyboardBackend> MakeNullKeyboardBackend();

// XTest on the X display the application runs on; empty when the program does
// not run on X11 or the server lacks XTest (or the build lacks libXtst).
std::shared_ptr<TKeyboardBackend> MakeX11KeyboardBackend();

// Picks the backend for the platform Qt runs on: X11 under "xcb", none elsewhere.
std::shared_ptr<TKeyboardBackend> MakeKeyboardBackend();

// The process-wide backend that new fields use; made by MakeKeyboardBackend on
// first use. Tests may put their own in place before creating fields.
std::shared_ptr<TKeyboardBackend> DefaultKeyboardBackend();
void SetDefaultKeyboardBackend(std::shared_ptr<TKeyboardBackend> backend);
