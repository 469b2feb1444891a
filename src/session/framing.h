#pragma once
// The frame on the wire: decimal sequence number, "?", payload, one 0x00 byte.

#include <cstdint>
#include <optional>
#include <string>

inline constexpr char kFrameSeparator = '?';
inline constexpr char kFrameTerminator = '\0';

std::string MakeFrame(int32_t sequence, const std::string& payload);

// Takes the first complete frame (without its terminator) off the front of
// buffer; nothing when no terminator has arrived yet.
std::optional<std::string> TakeFrame(std::string& buffer);

struct TFrameParts {
    std::string sequenceText;
    std::string payload;
};

// Splits at the first "?"; throws std::runtime_error "Missing sequence separator".
TFrameParts SplitFrame(const std::string& frame);

// What follows a taken frame, up to the next terminator: the next pending frame.
std::string PendingFrameText(const std::string& buffer);

// A sequence counter's next value; wraps instead of overflowing.
int32_t NextSequence(int32_t sequence);
