#pragma once
// The connection: the two socket components, listening and connecting, the
// peer being served and the second one turned away, peers held while the
// key pair is being made, our own close, and the generation that changes
// whenever a connection begins or ends. It tells its owner what happened;
// the owner decides what that means for the conversation.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/socketapi.h"
#include "session/wire.h"

// Which side of a conversation a peer was.
enum class TPeerSide {
    Accepted,   // a peer of our listener
    Connected,  // the listener we connected to
};

class IConnectionEvents {
public:
    virtual void Log(const std::string& line) = 0;
    // The transport's own errors, for the application's error display.
    virtual void ShowError(const std::string& text) = 0;
    // The listener's listen event.
    virtual void Listening(int port) = 0;
    // Whether an arriving peer may be served: a key pair exists.
    virtual bool MayServe() const = 0;
    // A peer arrives; a peer still being heard after it left goes first.
    virtual void PeerArriving() = 0;
    // The peer is served, or the connect event came.
    virtual void PeerAccepted(ISocketConnection& peer) = 0;
    virtual void PeerConnected(ISocketConnection& peer) = 0;
    virtual void Readable() = 0;
    virtual void Writable() = 0;
    // The peer closed the connection. Its socket can still be read now.
    virtual void PeerLeft(ISocketConnection& socket, TPeerSide side) = 0;
    // An error event of a connection; the code stays for the transport.
    virtual void SocketError(int code) = 0;
    // The connection was never made.
    virtual void ConnectFailed() = 0;

protected:
    ~IConnectionEvents() = default;
};

// What our own close closed.
struct TClosed {
    bool connectedPeer = false;  // the connection we made
    bool acceptedPeer = false;   // the peer our listener served
    bool listener = false;
};

class TConnection final : public IWireLink {
public:
    TConnection(std::unique_ptr<IClientSocket> client, std::unique_ptr<IServerSocket> server,
                IConnectionEvents& events);
    ~TConnection();
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    // Throws the transport's errors ("Can't change value while socket is active", ...).
    void Listen(int port);
    void Connect(const std::string& host, int port);
    // Closes what is open, without the components' disconnect events: what
    // was closed comes back instead.
    TClosed Close();

    // While the key pair is being made, arriving peers wait; when it is
    // done they are served (or turned away) in the order they came.
    void HoldPeers();
    void ServeHeldPeers();

    // The peer that went has been heard to the end.
    void PeerHeard() { peerGone_ = false; }

    bool Listens() const;
    bool HasClient() const;

    // IWireLink
    ISocketConnection* Socket() override;
    uint64_t Generation() const override { return generation_; }
    bool PeerGone() const override { return peerGone_; }

private:
    void WireEvents();
    void UnwireEvents();
    void Accept(ISocketConnection& socket);
    void Reject(ISocketConnection& socket, const std::string& why);
    void AcceptedPeerClosed(ISocketConnection& socket);
    void ConnectedPeerClosed(ISocketConnection& socket);
    void Read(ISocketConnection& socket);
    bool IsHeld(const ISocketConnection& socket) const;
    bool IsListed(const ISocketConnection& socket);

    std::unique_ptr<IClientSocket> client_;
    std::unique_ptr<IServerSocket> server_;
    IConnectionEvents& events_;
    // The peer of our listener that the conversation is with.
    ISocketConnection* served_ = nullptr;
    bool holding_ = false;
    std::vector<ISocketConnection*> heldPeers_;
    bool peerGone_ = false;
    uint64_t generation_ = 0;
};
