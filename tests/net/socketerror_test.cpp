#include <cerrno>

#include <gtest/gtest.h>

#include "net/socketerror.h"

TEST(SocketErrorTexts, SystemErrorNamesTextCodeAndCall) {
    EXPECT_EQ(SystemSocketErrorText(EADDRINUSE, "bind"),
              "Windows socket error: Address already in use (" + std::to_string(EADDRINUSE) + "), on API 'bind'");
    EXPECT_EQ(SystemSocketErrorText(1, "Unknown host", "ASync Lookup"),
              "Windows socket error: Unknown host (1), on API 'ASync Lookup'");
}

TEST(SocketErrorTexts, AsynchronousErrorCarriesTheCode) {
    EXPECT_EQ(AsyncSocketErrorText(111), "Asynchronous socket error 111");
    EXPECT_EQ(AsyncSocketErrorText(-1), "Asynchronous socket error -1");
}

TEST(SocketErrorTexts, QtErrorsMapToSystemNumbers) {
    EXPECT_EQ(SocketErrorCode(QAbstractSocket::ConnectionRefusedError), ECONNREFUSED);
    EXPECT_EQ(SocketErrorCode(QAbstractSocket::AddressInUseError), EADDRINUSE);
    EXPECT_EQ(SocketErrorCode(QAbstractSocket::SocketTimeoutError), ETIMEDOUT);
    EXPECT_EQ(SocketErrorCode(QAbstractSocket::UnknownSocketError), EIO);
}
