#pragma once
// The time of day as the system's locale writes it.

#include "session/environment.h"

class TSystemClock final : public IClock {
public:
    std::string LongTimeText() override;
};
