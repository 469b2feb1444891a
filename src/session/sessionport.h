#pragma once
// What a feature of the session (the key exchange, the encrypted channel, the
// file transfer, the trace file) may ask of the conductor. Features own their
// state and secrets; everything else goes through here.

#include <cstdint>
#include <string>

// Something that sends many frames pulls them one by one, as the pause
// between frames and the connection's unsent bytes leave room.
class IFrameSource {
public:
    // The next payload to send, or nothing when the source has no more for now.
    virtual bool NextPayload(std::string& payload) = 0;

protected:
    ~IFrameSource() = default;
};

class ISessionPort {
public:
    // Frames the payload and sends it on the current connection.
    virtual void sendTextToPeer(const std::string& payload) = 0;
    // A whole line in the message log.
    virtual void AppendLog(const std::string& line) = 0;
    // A protocol detail: into the message log in debug mode, into the trace
    // file while logging. It may hold a secret: the line is wiped after.
    virtual void DebugLine(std::string line) = 0;
    // Into the trace file only, while logging.
    virtual void TraceLine(const std::string& line) = 0;
    // The key exchange is complete on this side: the next frame goes to the
    // encrypted channel.
    virtual void EndHandshake() = 0;
    // Ends the connection as the Disconnect button does.
    virtual void Disconnect() = 0;
    // Ends the connection as an error on the receive path does: the reason
    // goes to the message log first.
    virtual void AbortConnection(const std::string& reason) = 0;
    // The session flags changed: the controls follow.
    virtual void FixControls() = 0;
    // Protocol detail lines go somewhere (debug mode or the trace file).
    virtual bool WantsDebugLines() const = 0;
    // A sender of many frames; nullptr stops it. Dropped when the connection ends.
    virtual void SetFrameSource(IFrameSource* source) = 0;
    // The source has more to send now.
    virtual void PullFrames() = 0;
    // Received frames wait in the buffer, in order, while a feature works
    // off the event loop's thread; after the release the frame loop takes
    // those that came meanwhile, on its next turn.
    virtual void HoldFrames() = 0;
    virtual void ReleaseFrames() = 0;
    // Changes whenever a connection begins or ends: what was made for one
    // connection (a worker's result, a person's answer) compares it before
    // it acts, and is dropped when the connection it was made for is gone.
    virtual uint64_t connectionGeneration() const = 0;

protected:
    ~ISessionPort() = default;
};
