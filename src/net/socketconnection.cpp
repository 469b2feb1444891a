#include "net/sockets.h"

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
    nameLookup_.Cancel();
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

std::string TQtSocketConnection::RemoteHostName() { return connected_ ? hostName_ : std::string(); }

void TQtSocketConnection::LookUpName(std::function<void()> done) {
    nameLookup_.Start(peerAddress_, [this, done = std::move(done)](const std::string& name) {
        hostName_ = name;
        done();
    });
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
    nameLookup_.Cancel();
    socket_->disconnect();
    socket_->abort();
    socket_.reset();
    connected_ = false;
}
