#include "cli/terminaltext.h"

std::vector<std::string> TLineSplitter::Feed(std::string_view bytes) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end = bytes.find('\n'); end != std::string_view::npos; end = bytes.find('\n', start)) {
        partial_.append(bytes.substr(start, end - start));
        if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
        lines.push_back(std::move(partial_));
        partial_.clear();
        start = end + 1;
    }
    partial_.append(bytes.substr(start));
    return lines;
}

std::optional<std::string> TLineSplitter::Finish() {
    if (partial_.empty()) return std::nullopt;
    std::string last = std::move(partial_);
    partial_.clear();
    return last;
}
