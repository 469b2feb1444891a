#pragma once
// Lines of standard input.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Cuts a byte stream into lines at LF; a CR just before the LF is dropped.
class TLineSplitter {
public:
    // The lines these bytes complete, in order.
    std::vector<std::string> Feed(std::string_view bytes);
    // At the end of the stream: the last line when it had no LF.
    std::optional<std::string> Finish();

private:
    std::string partial_;
};
