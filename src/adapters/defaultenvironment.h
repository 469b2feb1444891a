#pragma once
// A session's real environment: QtNetwork sockets, the settings file at
// configPath, the trace file in the working folder, the system clock, a
// QTimer, a worker thread and real RSA key generation.

#include <string>

#include "session/environment.h"

TSessionEnvironment MakeDefaultEnvironment(const std::string& configPath);
