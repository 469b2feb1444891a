#pragma once
// Where accepted files land: the folder given with --accept-files, under the
// name the peer offered. A file already there stays: the new one takes the
// first free numbered name; with --overwrite it takes the old one's place,
// but only once it has arrived whole.

#include <string>

#include "session/environment.h"

// The target for a file offered as name (already a safe name).
TSaveTarget SaveTargetIn(const std::string& folder, const std::string& name, bool overwrite);
