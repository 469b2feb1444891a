#include "session/guarded.h"

#include <exception>

namespace {

constexpr const char* kUnknownErrorText = "Unknown error";

}  // namespace

void Guarded(const std::function<void()>& action, const TErrorDisplay& showError) {
    try {
        action();
    } catch (const std::exception& error) {
        const std::string text = error.what();
        showError(text.empty() ? kUnknownErrorText : text);
    } catch (...) {
        showError(kUnknownErrorText);
    }
}
