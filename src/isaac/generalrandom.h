#pragma once
// The program's general-purpose generator, for uses where predictability does not
// matter (overwriting texts and digits before they are released). A 32-bit linear
// congruential generator whose seed starts at 0 and is never set, so every run
// draws the same sequence.

#include <cstdint>

// A value in [0, n): the high 32 bits of n times the next seed.
uint32_t GeneralRandom(uint32_t n);

// Restarts the sequence from seed 0; for tests only.
void ResetGeneralRandom();
