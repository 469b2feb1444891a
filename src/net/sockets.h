#pragma once
// The QtNetwork transport: an IPv4 TCP client and server with the events and
// orders the session relies on. Events arrive from the Qt event loop of the
// thread that created the component.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <QHostAddress>
#include <QObject>

#include "net/reverselookup.h"
#include "net/socketapi.h"

class QTcpSocket;
class QTcpServer;

// A QTcpSocket is deleted later, never inside one of its own signals.
struct TDeleteLater {
    void operator()(QObject* object) const;
};

// One TCP connection on a QTcpSocket. The owning component decides what its
// signals mean; the connection only knows how to talk and how to close.
class TQtSocketConnection final : public ISocketConnection {
public:
    TQtSocketConnection() = default;

    int SendString(const std::string& bytes) override;
    std::size_t UnsentBytes() const override;
    std::string ReceiveAvailable() override;
    std::string RemoteHostName() override;
    int RemotePortNumber() const override;
    bool Connected() const override { return connected_; }
    void CloseConnection() override;

    // For the owning component.
    void Attach(QTcpSocket* socket);
    QTcpSocket* Socket() const { return socket_.get(); }
    void MarkConnected();
    // Finds the peer's name, then calls done from the event loop; until then
    // RemoteHostName is empty. Dropped when the handle closes.
    void LookUpName(std::function<void()> done);
    // Closes the handle without any event.
    void Release();
    bool HandleOpen() const { return socket_ != nullptr; }
    // Fired by CloseConnection before the handle closes.
    std::function<void()> BeforeClose;

    // Bytes received and not yet handed on.
    qint64 UnreadBytes() const;
    // Calls READ, which takes one slice of what was received; whether more
    // waits that READ is taking. The slices of a connection that closes are
    // all handed on before its close.
    bool ReadSlice(const std::function<void()>& read);

private:
    std::unique_ptr<QTcpSocket, TDeleteLater> socket_;
    bool connected_ = false;
    QHostAddress peerAddress_;
    int peerPort_ = 0;
    std::string hostName_;
    TReverseLookup nameLookup_;
};

class TClientSocket final : public IClientSocket {
public:
    TClientSocket();
    ~TClientSocket() override;

    std::string Host() const override { return host_; }
    void SetHost(const std::string& host) override;
    int Port() const override { return port_; }
    void SetPort(int port) override;
    bool Active() const override { return active_; }
    void SetActive(bool active) override;
    ISocketConnection& Socket() override { return connection_; }

private:
    void Open();
    void LookupDone(const std::vector<QHostAddress>& addresses, const std::string& errorText);
    void StartConnect(const QHostAddress& address);
    void Connected();
    // The peer's name is known: the connect event, then what came or went meanwhile.
    void Announce();
    void ReadyRead();
    // One slice of what arrived to OnRead; whether more waits.
    bool ReadSlice();
    void BytesWritten();
    void PeerClosed();
    void SocketFailed(int errorCode);
    void CancelLookup();
    // Fires OnError; true when the handler left the code non-zero.
    bool FireError(TErrorEvent event, int& errorCode);
    void Report(const std::string& text);

    std::string host_;
    int port_ = 0;
    bool active_ = false;
    bool connecting_ = false;
    int lookupId_ = -1;
    TQtSocketConnection connection_;
    QObject context_;
};

class TServerSocket final : public IServerSocket {
public:
    TServerSocket();
    ~TServerSocket() override;

    // While listening on port 0, the port the system chose: "Listening on
    // port 0" would tell no one where to call.
    int Port() const override { return port_ == 0 && active_ ? boundPort_ : port_; }
    void SetPort(int port) override;
    bool Active() const override { return active_; }
    void SetActive(bool active) override;
    int ConnectionCount() const override { return static_cast<int>(connections_.size()); }
    ISocketConnection* ConnectionAt(int index) override;

    // The port actually bound (the one the system chose when Port is 0).
    int LocalPort() const { return active_ ? boundPort_ : 0; }

private:
    void Listen();
    void Close();
    void AcceptPending();
    // The peer's name is known: the accept event, then what came or went meanwhile.
    void Accept(TQtSocketConnection* connection);
    void WatchClient(TQtSocketConnection* connection);
    // Fires an event of one accepted connection while it is connected.
    void FireClientEvent(TSocketNotifyEvent event, TQtSocketConnection* connection);
    // One slice of what a client sent to OnClientRead; whether more waits.
    bool ReadSlice(TQtSocketConnection* connection);
    void ClientClosed(TQtSocketConnection* connection);
    void ClientFailed(TQtSocketConnection* connection, int errorCode);
    // Takes the connection out of the list later, after its handlers returned.
    void ReleaseLater(TQtSocketConnection* connection);
    void Report(const std::string& text);

    int port_ = 0;
    int boundPort_ = 0;
    bool active_ = false;
    std::unique_ptr<QTcpServer, TDeleteLater> listener_;
    std::vector<std::unique_ptr<TQtSocketConnection>> connections_;
    // Accepted by the system, their names still being looked up.
    std::vector<std::unique_ptr<TQtSocketConnection>> naming_;
    // Released connections live until the event loop comes round again, as a
    // handler may still hold a reference to one.
    std::vector<std::unique_ptr<TQtSocketConnection>> released_;
    QObject context_;
};
