// How long the event loop stands still while two sessions over 127.0.0.1
// agree a key, and while one sends the other a file: the RSA work and the
// chunks' encryption run on worker threads, so the window must stay live.
// Prints "handshake-stall-N: ours X ms" per key size, the longest of them as
// "handshake-stall: ours X ms", and "transfer-stall: ours X ms" for a 64 MiB
// file after a 1024-bit handshake.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>

#include "adapters/defaultenvironment.h"
#include "session/session.h"
#include "session/sessionview.h"

namespace {

using Clock = std::chrono::steady_clock;

// A view that shows nothing: the benchmark watches the event loop only.
// Every file offered is taken and saved at savePath.
class SilentView : public ISessionView {
public:
    void LineLogged(const std::string& line) override {
        if (line.rfind(kReceivedPrefix, 0) == 0) receivedLine = line;
    }
    void ShowWarning(const std::string&) override {}
    void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void StateChanged(const TSessionState&) override {}
    void OfferArrived(const std::string&, const std::string&) override {
        answer(TSaveTarget{savePath, TSaveMode::Replace});
    }
    void TransferProgress(int, int64_t, int64_t) override {}

    static constexpr const char* kReceivedPrefix = "Finished reading file";
    std::string savePath;
    std::function<void(const TSaveTarget&)> answer;
    // The receiver's last word on a file, empty until it has one.
    std::string receivedLine;
};

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
    while (!done() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents);
    return longest;
}

int FreePort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost, 0) ? probe.serverPort() : 0;
}

// Two sessions with their settings in a folder of their own; the server listens.
class TSessionPair {
public:
    TSessionPair() : server(serverView, MakeDefaultEnvironment()), client(clientView, MakeDefaultEnvironment()) {
        serverView.answer = [this](const TSaveTarget& target) { server.AnswerOffer(target); };
    }

    std::string Path(const std::string& name) const { return dir.filePath(QString::fromStdString(name)).toStdString(); }

    // The longest stall from the client's call to the end of the key exchange.
    double Connect(int bits) {
        const int port = FreePort();
        server.Listen(std::to_string(bits), std::to_string(port));
        // Key generation is not part of the handshake.
        LongestStallMs([&] { return server.State().phase == TPhase::Listening; });
        client.Connect("127.0.0.1", std::to_string(port));
        return LongestStallMs([&] {
            return client.State().phase == TPhase::Conversation && server.State().phase == TPhase::Conversation;
        });
    }

    // Declared first: the files live here until the sessions are gone.
    QTemporaryDir dir;
    SilentView serverView;
    SilentView clientView;
    TChatSession server;
    TChatSession client;
};

double HandshakeStall(int bits) {
    TSessionPair pair;
    return pair.Connect(bits);
}

std::string RandomBytes(std::size_t size) {
    std::mt19937_64 random(64);
    std::string bytes(size, '\0');
    for (std::size_t at = 0; at < size; at += 8) {
        const uint64_t word = random();
        std::copy_n(reinterpret_cast<const char*>(&word), std::min<std::size_t>(8, size - at), bytes.data() + at);
    }
    return bytes;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The longest stall while the client sends a file of the given size and the
// server saves it; negative when the file did not arrive whole.
double TransferStall(std::size_t fileBytes) {
    TSessionPair pair;
    const std::string sent = RandomBytes(fileBytes);
    const std::string sentPath = pair.Path("sent.bin");
    std::ofstream(sentPath, std::ios::binary).write(sent.data(), static_cast<std::streamsize>(sent.size()));
    pair.serverView.savePath = pair.Path("received.bin");
    pair.Connect(1024);
    pair.client.Offer(sentPath);
    const double stall = LongestStallMs([&] { return !pair.serverView.receivedLine.empty(); });
    if (pair.serverView.receivedLine != "Finished reading file ok" || ReadWholeFile(pair.serverView.savePath) != sent) {
        std::fprintf(stderr, "transfer-stall: the file did not arrive whole (%s)\n",
                     pair.serverView.receivedLine.c_str());
        return -1;
    }
    return stall;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    double longest = 0;
    for (const int bits : {1024, 2048, 4096}) {
        const double stall = HandshakeStall(bits);
        longest = std::max(longest, stall);
        std::printf("handshake-stall-%d: ours %.2f ms\n", bits, stall);
        std::fflush(stdout);
    }
    std::printf("handshake-stall: ours %.2f ms\n", longest);
    std::fflush(stdout);
    const double transfer = TransferStall(std::size_t{64} << 20);
    if (transfer < 0) return 1;
    std::printf("transfer-stall: ours %.2f ms\n", transfer);
    return 0;
}
