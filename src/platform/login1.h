#pragma once
// Ending the system through the login manager (org.freedesktop.login1) on
// the system bus.

#include <cstdint>

// Power-off and shutdown flags ask for PowerOff, reboot for Reboot, without
// any interaction; the login manager closes the programs, so the force flag
// asks nothing more. Logging off alone is not offered and returns false.
// True when the login manager answered without an error.
bool RequestLogin1Exit(uint32_t flags);
