#include "net/socketerror.h"

#include <cerrno>
#include <cstring>

std::string SystemSocketErrorText(int code, const std::string& api) {
    return SystemSocketErrorText(code, std::strerror(code), api);
}

std::string SystemSocketErrorText(int code, const std::string& systemText, const std::string& api) {
    return "Windows socket error: " + systemText + " (" + std::to_string(code) + "), on API '" + api + "'";
}

std::string AsyncSocketErrorText(int code) { return "Asynchronous socket error " + std::to_string(code); }

int SocketErrorCode(QAbstractSocket::SocketError error) {
    switch (error) {
        case QAbstractSocket::ConnectionRefusedError: return ECONNREFUSED;
        case QAbstractSocket::RemoteHostClosedError: return ECONNRESET;
        case QAbstractSocket::HostNotFoundError: return EHOSTUNREACH;
        case QAbstractSocket::SocketAccessError: return EACCES;
        case QAbstractSocket::SocketResourceError: return EMFILE;
        case QAbstractSocket::SocketTimeoutError: return ETIMEDOUT;
        case QAbstractSocket::DatagramTooLargeError: return EMSGSIZE;
        case QAbstractSocket::NetworkError: return ENETUNREACH;
        case QAbstractSocket::AddressInUseError: return EADDRINUSE;
        case QAbstractSocket::SocketAddressNotAvailableError: return EADDRNOTAVAIL;
        case QAbstractSocket::UnsupportedSocketOperationError: return EOPNOTSUPP;
        default: return EIO;
    }
}
