#pragma once
// The frame on the wire: decimal sequence number, "?", payload, one 0x00 byte.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr char kFrameSeparator = '?';
inline constexpr char kFrameTerminator = '\0';

std::string MakeFrame(int32_t sequence, const std::string& payload);

struct TFrameParts {
    std::string sequenceText;
    std::string payload;
};

// Splits at the first "?"; throws EProtocolError "Missing sequence separator".
TFrameParts SplitFrame(std::string_view frame);

// A sequence counter's next value; wraps instead of overflowing.
int32_t NextSequence(int32_t sequence);

// Received bytes, cut into frames. Frames are taken by position and the
// buffer is compacted once per read, so the work is linear in the bytes
// received however small the frames are.
class TFrameReader {
public:
    void Append(std::string_view data);
    // The next complete frame without its terminator; nothing until one has arrived.
    std::optional<std::string> Next();
    // What follows the frame last taken, up to the next terminator.
    std::string PendingFrameText() const;
    // Forgets the frames taken so far, when that is worth the bytes it moves.
    void Compact();
    void Clear();

    // Bytes not yet taken as frames.
    std::string_view Unframed() const { return std::string_view(buffer_).substr(position_); }
    // A complete frame waits to be taken.
    bool HasFrame() const { return frameEnd_ > position_; }
    // Bytes of the frame still coming: those after the last terminator.
    std::size_t OpenFrameBytes() const { return buffer_.size() - std::max(frameEnd_, position_); }
    // Bytes moved by compaction since the reader was made, for the linearity check.
    std::size_t BytesMoved() const { return bytesMoved_; }

private:
    std::string buffer_;
    std::size_t position_ = 0;
    // buffer_[position_, searchedTo_) holds no terminator: never scanned twice.
    std::size_t searchedTo_ = 0;
    // Just past the last terminator appended.
    std::size_t frameEnd_ = 0;
    std::size_t bytesMoved_ = 0;
};
