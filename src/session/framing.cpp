#include "session/framing.h"

#include "session/errors.h"

std::string MakeFrame(int32_t sequence, const std::string& payload) {
    std::string frame = std::to_string(sequence);
    frame.reserve(frame.size() + payload.size() + 2);
    frame += kFrameSeparator;
    frame += payload;
    frame += kFrameTerminator;
    return frame;
}

TFrameParts SplitFrame(std::string_view frame) {
    const std::size_t separator = frame.find(kFrameSeparator);
    if (separator == std::string_view::npos) throw EProtocolError("Missing sequence separator");
    return {std::string(frame.substr(0, separator)), std::string(frame.substr(separator + 1))};
}

int32_t NextSequence(int32_t sequence) { return static_cast<int32_t>(static_cast<uint32_t>(sequence) + 1u); }

void TFrameReader::Append(std::string_view data) {
    const std::size_t last = data.rfind(kFrameTerminator);
    if (last != std::string_view::npos) frameEnd_ = buffer_.size() + last + 1;
    buffer_.append(data);
}

std::optional<std::string> TFrameReader::Next() {
    const std::size_t end = buffer_.find(kFrameTerminator, std::max(position_, searchedTo_));
    if (end == std::string::npos) {
        searchedTo_ = buffer_.size();
        return std::nullopt;
    }
    std::string frame = buffer_.substr(position_, end - position_);
    position_ = end + 1;
    searchedTo_ = position_;
    return frame;
}

std::string TFrameReader::PendingFrameText() const {
    const std::string_view rest = Unframed();
    return std::string(rest.substr(0, rest.find(kFrameTerminator)));
}

void TFrameReader::Compact() {
    // What is left moves only once at least as much has been taken, or when
    // only an unfinished frame is left: on average no byte moves twice.
    if (position_ == 0 || (HasFrame() && position_ < buffer_.size() - position_)) return;
    const std::size_t kept = buffer_.size() - position_;
    buffer_.erase(0, position_);
    bytesMoved_ += kept;
    searchedTo_ -= position_;
    frameEnd_ = frameEnd_ > position_ ? frameEnd_ - position_ : 0;
    position_ = 0;
}

void TFrameReader::Clear() {
    buffer_.clear();
    position_ = 0;
    searchedTo_ = 0;
    frameEnd_ = 0;
}
