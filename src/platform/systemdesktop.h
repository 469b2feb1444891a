#pragma once
// The desktop of the system the program runs on, or the null desktop where
// this build has no backend for it.

#include <memory>

#include "platform/desktop.h"

std::unique_ptr<IDesktop> MakeSystemDesktop();
