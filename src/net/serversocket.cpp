#include <algorithm>
#include <cerrno>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QTcpServer>
#include <QTcpSocket>
#include <QtDebug>

#include "net/socketerror.h"
#include "net/sockets.h"

namespace {

// How many peers may wait for accept, as the system's listen call is told.
constexpr int kBacklog = 5;

}  // namespace

TServerSocket::TServerSocket() = default;

TServerSocket::~TServerSocket() { Close(); }

void TServerSocket::SetPort(int port) {
    if (active_ && port != port_) throw ESocketError(kSocketActiveText);
    port_ = port;
}

void TServerSocket::SetActive(bool active) {
    if (active == active_) return;
    if (active)
        Listen();
    else
        Close();
}

ISocketConnection* TServerSocket::ConnectionAt(int index) {
    if (index < 0 || index >= ConnectionCount()) return nullptr;
    return connections_[static_cast<std::size_t>(index)].get();
}

void TServerSocket::Report(const std::string& text) {
    if (OnException)
        OnException(text);
    else
        qWarning("%s", text.c_str());
}

void TServerSocket::Listen() {
    if (listener_) throw ESocketError(kListenOnOpenText);
    if (port_ < 0 || port_ > 65535) throw ESocketError(SystemSocketErrorText(EINVAL, "bind"));

    // Bound and listened by hand, so the listen event can come between the two
    // calls and each failure names its call.
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (handle < 0) throw ESocketError(SystemSocketErrorText(errno, "socket"));
    // Lets Listen follow a just-closed listener on the same port.
    const int reuse = 1;
    ::setsockopt(handle, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    if (::bind(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int code = errno;
        ::close(handle);
        throw ESocketError(SystemSocketErrorText(code, "bind"));
    }
    sockaddr_in bound{};
    socklen_t boundSize = sizeof bound;
    ::getsockname(handle, reinterpret_cast<sockaddr*>(&bound), &boundSize);
    boundPort_ = ntohs(bound.sin_port);

    active_ = true;
    try {
        if (OnListen) OnListen();
    } catch (...) {
        active_ = false;
        ::close(handle);
        throw;
    }
    if (::listen(handle, kBacklog) != 0) {
        const int code = errno;
        active_ = false;
        ::close(handle);
        throw ESocketError(SystemSocketErrorText(code, "listen"));
    }

    std::unique_ptr<QTcpServer, TDeleteLater> listener(new QTcpServer);
    if (!listener->setSocketDescriptor(handle)) {
        const int code = SocketErrorCode(listener->serverError());
        active_ = false;
        ::close(handle);
        throw ESocketError(SystemSocketErrorText(code, "listen"));
    }
    QObject::connect(listener.get(), &QTcpServer::newConnection, &context_, [this] { AcceptPending(); });
    listener_ = std::move(listener);
}

void TServerSocket::Close() {
    // Accepted connections go silently: no disconnect event for any of them.
    for (auto& connection : connections_) {
        connection->BeforeClose = nullptr;
        connection->Release();
        released_.push_back(std::move(connection));
    }
    connections_.clear();
    for (auto& connection : naming_) {
        connection->Release();
        released_.push_back(std::move(connection));
    }
    naming_.clear();
    if (!released_.empty())
        QMetaObject::invokeMethod(
            &context_, [this] { released_.clear(); }, Qt::QueuedConnection);
    if (listener_) {
        listener_->disconnect();
        listener_->close();
        listener_.reset();
    }
    active_ = false;
}

void TServerSocket::AcceptPending() {
    while (listener_ && listener_->hasPendingConnections()) {
        QTcpSocket* socket = listener_->nextPendingConnection();
        if (socket == nullptr) break;
        socket->setParent(nullptr);
        auto owned = std::make_unique<TQtSocketConnection>();
        TQtSocketConnection* connection = owned.get();
        connection->Attach(socket);
        connection->MarkConnected();
        naming_.push_back(std::move(owned));
        // The accept event names the peer: its name is looked up first, off the event loop.
        connection->LookUpName([this, connection] { Accept(connection); });
    }
}

void TServerSocket::Accept(TQtSocketConnection* connection) {
    const auto found = std::find_if(naming_.begin(), naming_.end(),
                                    [connection](const auto& entry) { return entry.get() == connection; });
    if (found == naming_.end()) return;
    connections_.push_back(std::move(*found));
    naming_.erase(found);
    connection->BeforeClose = [this, connection] {
        if (OnClientDisconnect) OnClientDisconnect(*connection);
        ReleaseLater(connection);
    };
    WatchClient(connection);
    if (OnAccept) {
        try {
            OnAccept(*connection);
        } catch (const std::exception& error) {
            Report(error.what());
        }
    }
    // What the peer sent, or that it left, while its name was looked up.
    if (!connection->HandleOpen()) return;
    if (connection->Socket()->state() == QAbstractSocket::UnconnectedState)
        ClientClosed(connection);
    else if (connection->UnreadBytes() > 0)
        FireClientEvent(OnClientRead, connection);
}

void TServerSocket::WatchClient(TQtSocketConnection* connection) {
    QTcpSocket* socket = connection->Socket();
    QObject::connect(socket, &QTcpSocket::readyRead, &context_,
                     [this, connection] { FireClientEvent(OnClientRead, connection); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, &context_,
                     [this, connection] { FireClientEvent(OnClientWrite, connection); });
    QObject::connect(socket, &QTcpSocket::disconnected, &context_, [this, connection] { ClientClosed(connection); });
    QObject::connect(
        socket, &QTcpSocket::errorOccurred, &context_,
        [this, connection](QAbstractSocket::SocketError error) { ClientFailed(connection, SocketErrorCode(error)); });
}

// A copy of the event: its handler may replace it while it runs.
void TServerSocket::FireClientEvent(TSocketNotifyEvent event, TQtSocketConnection* connection) {
    if (!event || !connection->Connected()) return;
    try {
        event(*connection);
    } catch (const std::exception& error) {
        Report(error.what());
    }
}

bool TServerSocket::ReadSlice(TQtSocketConnection* connection) {
    return connection->ReadSlice([this, connection] { FireClientEvent(OnClientRead, connection); });
}

void TServerSocket::ClientClosed(TQtSocketConnection* connection) {
    // What the peer said before it left is heard before it leaves.
    while (ReadSlice(connection)) {}
    try {
        connection->CloseConnection();
    } catch (const std::exception& error) {
        Report(error.what());
    }
}

void TServerSocket::ClientFailed(TQtSocketConnection* connection, int errorCode) {
    // A peer that closes is a disconnect, not an error.
    if (errorCode == ECONNRESET || !connection->HandleOpen()) return;
    try {
        int code = errorCode;
        if (OnClientError)
            OnClientError(*connection, errorCode == ECONNREFUSED ? TErrorEvent::eeConnect : TErrorEvent::eeReceive,
                          code);
        if (code != 0) Report(AsyncSocketErrorText(code));
    } catch (const std::exception& error) {
        Report(error.what());
    }
    // The connection is of no more use once the system has dropped it.
    if (connection->HandleOpen() && connection->Socket()->state() == QAbstractSocket::UnconnectedState)
        ClientClosed(connection);
}

void TServerSocket::ReleaseLater(TQtSocketConnection* connection) {
    // It stays in the list until its disconnect handler has returned.
    QMetaObject::invokeMethod(
        &context_,
        [this, connection] {
            auto found = std::find_if(connections_.begin(), connections_.end(),
                                      [connection](const auto& entry) { return entry.get() == connection; });
            if (found != connections_.end()) {
                released_.push_back(std::move(*found));
                connections_.erase(found);
            }
            released_.clear();
        },
        Qt::QueuedConnection);
}
