#pragma once
// Text between the terminal and the session: lines of standard input, and
// what the peer sent made harmless to show.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Control characters as \xHH (lower-case hex of the code): the C0 bytes but
// tab, DEL, and the C1 code points U+0080..U+009F in their UTF-8 form
// C2 80..C2 9F. A peer's text cannot then move the cursor, retitle the
// window or fake lines. Every other byte passes as it is.
std::string EscapeForTerminal(std::string_view text);

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
