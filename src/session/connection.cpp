#include "session/connection.h"

#include <algorithm>
#include <exception>
#include <functional>
#include <utility>

namespace {

// A handler's error reaches the error display, never the event loop.
void Reporting(IConnectionEvents& events, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        events.ShowError(error.what());
    }
}

}  // namespace

TConnection::TConnection(std::unique_ptr<IClientSocket> client, std::unique_ptr<IServerSocket> server,
                         IConnectionEvents& events)
    : client_(std::move(client)), server_(std::move(server)), events_(events) {
    WireEvents();
}

TConnection::~TConnection() { UnwireEvents(); }

void TConnection::WireEvents() {
    server_->OnListen = [this] { Reporting(events_, [this] { events_.Listening(server_->Port()); }); };
    server_->OnAccept = [this](ISocketConnection& socket) { Reporting(events_, [&] { Accept(socket); }); };
    server_->OnClientDisconnect = [this](ISocketConnection& socket) {
        Reporting(events_, [&] { AcceptedPeerClosed(socket); });
    };
    server_->OnClientError = [this](ISocketConnection&, TErrorEvent, int& code) {
        Reporting(events_, [&] { events_.SocketError(code); });
    };
    server_->OnClientRead = [this](ISocketConnection& socket) { Read(socket); };
    server_->OnClientWrite = [this](ISocketConnection&) { events_.Writable(); };
    server_->OnException = [this](const std::string& text) { events_.ShowError(text); };

    client_->OnConnect = [this](ISocketConnection& socket) {
        Reporting(events_, [&] {
            ++generation_;
            events_.PeerConnected(socket);
        });
    };
    client_->OnDisconnect = [this](ISocketConnection& socket) {
        Reporting(events_, [&] { ConnectedPeerClosed(socket); });
    };
    client_->OnError = [this](ISocketConnection&, TErrorEvent, int& code) {
        Reporting(events_, [&] {
            events_.SocketError(code);
            // An error before the connect event: the connection was never made.
            if (!client_->Active()) events_.ConnectFailed();
        });
    };
    client_->OnRead = [this](ISocketConnection& socket) { Read(socket); };
    client_->OnWrite = [this](ISocketConnection&) { events_.Writable(); };
    client_->OnException = [this](const std::string& text) { events_.ShowError(text); };
}

void TConnection::UnwireEvents() {
    server_->OnListen = nullptr;
    server_->OnAccept = server_->OnClientRead = server_->OnClientWrite = server_->OnClientDisconnect = nullptr;
    server_->OnClientError = nullptr;
    server_->OnException = nullptr;
    client_->OnConnect = client_->OnDisconnect = client_->OnRead = client_->OnWrite = nullptr;
    client_->OnError = nullptr;
    client_->OnException = nullptr;
}

void TConnection::Listen(int port) {
    server_->SetPort(port);
    server_->SetActive(true);
}

void TConnection::Connect(const std::string& host, int port) {
    client_->SetHost(host);
    client_->SetPort(port);
    client_->SetActive(true);
}

TClosed TConnection::Close() {
    TClosed closed;
    ++generation_;
    heldPeers_.clear();
    peerGone_ = false;
    // The components tell a close in its own call; ours is told by what we return.
    UnwireEvents();
    try {
        if (client_->Active()) {
            client_->SetActive(false);
            closed.connectedPeer = true;
        } else if (server_->Active()) {
            if (ISocketConnection* served = std::exchange(served_, nullptr)) {
                served->CloseConnection();
                closed.acceptedPeer = true;
            }
            server_->SetActive(false);
            closed.listener = true;
        }
    } catch (...) {
        WireEvents();
        throw;
    }
    served_ = nullptr;
    WireEvents();
    return closed;
}

bool TConnection::Listens() const { return server_->Active(); }

bool TConnection::HasClient() const { return client_->Active(); }

ISocketConnection* TConnection::Socket() {
    if (peerGone_) return nullptr;
    if (client_->Active()) return &client_->Socket();
    return served_;
}

// ---------------------------------------------------------------- the listener's peers

void TConnection::HoldPeers() { holding_ = true; }

void TConnection::ServeHeldPeers() {
    holding_ = false;
    std::vector<ISocketConnection*> held;
    held.swap(heldPeers_);
    for (ISocketConnection* socket : held) {
        // Only peers still in the server's list, so not a closed one.
        if (!IsListed(*socket) || !socket->Connected()) continue;
        Reporting(events_, [&] { Accept(*socket); });
        // What it sent meanwhile waited in the socket.
        if (socket == served_ && socket->Connected()) events_.Readable();
    }
}

bool TConnection::IsListed(const ISocketConnection& socket) {
    for (int i = 0; i < server_->ConnectionCount(); ++i)
        if (server_->ConnectionAt(i) == &socket) return true;
    return false;
}

bool TConnection::IsHeld(const ISocketConnection& socket) const {
    return std::find(heldPeers_.begin(), heldPeers_.end(), &socket) != heldPeers_.end();
}

void TConnection::Accept(ISocketConnection& socket) {
    // A new key pair is being made: the peer waits for it, as it would while
    // the key was made on this thread.
    if (holding_) {
        heldPeers_.push_back(&socket);
        return;
    }
    events_.PeerArriving();
    events_.Log("Connection from " + socket.RemoteHostName());
    // Only one peer is served at a time: the first stays.
    if (served_ != nullptr) {
        Reject(socket, "Rejecting incoming connection as already connected to " + served_->RemoteHostName());
        return;
    }
    // Without a key pair there is no public key to send.
    if (!events_.MayServe()) {
        Reject(socket, "Rejecting incoming connection as no RSA key exists");
        return;
    }
    served_ = &socket;
    ++generation_;
    events_.PeerAccepted(socket);
}

void TConnection::Reject(ISocketConnection& socket, const std::string& why) {
    events_.Log(why);
    // Its disconnect event is not the served peer's, so it goes unremarked.
    socket.CloseConnection();
}

void TConnection::AcceptedPeerClosed(ISocketConnection& socket) {
    if (IsHeld(socket)) {
        // Came and went while the key pair was being made.
        heldPeers_.erase(std::find(heldPeers_.begin(), heldPeers_.end(), &socket));
        return;
    }
    if (&socket != served_) return;
    served_ = nullptr;
    ++generation_;
    peerGone_ = true;
    events_.PeerLeft(socket, TPeerSide::Accepted);
}

void TConnection::ConnectedPeerClosed(ISocketConnection& socket) {
    ++generation_;
    peerGone_ = true;
    events_.PeerLeft(socket, TPeerSide::Connected);
}

void TConnection::Read(ISocketConnection& socket) {
    // A held peer's bytes wait in its socket until it is served; a rejected
    // one's are never read.
    if (&socket != Socket()) return;
    events_.Readable();
}
