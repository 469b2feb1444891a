#include "antikeylogger/antikeyloggercommon.h"

namespace {

TIsaac MakeSeededGenerator() {
    TIsaac generator;
    SeedFromSystemEntropy(generator);
    return generator;
}

}  // namespace

TIsaac GarbageRandom = MakeSeededGenerator();

std::string MakeGarbageText(int16_t n, TIsaac& generator) {
    std::string text;
    if (n <= 0) return text;
    text.reserve(static_cast<size_t>(n));
    for (int16_t item = 0; item < n; ++item) {
        if (generator.Range(10) == 4) {
            text += GarbageVowels[static_cast<size_t>(generator.Range(12))];
        } else if (generator.Range(7) == 3) {
            text += ' ';
        } else {
            int code = generator.Range(93) + 32;
            // The grave accent is a dead key on many layouts.
            if (code == 96) code = 101;
            text += static_cast<char>(code);
        }
    }
    return text;
}

int InjectKeystrokes(std::string_view text, IKeyboardState& state, IKeystrokeInjector& injector) {
    if (!injector.CanInject()) return 0;

    // Garbage must come out as typed, so whatever the user holds is let go
    // first and put back afterwards. A held right Alt (AltGr) stands alone.
    const THeldModifiers reported = state.HeldModifiers();
    THeldModifiers held;
    held.RightAlt = reported.RightAlt;
    if (!held.RightAlt) {
        held.Ctrl = reported.Ctrl;
        held.Alt = reported.Alt;
    }
    held.Shift = reported.Shift;

    if (held.Ctrl) injector.SendModifier(TModifierKey::Ctrl, false);
    if (held.Alt) injector.SendModifier(TModifierKey::Alt, false);
    if (held.RightAlt) injector.SendModifier(TModifierKey::RightAlt, false);
    if (held.Shift) injector.SendModifier(TModifierKey::Shift, false);

    const bool capsLock = state.IsCapsLockOn();
    if (capsLock) {
        injector.SendModifier(TModifierKey::CapsLock, true);
        injector.SendModifier(TModifierKey::CapsLock, false);
    }

    int injected = 0;
    for (char ch : text) {
        const std::optional<TKeyStroke> stroke = injector.MapCharacter(ch);
        if (!stroke) continue;
        if (stroke->NeedsShift) injector.SendModifier(TModifierKey::Shift, true);
        injector.SendKey(stroke->KeyCode, true);
        injector.SendKey(stroke->KeyCode, false);
        if (stroke->NeedsShift) injector.SendModifier(TModifierKey::Shift, false);
        ++injected;
    }

    if (capsLock) {
        injector.SendModifier(TModifierKey::CapsLock, true);
        injector.SendModifier(TModifierKey::CapsLock, false);
    }

    if (held.RightAlt) {
        // AltGr comes with a phantom Ctrl on some systems; leave both up
        // rather than re-press a key the user may have let go meanwhile.
        injector.SendModifier(TModifierKey::Alt, false);
        injector.SendModifier(TModifierKey::Ctrl, false);
    } else {
        if (held.Ctrl) injector.SendModifier(TModifierKey::Ctrl, true);
        if (held.Alt) injector.SendModifier(TModifierKey::Alt, true);
    }
    if (held.Shift) injector.SendModifier(TModifierKey::Shift, true);

    injector.Flush();
    return injected;
}
