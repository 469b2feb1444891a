#include "platform/systemdesktop.h"

std::unique_ptr<IDesktop> MakeSystemDesktop() { return std::make_unique<TNullDesktop>(); }
