#pragma once
// The transport's error texts.

#include <string>

#include <QAbstractSocket>

inline constexpr const char* kSocketActiveText = "Can't change value while socket is active";
inline constexpr const char* kSocketAlreadyOpenText = "Socket already open";
inline constexpr const char* kListenOnOpenText = "Can't listen on an open socket";
inline constexpr const char* kNoAddressText = "No address specified";
// Raised when no host and no address were given.
inline constexpr int kNoAddressCode = 1110;

// "Windows socket error: <system text> (<code>), on API '<api>'".
std::string SystemSocketErrorText(int code, const std::string& api);
// The same with a text of the system's own (the resolver's, say).
std::string SystemSocketErrorText(int code, const std::string& systemText, const std::string& api);
// "Asynchronous socket error <code>".
std::string AsyncSocketErrorText(int code);
// The system error number that best matches a Qt socket error.
int SocketErrorCode(QAbstractSocket::SocketError error);
