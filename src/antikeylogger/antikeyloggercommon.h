#pragma once
// The shared part of the anti-keylogging fields: their generator, the garbage
// text and the injection of a text as keystrokes.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "antikeylogger/keyboardbackend.h"
#include "isaac/isaac.h"

// One generator for all fields, seeded from the system's entropy source at
// start-up. Tests reseed it with GarbageRandom.Seed(...) for known draws.
extern TIsaac GarbageRandom;

inline constexpr std::array<std::string_view, 12> GarbageVowels = {"a", "a", "a", "e", "e", "e",
                                                                   "e", "i", "i", "o", "o", "u"};

// n characters of plausible-looking typing (codes 32 to 124, no grave accent,
// extra vowels and spaces); empty for n <= 0.
std::string MakeGarbageText(int16_t n, TIsaac& generator = GarbageRandom);

// Types text through the injector with Caps Lock off and no modifier held,
// then puts Caps Lock and the modifiers back. Characters the layout cannot
// produce are skipped. Returns how many characters were actually injected,
// which is what will come back to be dropped.
int InjectKeystrokes(std::string_view text, IKeyboardState& state, IKeystrokeInjector& injector);
