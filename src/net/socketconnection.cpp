#include "net/sockets.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QTcpSocket>
#include <QTimer>

namespace {

constexpr qint64 kReadBufferBytes = 1 << 20;
// What one read event hands on: a peer that sent a lot is served over several
// turns of the event loop, so the window and the other events keep going.
constexpr qint64 kReadSliceBytes = 16 << 10;

}  // namespace

void TDeleteLater::operator()(QObject* object) const {
    if (object != nullptr) object->deleteLater();
}

void TQtSocketConnection::Attach(QTcpSocket* socket) {
    // A bounded read buffer: what the program has not taken yet stays with the
    // system, which then slows the sender, instead of piling up here.
    socket->setReadBufferSize(kReadBufferBytes);
    socket_.reset(socket);
    connected_ = false;
    peerAddress_.clear();
    peerPort_ = 0;
    hostNameKnown_ = false;
    hostName_.clear();
}

void TQtSocketConnection::MarkConnected() {
    connected_ = true;
    // Kept so the name and port still answer in the disconnect event.
    peerAddress_ = socket_->peerAddress();
    peerPort_ = socket_->peerPort();
}

int TQtSocketConnection::SendString(const std::string& bytes) {
    if (!connected_ || !socket_) return 0;
    // QTcpSocket queues what the system does not take at once and sends it in
    // order, so a frame is never cut.
    const qint64 written = socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    return written < 0 ? 0 : static_cast<int>(written);
}

std::size_t TQtSocketConnection::UnsentBytes() const {
    return socket_ ? static_cast<std::size_t>(socket_->bytesToWrite()) : 0;
}

std::string TQtSocketConnection::ReceiveAvailable() {
    if (!socket_) return {};
    QTcpSocket* const socket = socket_.get();
    const QByteArray data = socket->read(kReadSliceBytes);
    // The rest is announced again once the event loop has come round.
    if (socket->bytesAvailable() > 0) QTimer::singleShot(0, socket, [socket] { emit socket->readyRead(); });
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
}

qint64 TQtSocketConnection::UnreadBytes() const { return socket_ ? socket_->bytesAvailable() : 0; }

bool TQtSocketConnection::ReadSlice(const std::function<void()>& read) {
    const qint64 before = UnreadBytes();
    read();
    const qint64 after = UnreadBytes();
    // A handler that took nothing (a peer kept waiting) is asked again by the next event.
    return after > 0 && after < before;
}

std::string TQtSocketConnection::RemoteHostName() {
    if (!connected_ || peerAddress_.isNull()) return {};
    if (hostNameKnown_) return hostName_;
    bool isIPv4 = false;
    const quint32 ipv4 = peerAddress_.toIPv4Address(&isIPv4);
    if (isIPv4) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(ipv4);
        char name[NI_MAXHOST] = {};
        // NI_NAMEREQD: an address without a name gives no name, not its digits.
        if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, name, sizeof name, nullptr, 0,
                        NI_NAMEREQD) == 0)
            hostName_ = name;
    }
    hostNameKnown_ = true;
    return hostName_;
}

int TQtSocketConnection::RemotePortNumber() const { return connected_ ? peerPort_ : 0; }

void TQtSocketConnection::CloseConnection() {
    if (!socket_) return;
    // A copy: the handler may clear BeforeClose while it runs.
    const std::function<void()> beforeClose = BeforeClose;
    if (beforeClose) beforeClose();
    Release();
}

void TQtSocketConnection::Release() {
    if (!socket_) return;
    // No signal of a closed handle may reach the component any more.
    socket_->disconnect();
    socket_->abort();
    socket_.reset();
    connected_ = false;
}
