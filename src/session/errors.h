#pragma once
// The session's errors by kind. Each what() is the exact text the user sees:
// in the message log when the error ends a connection, in the error display
// when it ends a command.

#include <stdexcept>

// Text that should have been a number: "'<text>' is not a valid integer value".
class EConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The peer broke the wire protocol.
class EProtocolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file could not be created, read or written.
class EInOutError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
