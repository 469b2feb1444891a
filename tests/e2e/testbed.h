#pragma once
// What the whole-program tests share: where the programs are, free ports,
// settings files in temporary folders and the shape of chat lines.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "childprocess.h"

QString TerminalProgram();
QString WindowProgram();

// What a listener with the 512-bit keys of these tests says on stderr.
inline const std::string kWeakKeyWarning = "Warning - key size is 512 which is weak, use 1024 at least!\n";

// What each side logs from its start to the end of the key exchange; the
// listener's key has 512 bits.
std::vector<std::string> ListenerHandshake(const std::string& port);
std::vector<std::string> ConnectorHandshake(const std::string& port);
// The connector's lines after "Connected to ...", to the end of its key exchange.
std::vector<std::string> ConnectorKeyLines();
// At most COUNT lines from FROM on.
std::vector<std::string> Slice(const std::vector<std::string>& lines, std::size_t from, std::size_t count);

// What a sender of the file at PATH logs, from its offer to the end message.
std::vector<std::string> SenderLines(const QString& path);
// What a receiver saving at PATH logs when all arrived whole.
inline const std::string kFinishedOk = "Finished reading file ok";
std::vector<std::string> ReceiverLines(const QString& path);

// A port nobody listens on at the moment of asking.
uint16_t FreePort();
QString PortText(uint16_t port);

// Whether the system has a socket listening on this TCP port, as /proc/net
// tells. A listener logs "Listening on port" between bind and listen, so a
// peer that connects on that line alone may be refused.
bool IsListening(uint16_t port);
// The listener's "Listening on port PORT" line, then the port really taking calls.
bool WaitUntilListening(TChildProcess& listener, const QString& port);

// Writes FILE in FOLDER as a settings file: a [main] section with these
// "name=value" entries. Returns its path.
QString WriteSettings(const QString& folder, const QString& file, const QStringList& entries);

// "YOU  (<time>) : <text>" or "PEER (<time>) : <text>".
struct TChatLine {
    std::string speaker;  // "YOU" or "PEER"
    std::string text;
};
std::optional<TChatLine> ParseChatLine(const std::string& line);
bool IsChatLine(const std::string& line, const std::string& speaker, const std::string& text);
// The texts of one speaker's chat lines, in order.
std::vector<std::string> ChatTexts(const std::vector<std::string>& lines, const std::string& speaker);
