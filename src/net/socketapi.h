#pragma once
// The transport as the session sees it: an event-driven TCP client, an
// event-driven TCP server and the connections they hand out. The QtNetwork
// components in sockets.h implement these; tests implement them with fakes so
// the session can be driven with bytes alone.
//
// Every event arrives on the thread that owns the component, one at a time.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

// Error kinds, in this order.
enum class TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

// Raised by the components; what() is the transport's own text.
class ESocketError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One TCP connection: the client's own, or one accepted by the server.
class ISocketConnection {
public:
    virtual ~ISocketConnection() = default;

    // Sends all the bytes, in order; what the system does not take at once is
    // queued behind them. Returns the number of bytes taken, 0 when not connected.
    virtual int SendString(const std::string& bytes) = 0;
    // Bytes handed to SendString that the system has not taken yet.
    virtual std::size_t UnsentBytes() const = 0;
    // Every byte readable now, possibly none.
    virtual std::string ReceiveAvailable() = 0;
    // The peer's address resolved to a name; empty when there is no name or no peer.
    virtual std::string RemoteHostName() = 0;
    // The peer's TCP port; 0 when not connected.
    virtual int RemotePortNumber() const = 0;
    virtual bool Connected() const = 0;
    // If open: fires the disconnect event, then closes the handle.
    virtual void CloseConnection() = 0;
};

using TSocketNotifyEvent = std::function<void(ISocketConnection& socket)>;
// errorCode may be changed by the handler; left non-zero, the component raises
// its own error afterwards.
using TSocketErrorEvent = std::function<void(ISocketConnection& socket, TErrorEvent errorEvent, int& errorCode)>;
// Where the components send errors that no caller can catch (those raised while
// an event is handled): the application's top-level error display.
using TSocketExceptionEvent = std::function<void(const std::string& text)>;

class IClientSocket {
public:
    virtual ~IClientSocket() = default;

    virtual std::string Host() const = 0;
    virtual void SetHost(const std::string& host) = 0;
    virtual int Port() const = 0;
    virtual void SetPort(int port) = 0;
    virtual bool Active() const = 0;
    // true: starts the lookup and connect and returns at once; false: closes.
    virtual void SetActive(bool active) = 0;
    virtual ISocketConnection& Socket() = 0;

    TSocketNotifyEvent OnConnect;
    TSocketNotifyEvent OnDisconnect;
    TSocketNotifyEvent OnRead;
    // Bytes of the connection went to the system: a paced sender may go on.
    TSocketNotifyEvent OnWrite;
    TSocketErrorEvent OnError;
    TSocketExceptionEvent OnException;
};

class IServerSocket {
public:
    virtual ~IServerSocket() = default;

    virtual int Port() const = 0;
    virtual void SetPort(int port) = 0;
    virtual bool Active() const = 0;
    // true: binds, fires OnListen, listens, all within the call;
    // false: releases every accepted connection silently, then stops listening.
    virtual void SetActive(bool active) = 0;
    virtual int ConnectionCount() const = 0;
    // 0 = the oldest accepted connection still in the list.
    virtual ISocketConnection* ConnectionAt(int index) = 0;

    std::function<void()> OnListen;
    TSocketNotifyEvent OnAccept;
    TSocketNotifyEvent OnClientRead;
    // Bytes of that connection went to the system: a paced sender may go on.
    TSocketNotifyEvent OnClientWrite;
    TSocketNotifyEvent OnClientDisconnect;
    TSocketErrorEvent OnClientError;
    TSocketExceptionEvent OnException;
};
