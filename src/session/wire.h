#pragma once
// The frames of a connection, both ways: the receive buffer and the frame
// loop that takes frames from it, the sequence numbers, the pause between
// frames sent, the back-pressure both ways and the frame source that fills
// the room. There is one pump: a turn reads what the connection brings,
// takes at most framesPerTurn frames, checks the unfinished one and lets
// the frame source fill the room; what is left waits for the next turn.
// Nothing a payload's handler does runs a turn inside it: it only asks for
// the next one.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "net/socketapi.h"
#include "session/environment.h"
#include "session/framing.h"

// Something that sends many frames: asked for the next payload whenever the
// pause between frames is over and the connection has room.
class IFrameSource {
public:
    // The next payload to send, or nothing when there is no more for now.
    virtual bool NextPayload(std::string& payload) = 0;

protected:
    ~IFrameSource() = default;
};

// What the wire needs of the connection it carries.
class IWireLink {
public:
    // Where frames go and come from; nullptr when there is no connection.
    virtual ISocketConnection* Socket() = 0;
    // Changes whenever a connection begins or ends.
    virtual uint64_t Generation() const = 0;
    // The peer has gone: what it sent is still heard, nothing goes to it.
    virtual bool PeerGone() const = 0;

protected:
    ~IWireLink() = default;
};

// What the wire hands up.
class IWireEvents {
public:
    // False while payloads must wait (work on the last one is under way).
    virtual bool TakesPayloads() const = 0;
    // One payload, in order. May throw: the text ends the connection.
    virtual void Payload(const std::string& payload) = 0;
    // The peer broke the frame layer, or a payload's handler threw.
    virtual void ProtocolError(const std::string& reason) = 0;
    // The longest unfinished frame the peer may send now.
    virtual std::size_t OpenFrameLimit() const = 0;
    virtual void Log(const std::string& line) = 0;
    // The peer that went has been heard to the end.
    virtual void AllHeard() = 0;
    // Everything handed to the wire has left for the system.
    virtual void Drained() = 0;

protected:
    ~IWireEvents() = default;
};

class TWire {
public:
    // The frame loop takes at most this many frames a turn of the event
    // loop, so the window stays live however many wait.
    static constexpr int framesPerTurn = 256;
    // Received frames waiting for the loop; while this much waits, the rest
    // stays with the system, which slows the peer.
    static constexpr std::size_t maxWaitingBytes = 1024u * 1024u;
    // A frame source is asked for more while less than this waits unsent.
    static constexpr std::size_t sendRoomBytes = 64u * 1024u;

    TWire(IWireLink& link, IWireEvents& events, ITimer& pauseTimer, ITimer& turnTimer);
    ~TWire();
    TWire(const TWire&) = delete;
    TWire& operator=(const TWire&) = delete;

    // A new connection: both counters start again and nothing old waits.
    void StartCounting();
    // Received bytes not taken, frames waiting for the pause and the frame
    // source are forgotten; the counters stay.
    void Forget();
    // Milliseconds after every frame sent; 0 for none.
    void SetPause(int32_t milliseconds) { pause_ = milliseconds; }

    // Frames the payload and sends it: at once, or after the pause.
    void sendTextToPeer(const std::string& payload);
    // Nullptr stops it. Asked on the next turn.
    void SetFrameSource(IFrameSource* source);
    // The source, or the payloads' taker, can go on: on the next turn.
    void MoreToDo();

    // The connection brought bytes.
    void Readable();
    // The connection sent some: room for more.
    void Writable();
    // The peer went: all it sent that the system still holds is read now
    // (a bounded amount). True when frames wait to be heard.
    bool ReadRest(ISocketConnection& socket);

    // Frames wait for the pause, or bytes for the system to take them.
    bool HasUnsentFrames();

private:
    friend class TWireInspection;
    void Turn();
    // Received bytes join the buffer; the turn takes the frames.
    void handleReceivedText(const std::string& data);
    bool MayReadMore() const;
    // The frames of one turn.
    void TakeFrames();
    void TakeFrame(const std::string& frame);
    void CheckOpenFrame();
    void FillRoom();
    bool HasSendRoom();
    void SendNextWaitingFrame();
    void ScheduleTurnIfWaiting();

    IWireLink& link_;
    IWireEvents& events_;
    ITimer& pauseTimer_;
    ITimer& turnTimer_;
    int32_t pause_ = 0;

    TFrameReader receiveBuffer_;
    int32_t sendSequence_ = 0;
    int32_t receiveSequence_ = 0;
    // A read was left to the system while frames waited.
    bool readDeferred_ = false;

    std::deque<std::string> waitingFrames_;
    IFrameSource* frameSource_ = nullptr;
};
