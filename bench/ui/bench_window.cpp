// How long the window's event loop stands still while a peer sends it a
// megabyte chat line and then a burst of 10,000 lines: the log must show a
// line of any length at once and keep only its newest lines. The peer is a
// thread of its own speaking the wire protocol over 127.0.0.1, so its work
// is not counted. Prints "long-line-stall: ours X ms" (goal: at most 100).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <QApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include "adapters/defaultenvironment.h"
#include "adapters/settingsfile.h"
#include "rsa/publickey.h"
#include "session/framing.h"
#include "session/recordlayer.h"
#include "ui/form1.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kLongLineBytes = 1 << 20;
constexpr int kBurstLines = 10000;
constexpr const char* kPeerKey = "The benchmark peer's key text!!!";

// The longest gap between two turns of the event loop while it runs until done().
double LongestStallMs(const std::function<bool()>& done) {
    QTimer tick;
    tick.start(0);
    Clock::time_point last = Clock::now();
    double longest = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const Clock::time_point now = Clock::now();
        longest = std::max(longest, std::chrono::duration<double, std::milli>(now - last).count());
        last = now;
    });
    const QDeadlineTimer deadline(600000);
    while (!done() && !deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents);
    return done() ? longest : -1;
}

int FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// The connecting side, by hand, on blocking sockets.
class TPeer {
public:
    bool Connect(int port) {
        socket_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return ::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    ~TPeer() {
        if (socket_ >= 0) ::close(socket_);
    }

    bool AgreeKey() {
        const std::optional<std::string> n = NextPayload();
        const std::optional<std::string> e = NextPayload();
        if (!n || !e) return false;
        TCiphertextList parts;
        TPublicKey(*TBigint::CreateFromDecimal(*e), *TBigint::CreateFromDecimal(*n)).Encrypt(kPeerKey, parts);
        std::string frames = Frame(std::to_string(parts.Count()));
        for (std::size_t i = 0; i < parts.Count(); ++i) frames += Frame(std::to_string(i) + "=" + parts[i].Number->ToString());
        return Send(frames) && NextPayload() == std::optional<std::string>("**ACK**");
    }

    bool SendLines() {
        TMessageCipher cipher(kPeerKey);
        if (!Send(Frame(cipher.Seal(std::string(kLongLineBytes, 'A'))))) return false;
        std::string burst;
        for (int i = 0; i < kBurstLines; ++i) burst += Frame(cipher.Seal("line " + std::to_string(i)));
        return Send(burst);
    }

private:
    std::string Frame(const std::string& payload) { return MakeFrame(sequence_ = NextSequence(sequence_), payload); }

    bool Send(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t sent = ::send(socket_, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (sent <= 0) return false;
            at += static_cast<std::size_t>(sent);
        }
        return true;
    }

    std::optional<std::string> NextPayload() {
        for (;;) {
            const std::size_t end = buffer_.find('\0');
            if (end != std::string::npos) {
                const std::string frame = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                return frame.substr(frame.find('?') + 1);
            }
            char chunk[4096];
            const ssize_t got = ::recv(socket_, chunk, sizeof chunk, 0);
            if (got <= 0) return std::nullopt;
            buffer_.append(chunk, static_cast<std::size_t>(got));
        }
    }

    int socket_ = -1;
    int32_t sequence_ = 0;
    std::string buffer_;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;
    TWindowEnvironment environment;
    environment.session = MakeDefaultEnvironment();
    environment.settings =
        std::make_unique<TSettingsFile>(folder.filePath(QStringLiteral("quellmere.conf")).toStdString());
    TForm1 form(std::move(environment));
    TWindowPresenter& window = form.presenter();
    int peerLines = 0;
    form.SetLogEcho([&](const std::string& line) { peerLines += line.rfind("PEER (", 0) == 0 ? 1 : 0; });
    form.show();

    const int port = FreePort();
    form.SetFieldText(TFormField::ListenPort, std::to_string(port));
    form.SetFieldText(TFormField::RSAKeySize, "1024");
    window.btnListenClick();
    if (LongestStallMs([&] { return window.State().phase == TPhase::Listening; }) < 0) return 1;

    std::atomic<bool> keyed{false};
    std::atomic<bool> sent{false};
    std::thread peerThread([&] {
        TPeer peer;
        if (peer.Connect(port) && peer.AgreeKey()) {
            keyed = true;
            sent = peer.SendLines();
        }
        // The window hears everything before the peer goes.
        while (peerLines < kBurstLines + 1) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
    if (LongestStallMs([&] { return keyed.load() && window.State().phase == TPhase::Conversation; }) < 0) return 1;
    const double stall = LongestStallMs([&] { return peerLines >= kBurstLines + 1; });
    peerThread.join();
    if (stall < 0 || !sent) {
        std::fprintf(stderr, "long-line-stall: the lines did not all arrive\n");
        return 1;
    }
    std::printf("long-line-stall: ours %.2f ms\n", stall);
    return 0;
}
