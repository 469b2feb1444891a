#pragma once
// The one place where an error of a command or an event stops: its text goes
// to the caller's error display, and nothing reaches the event loop.

#include <functional>
#include <string>

using TErrorDisplay = std::function<void(const std::string& text)>;

void Guarded(const std::function<void()>& action, const TErrorDisplay& showError);
