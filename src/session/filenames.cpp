#include "session/filenames.h"

#include <algorithm>
#include <string_view>

#include "session/displaytext.h"

namespace {

constexpr const char* kUnnamed = "unnamed";
constexpr char kReplacement = '_';
// A longer "extension" is only a dot late in a long name, and is cut like the rest.
constexpr std::size_t kMaxKeptExtensionBytes = 32;

std::string LastComponent(const std::string& path) {
    const std::size_t separator = path.find_last_of("/\\");
    return separator == std::string::npos ? path : path.substr(separator + 1);
}

std::string WithoutControls(std::string_view name) {
    std::string safe;
    safe.reserve(name.size());
    for (std::size_t at = 0; at < name.size();) {
        const std::string_view rest = name.substr(at);
        const std::size_t length = LeadingCharacterBytes(rest);
        if (StartsWithControl(rest))
            safe += kReplacement;
        else
            safe.append(rest.substr(0, length));
        at += length;
    }
    return safe;
}

bool OnlyDotsAndBlanks(const std::string& name) { return name.find_first_not_of(". ") == std::string::npos; }

// The longest start of text, whole characters only, of at most maxBytes.
std::string_view CutToFit(std::string_view text, std::size_t maxBytes) {
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = LeadingCharacterBytes(text.substr(at));
        if (at + length > maxBytes) break;
        at += length;
    }
    return text.substr(0, at);
}

// Where the extension begins: the last dot, unless it is the first character.
std::size_t ExtensionStart(const std::string& name) {
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name.size() : dot;
}

// The name with its stem cut so that stem + insert + extension fits.
std::string Fitted(const std::string& name, const std::string& insert) {
    std::size_t split = ExtensionStart(name);
    if (name.size() - split > kMaxKeptExtensionBytes) split = name.size();
    const std::string extension = name.substr(split);
    const std::size_t room = kMaxFileNameBytes - std::min(kMaxFileNameBytes, insert.size() + extension.size());
    return std::string(CutToFit(std::string_view(name).substr(0, split), room)) + insert + extension;
}

}  // namespace

std::string SafeFileName(const std::string& offeredName) {
    const std::string name = WithoutControls(LastComponent(offeredName));
    if (OnlyDotsAndBlanks(name)) return kUnnamed;
    return name.size() <= kMaxFileNameBytes ? name : Fitted(name, std::string());
}

std::string NumberedFileName(const std::string& name, int number) {
    const std::string suffix = " (" + std::to_string(number) + ")";
    const std::size_t split = ExtensionStart(name);
    const std::string numbered = name.substr(0, split) + suffix + name.substr(split);
    if (numbered.size() <= kMaxFileNameBytes) return numbered;
    return Fitted(name, suffix);
}

std::string NameWithSuffix(const std::string& name, const std::string& suffix) {
    const std::size_t room = kMaxFileNameBytes - std::min(kMaxFileNameBytes, suffix.size());
    return std::string(CutToFit(name, room)) + suffix;
}
