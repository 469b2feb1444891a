#include "session/framing.h"

#include <stdexcept>

std::string MakeFrame(int32_t sequence, const std::string& payload)
{
    std::string frame = std::to_string(sequence);
    frame.reserve(frame.size() + payload.size() + 2);
    frame += kFrameSeparator;
    frame += payload;
    frame += kFrameTerminator;
    return frame;
}

std::optional<std::string> TakeFrame(std::string& buffer)
{
    const std::size_t end = buffer.find(kFrameTerminator);
    if (end == std::string::npos)
        return std::nullopt;
    std::string frame = buffer.substr(0, end);
    buffer.erase(0, end + 1);
    return frame;
}

TFrameParts SplitFrame(const std::string& frame)
{
    const std::size_t separator = frame.find(kFrameSeparator);
    if (separator == std::string::npos)
        throw std::runtime_error("Missing sequence separator");
    return {frame.substr(0, separator), frame.substr(separator + 1)};
}

std::string PendingFrameText(const std::string& buffer)
{
    return buffer.substr(0, buffer.find(kFrameTerminator));
}

int32_t NextSequence(int32_t sequence)
{
    return static_cast<int32_t>(static_cast<uint32_t>(sequence) + 1u);
}
