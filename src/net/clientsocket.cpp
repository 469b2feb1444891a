#include <netdb.h>

#include <QHostInfo>
#include <QTcpSocket>
#include <QtDebug>

#include "net/socketerror.h"
#include "net/sockets.h"

namespace {

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return QString::fromStdString(a).compare(QString::fromStdString(b), Qt::CaseInsensitive) == 0;
}

}  // namespace

TClientSocket::TClientSocket() {
    connection_.BeforeClose = [this] {
        CancelLookup();
        active_ = false;
        connecting_ = false;
        if (OnDisconnect) OnDisconnect(connection_);
    };
}

TClientSocket::~TClientSocket() {
    CancelLookup();
    connection_.BeforeClose = nullptr;
    connection_.Release();
}

void TClientSocket::SetHost(const std::string& host) {
    if (active_ && !SameTextIgnoringCase(host, host_)) throw ESocketError(kSocketActiveText);
    host_ = host;
}

void TClientSocket::SetPort(int port) {
    if (active_ && port != port_) throw ESocketError(kSocketActiveText);
    port_ = port;
}

void TClientSocket::SetActive(bool active) {
    if (active == active_) return;
    if (active)
        Open();
    else
        connection_.CloseConnection();
}

void TClientSocket::Report(const std::string& text) {
    if (OnException)
        OnException(text);
    else
        qWarning("%s", text.c_str());
}

bool TClientSocket::FireError(TErrorEvent event, int& errorCode) {
    if (OnError) OnError(connection_, event, errorCode);
    return errorCode != 0;
}

void TClientSocket::CancelLookup() {
    if (lookupId_ >= 0) {
        QHostInfo::abortHostLookup(lookupId_);
        lookupId_ = -1;
    }
}

void TClientSocket::Open() {
    if (connection_.Connected()) throw ESocketError(kSocketAlreadyOpenText);
    if (port_ < 0 || port_ > 65535) throw ESocketError(SystemSocketErrorText(EINVAL, "connect"));
    // An attempt still under way is dropped: the newest Connect wins.
    CancelLookup();
    connection_.Release();
    connection_.Attach(new QTcpSocket);
    connecting_ = true;

    if (host_.empty()) {
        int code = kNoAddressCode;
        const bool raise = FireError(TErrorEvent::eeLookup, code);
        connection_.CloseConnection();
        if (raise) throw ESocketError(kNoAddressText);
        return;
    }

    const QString host = QString::fromStdString(host_);
    QHostAddress literal;
    if (literal.setAddress(host) && literal.protocol() == QAbstractSocket::IPv4Protocol) {
        StartConnect(literal);
        return;
    }
    lookupId_ = QHostInfo::lookupHost(host, &context_, [this](const QHostInfo& info) {
        lookupId_ = -1;
        std::vector<QHostAddress> addresses;
        for (const QHostAddress& address : info.addresses())
            if (address.protocol() == QAbstractSocket::IPv4Protocol) addresses.push_back(address);
        std::string errorText = info.errorString().toStdString();
        if (info.error() == QHostInfo::NoError && addresses.empty()) errorText = "No IPv4 address";
        try {
            LookupDone(addresses, errorText);
        } catch (const std::exception& error) {
            Report(error.what());
        }
    });
}

void TClientSocket::LookupDone(const std::vector<QHostAddress>& addresses, const std::string& errorText) {
    if (!addresses.empty()) {
        StartConnect(addresses.front());
        return;
    }
    int code = HOST_NOT_FOUND;
    const bool raise = FireError(TErrorEvent::eeLookup, code);
    connection_.CloseConnection();
    if (raise) Report(SystemSocketErrorText(code, errorText, "ASync Lookup"));
}

void TClientSocket::StartConnect(const QHostAddress& address) {
    QTcpSocket* socket = connection_.Socket();
    QObject::connect(socket, &QTcpSocket::connected, &context_, [this] { Connected(); });
    QObject::connect(socket, &QTcpSocket::disconnected, &context_, [this] { PeerClosed(); });
    QObject::connect(socket, &QTcpSocket::readyRead, &context_, [this] { ReadyRead(); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, &context_, [this] { BytesWritten(); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, &context_,
                     [this](QAbstractSocket::SocketError error) { SocketFailed(SocketErrorCode(error)); });
    socket->connectToHost(address, static_cast<quint16>(port_));
}

void TClientSocket::Connected() {
    connection_.MarkConnected();
    // The connect event names the peer: its name is looked up first, off the event loop.
    connection_.LookUpName([this] { Announce(); });
}

void TClientSocket::Announce() {
    connecting_ = false;
    active_ = true;
    QTcpSocket* const socket = connection_.Socket();
    if (OnConnect) {
        try {
            OnConnect(connection_);
        } catch (const std::exception& error) {
            Report(error.what());
        }
    }
    // What the peer sent, or that it left, while its name was looked up.
    if (!active_ || connection_.Socket() != socket) return;
    if (socket->state() == QAbstractSocket::UnconnectedState)
        PeerClosed();
    else if (connection_.UnreadBytes() > 0)
        ReadyRead();
}

void TClientSocket::ReadyRead() { ReadSlice(); }

bool TClientSocket::ReadSlice() {
    if (!active_ || !OnRead) return false;
    return connection_.ReadSlice([this] {
        try {
            OnRead(connection_);
        } catch (const std::exception& error) {
            Report(error.what());
        }
    });
}

void TClientSocket::BytesWritten() {
    if (!active_ || !OnWrite) return;
    try {
        OnWrite(connection_);
    } catch (const std::exception& error) {
        Report(error.what());
    }
}

void TClientSocket::PeerClosed() {
    if (!active_) return;
    // What the peer said before it left is heard before it leaves.
    while (ReadSlice()) {}
    QTcpSocket* const closing = connection_.Socket();
    active_ = false;
    try {
        if (OnDisconnect) OnDisconnect(connection_);
    } catch (const std::exception& error) {
        Report(error.what());
    }
    // The handler may already have opened a new connection; leave that one be.
    if (connection_.Socket() == closing) connection_.Release();
}

void TClientSocket::SocketFailed(int errorCode) {
    // A peer that closes is a disconnect, not an error.
    if (errorCode == ECONNRESET && active_) return;
    QTcpSocket* const failing = connection_.Socket();
    const bool wasConnecting = connecting_;
    try {
        int code = errorCode;
        const bool raise = FireError(wasConnecting ? TErrorEvent::eeConnect : TErrorEvent::eeReceive, code);
        if (raise) Report(AsyncSocketErrorText(code));
    } catch (const std::exception& error) {
        Report(error.what());
    }
    if (connection_.Socket() != failing) return;
    if (wasConnecting) {
        // Nothing is left to use of a failed connect; the next activation starts afresh.
        connecting_ = false;
        connection_.Release();
    } else if (failing != nullptr && failing->state() == QAbstractSocket::UnconnectedState) {
        PeerClosed();
    }
}
