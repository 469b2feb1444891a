#include "testbed.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>

#include <algorithm>
#include <cctype>
#include <stdexcept>

QString TerminalProgram() { return QString::fromUtf8(QUELLMERE_CLI_PATH); }

QString WindowProgram() { return QString::fromUtf8(QUELLMERE_WINDOW_PATH); }

std::vector<std::string> ListenerHandshake(const std::string& port) {
    return {"Generating 512 bit RSA key...please wait",
            "Generated 512 bit RSA key ok",
            "Listening on port " + port,
            "Connection from localhost",
            "Sending our public key",
            "Sent public key to localhost, receiving AES key, please wait...",
            "Received encrypted AES key...please wait whilst decrypting",
            "Decrypted AES key ok",
            "** HANDSHAKING COMPLETE **"};
}

std::vector<std::string> ConnectorKeyLines() {
    return {"Received remote RSA public key ok",
            "Generating AES key",
            "Generated AES key",
            "Encrypting AES key with remote RSA public key...please wait",
            "Transmitting AES key",
            "Transmitted AES key, waiting for peer to decrypt & acknowledge",
            "** HANDSHAKING COMPLETE **"};
}

std::vector<std::string> ConnectorHandshake(const std::string& port) {
    std::vector<std::string> lines = {"Connected to localhost:" + port};
    const std::vector<std::string> keyLines = ConnectorKeyLines();
    lines.insert(lines.end(), keyLines.begin(), keyLines.end());
    return lines;
}

std::vector<std::string> SenderLines(const QString& path) {
    return {"Waiting for peer to accept file...please wait", "Transmitting " + path.toStdString(),
            "Transmitted file " + path.toStdString()};
}

std::vector<std::string> ReceiverLines(const QString& path) {
    return {"Receiving file " + path.toStdString(), kFinishedOk};
}

std::vector<std::string> Slice(const std::vector<std::string>& lines, std::size_t from, std::size_t count) {
    from = std::min(from, lines.size());
    count = std::min(count, lines.size() - from);
    const auto first = lines.begin() + static_cast<std::ptrdiff_t>(from);
    return {first, first + static_cast<std::ptrdiff_t>(count)};
}

uint16_t FreePort() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::AnyIPv4, 0)) throw std::runtime_error("no free port");
    return probe.serverPort();
}

QString PortText(uint16_t port) { return QString::number(port); }

namespace {

constexpr char kListenState[] = "0A";

// Lines of /proc/net/tcp: "sl local_address rem_address st ...", the
// addresses as hexadecimal "ADDRESS:PORT".
bool TableHasListener(const QString& table, uint16_t port) {
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QString portSuffix = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const bool listening = fields.size() > 3 && fields[3] == QLatin1String(kListenState);
        if (listening && fields[1].endsWith(portSuffix)) return true;
    }
    return false;
}

}  // namespace

bool IsListening(uint16_t port) {
    return TableHasListener(QStringLiteral("/proc/net/tcp"), port) ||
           TableHasListener(QStringLiteral("/proc/net/tcp6"), port);
}

bool WaitUntilListening(TChildProcess& listener, const QString& port) {
    return listener.WaitForLine("Listening on port " + port.toStdString()) &&
           WaitUntil([&] { return IsListening(port.toUShort()); });
}

QString WriteSettings(const QString& folder, const QString& file, const QStringList& entries) {
    const QString path = QDir(folder).filePath(file);
    QFile settings(path);
    if (!settings.open(QIODevice::WriteOnly | QIODevice::Truncate)) throw std::runtime_error("cannot write settings");
    settings.write("[main]\n");
    for (const QString& entry : entries) settings.write((entry + QLatin1Char('\n')).toUtf8());
    return path;
}

namespace {

constexpr std::string_view kTextSeparator = ") : ";

bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }

// Loosely the locale's long time: somewhere a digit, a colon and two digits.
bool LooksLikeTime(std::string_view time) {
    for (std::size_t i = 0; i + 3 < time.size(); ++i)
        if (IsDigit(time[i]) && time[i + 1] == ':' && IsDigit(time[i + 2]) && IsDigit(time[i + 3])) return true;
    return false;
}

}  // namespace

std::optional<TChatLine> ParseChatLine(const std::string& line) {
    TChatLine chat;
    if (line.rfind("YOU  (", 0) == 0)
        chat.speaker = "YOU";
    else if (line.rfind("PEER (", 0) == 0)
        chat.speaker = "PEER";
    else
        return std::nullopt;
    constexpr std::size_t timeStart = 6;
    const std::size_t timeEnd = line.find(kTextSeparator, timeStart);
    if (timeEnd == std::string::npos || !LooksLikeTime(std::string_view(line).substr(timeStart, timeEnd - timeStart)))
        return std::nullopt;
    chat.text = line.substr(timeEnd + kTextSeparator.size());
    return chat;
}

bool IsChatLine(const std::string& line, const std::string& speaker, const std::string& text) {
    const std::optional<TChatLine> chat = ParseChatLine(line);
    return chat && chat->speaker == speaker && chat->text == text;
}

std::vector<std::string> ChatTexts(const std::vector<std::string>& lines, const std::string& speaker) {
    std::vector<std::string> texts;
    for (const std::string& line : lines) {
        const std::optional<TChatLine> chat = ParseChatLine(line);
        if (chat && chat->speaker == speaker) texts.push_back(chat->text);
    }
    return texts;
}
