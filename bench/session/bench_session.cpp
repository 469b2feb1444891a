// How long the event loop stands still while two sessions over 127.0.0.1
// agree a key: the RSA work runs on worker threads, so the window must stay
// live. Prints "handshake-stall-N: ours X ms" per key size and the longest
// of them as "handshake-stall: ours X ms".
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
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
class SilentView : public ISessionView {
public:
    void AppendLog(const std::string&) override { ++lines; }
    int LogLineCount() const override { return lines; }
    void ClearLog() override { lines = 0; }
    void FixControls(const TControlStates&) override {}
    std::string FieldText(TSessionField field) const override { return fields[static_cast<int>(field)]; }
    void SetFieldText(TSessionField field, const std::string& text) override { fields[static_cast<int>(field)] = text; }
    bool AntiKeyloggingToggleDown() const override { return false; }
    void SetAntiKeyloggingToggleDown(bool) override {}
    void ApplyAntiKeylogging(bool, const std::string&) override {}
    bool TextToSendAntiKeyloggingActive() const override { return false; }
    void FocusTextToSend() override {}
    void ShowWarning(const std::string&) override {}
    void ShowError(const std::string& text) override { std::fprintf(stderr, "error: %s\n", text.c_str()); }
    void SetBusyCursor(bool) override {}
    bool IsApplicationActive() const override { return true; }
    void FlashTaskBar() override {}

    int lines = 0;
    std::string fields[5];
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

double HandshakeStall(int bits) {
    QTemporaryDir dir;
    SilentView serverView;
    SilentView clientView;
    TChatSession server(serverView, MakeDefaultEnvironment(dir.filePath("server.conf").toStdString()));
    TChatSession client(clientView, MakeDefaultEnvironment(dir.filePath("client.conf").toStdString()));
    server.FormCreate();
    client.FormCreate();
    const int port = FreePort();
    serverView.SetFieldText(TSessionField::RSAKeySize, std::to_string(bits));
    serverView.SetFieldText(TSessionField::ListenPort, std::to_string(port));
    server.btnListenClick();
    // Key generation is not part of the handshake.
    LongestStallMs([&] { return server.isActive(); });
    clientView.SetFieldText(TSessionField::RemoteHost, "127.0.0.1");
    clientView.SetFieldText(TSessionField::RemotePort, std::to_string(port));
    client.btnConnectClick();
    return LongestStallMs([&] {
        return client.isActive() && !client.isHandshaking() && server.isActive() && !server.isHandshaking();
    });
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
    return 0;
}
