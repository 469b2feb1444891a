#pragma once
// Bytes from the peer or from the garbage generator, made fit for the view,
// which takes UTF-8, and made inert for each place that shows them.

#include <cstddef>
#include <string>
#include <string_view>

bool IsValidUtf8(const std::string& bytes);
// Every byte as its Windows-1252 character.
std::string Windows1252ToUtf8(const std::string& bytes);
// Valid UTF-8 as it is; anything else read as Windows-1252, so older peers
// that send 8-bit text still read right.
std::string ReceivedTextForView(const std::string& bytes);

// Control characters made visible: the C0 bytes but tab, DEL and the C1 code
// points (C2 80..C2 9F) as \xHH; the line and paragraph separators and the
// bidirectional embeddings, overrides and isolates as \uHHHH. A peer's text
// then cannot move a terminal's cursor, start a line of its own or turn the
// text around it. Every other byte passes as it is.
std::string VisibleControls(std::string_view text);

// The bytes of the character that text starts with: a whole UTF-8 sequence,
// or 1 for a byte that begins none. text must not be empty.
std::size_t LeadingCharacterBytes(std::string_view text);
// Whether that character is one VisibleControls makes visible.
bool StartsWithControl(std::string_view text);

// A shown line is cut here: laying out a megabyte of text freezes a window.
inline constexpr std::size_t kMaxShownLineBytes = 4096;

// A line as the window's log shows it: controls visible, and a line longer
// than maxBytes cut there, whole characters only, with " … (N bytes)", N the
// length of the line as it came.
std::string ShownLine(std::string_view line, std::size_t maxBytes = kMaxShownLineBytes);
