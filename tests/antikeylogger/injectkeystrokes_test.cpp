// The exact keystroke sequence of an injection, seen through a recording
// injector with a scripted keyboard state.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "antikeylogger/antikeyloggercommon.h"

namespace {

const char* NameOf(TModifierKey key) {
    switch (key) {
        case TModifierKey::Ctrl: return "Ctrl";
        case TModifierKey::Alt: return "Alt";
        case TModifierKey::RightAlt: return "RightAlt";
        case TModifierKey::Shift: return "Shift";
        case TModifierKey::CapsLock: return "CapsLock";
    }
    return "?";
}

class TRecordingKeyboard final : public TKeyboardBackend {
public:
    const char* Name() const override { return "recording"; }

    bool IsCtrlOrAltHeld() override { return held.Ctrl || held.Alt || held.RightAlt; }
    THeldModifiers HeldModifiers() override { return held; }
    bool IsCapsLockOn() override { return capsLock; }

    bool CanInject() const override { return canInject; }
    std::optional<TKeyStroke> MapCharacter(char ch) override {
        if (unproducible.find(ch) != std::string::npos) return std::nullopt;
        const bool upper = ch >= 'A' && ch <= 'Z';
        return TKeyStroke{static_cast<uint32_t>(upper ? ch - 'A' + 'a' : ch), upper || ch == '!'};
    }
    void SendModifier(TModifierKey key, bool press) override {
        events.push_back(std::string(press ? "down " : "up ") + NameOf(key));
    }
    void SendKey(uint32_t keyCode, bool press) override {
        events.push_back(std::string(press ? "down '" : "up '") + static_cast<char>(keyCode) + "'");
    }
    void Flush() override { events.push_back("flush"); }

    THeldModifiers held;
    bool capsLock = false;
    bool canInject = true;
    std::string unproducible;
    std::vector<std::string> events;
};

using Events = std::vector<std::string>;

TEST(InjectKeystrokes, PlainCharactersAndShiftedOnesWithNothingHeld) {
    TRecordingKeyboard keyboard;
    EXPECT_EQ(InjectKeystrokes("aB !", keyboard, keyboard), 4);
    EXPECT_EQ(keyboard.events, (Events{"down 'a'", "up 'a'", "down Shift", "down 'b'", "up 'b'", "up Shift", "down ' '",
                                       "up ' '", "down Shift", "down '!'", "up '!'", "up Shift", "flush"}));
}

TEST(InjectKeystrokes, ReleasesHeldModifiersAndCapsLockThenRestoresThem) {
    TRecordingKeyboard keyboard;
    keyboard.held.Ctrl = true;
    keyboard.held.Alt = true;
    keyboard.held.Shift = true;
    keyboard.capsLock = true;
    EXPECT_EQ(InjectKeystrokes("x", keyboard, keyboard), 1);
    EXPECT_EQ(keyboard.events,
              (Events{"up Ctrl", "up Alt", "up Shift", "down CapsLock", "up CapsLock", "down 'x'", "up 'x'",
                      "down CapsLock", "up CapsLock", "down Ctrl", "down Alt", "down Shift", "flush"}));
}

TEST(InjectKeystrokes, HeldRightAltHidesCtrlAndAltAndIsNotPressedAgain) {
    TRecordingKeyboard keyboard;
    // AltGr may show up together with a Ctrl; only the right Alt counts then.
    keyboard.held.RightAlt = true;
    keyboard.held.Ctrl = true;
    keyboard.held.Alt = true;
    keyboard.held.Shift = true;
    EXPECT_EQ(InjectKeystrokes("q", keyboard, keyboard), 1);
    EXPECT_EQ(keyboard.events,
              (Events{"up RightAlt", "up Shift", "down 'q'", "up 'q'", "up Alt", "up Ctrl", "down Shift", "flush"}));
}

TEST(InjectKeystrokes, UnproducibleCharactersAreSkippedAndNotCounted) {
    TRecordingKeyboard keyboard;
    keyboard.unproducible = "|~";
    EXPECT_EQ(InjectKeystrokes("a|b~", keyboard, keyboard), 2);
    EXPECT_EQ(keyboard.events, (Events{"down 'a'", "up 'a'", "down 'b'", "up 'b'", "flush"}));
}

TEST(InjectKeystrokes, NothingAtAllWithoutInjection) {
    TRecordingKeyboard keyboard;
    keyboard.canInject = false;
    keyboard.held.Shift = true;
    keyboard.capsLock = true;
    EXPECT_EQ(InjectKeystrokes("abc", keyboard, keyboard), 0);
    EXPECT_TRUE(keyboard.events.empty());
}

}  // namespace
