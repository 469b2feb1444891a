#include "net/sockets.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <QTcpSocket>

namespace {

constexpr qint64 kReadBufferBytes = 1 << 20;

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
    const QByteArray data = socket_->readAll();
    return std::string(data.constData(), static_cast<std::size_t>(data.size()));
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
