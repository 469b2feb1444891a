#pragma once
// Files that hold secrets (the trace file with its session key, the
// settings), and the folders they live in: only this user may read them, and
// no link or special file planted where they go is ever followed.

#include <string>

#include "session/errors.h"

// The runtime's file error texts for a system error code.
EInOutError FileError(int code);

enum class TOwner { Anyone, ThisUser };

// Opens path for writing, emptied: a new file is created 0600; one that is
// there is taken only when it is a regular file (of this user, when owner
// says so). A FIFO, a socket or a device is refused as "File access denied",
// never waited on. flags are added to the open (O_NOFOLLOW, say). The
// descriptor is close-on-exec. Throws EInOutError.
int OpenRegularFileForWriting(const std::string& path, int flags, TOwner owner);

// Opens path for writing, emptied: a new file is created 0600; one that is
// there is taken only when it is a regular file of this user, and is made
// 0600. Never through a link; a FIFO or a device is refused, never waited
// on. The descriptor is close-on-exec. Throws EInOutError ("File access
// denied" for what may not be taken).
int OpenPrivateFile(const std::string& path);

// A new file at path, 0600 (less the umask), close-on-exec; -1 with errno
// set when anything is there already, a link included.
int CreatePrivateFile(const std::string& path);

// Makes the folder at path and those above it that are missing, each 0700
// (less the umask); folders already there stay as they are. False with errno set on failure.
bool MakePrivateFolders(const std::string& path);

// Writes all of bytes; false with errno set on failure.
bool WriteAll(int descriptor, const std::string& bytes);
