#include "session/session.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <QMetaObject>

#include "isaac/generalrandom.h"
#include "rsa/privatekey.h"
#include "session/convert.h"
#include "session/displaytext.h"
#include "session/framing.h"
#include "session/settings.h"

namespace {

constexpr const char* kTraceFileName = "quellmere.log";
constexpr int kGarbageLength = 255;
constexpr const char* kUnframedFloodText = "Peer sent more than 16 MiB without a frame end";

std::string Decimal(int64_t value)
{
    return std::to_string(value);
}

// Secret text is overwritten before its memory goes.
void Wipe(std::string& text)
{
    std::fill(text.begin(), text.end(), '\0');
    text.clear();
}

} // namespace

// The session's trace file, open while isLogging is on.
struct TLogFile {
    std::ofstream out;
};

TChatSession::TChatSession(ISessionView& view, std::string configPath, TSessionEnvironment environment)
    : view_(view), configPath_(std::move(configPath)), client_(std::move(environment.client)),
      server_(std::move(environment.server)), pauseTimer_(std::move(environment.pauseTimer)),
      generateKey_(std::move(environment.generateKey)), payloadHandler_(std::make_unique<TIgnorePayloads>())
{
    if (!client_ || !server_ || !pauseTimer_ || !generateKey_)
        throw std::invalid_argument("TChatSession needs a client, a server, a pause timer and a key generator");

    server_->OnListen = [this] { ServerSocket1Listen(); };
    server_->OnAccept = [this](ISocketConnection& socket) { ServerSocket1Accept(socket); };
    server_->OnClientDisconnect = [this](ISocketConnection& socket) { ServerSocket1ClientDisconnect(socket); };
    server_->OnClientError = [this](ISocketConnection& socket, TErrorEvent event, int& code) {
        ServerSocket1ClientError(socket, event, code);
    };
    server_->OnClientRead = [this](ISocketConnection& socket) { ServerSocket1ClientRead(socket); };
    server_->OnException = [this](const std::string& text) { view_.ShowError(ReceivedTextForView(text)); };

    client_->OnConnect = [this](ISocketConnection& socket) { ClientSocket1Connect(socket); };
    client_->OnDisconnect = [this](ISocketConnection& socket) { ClientSocket1Disconnect(socket); };
    client_->OnError = [this](ISocketConnection& socket, TErrorEvent event, int& code) {
        ClientSocket1Error(socket, event, code);
    };
    client_->OnRead = [this](ISocketConnection& socket) { ClientSocket1Read(socket); };
    client_->OnException = [this](const std::string& text) { view_.ShowError(ReceivedTextForView(text)); };

    pauseTimer_->OnTimeout = [this] { guarded([this] { sendNextQueuedFrame(); }); };
}

TChatSession::~TChatSession()
{
    // A key being made is waited for; its result is then dropped with the context.
    joinKeyThread();
    pauseTimer_->OnTimeout = nullptr;
    server_->OnListen = nullptr;
    server_->OnAccept = server_->OnClientRead = server_->OnClientDisconnect = nullptr;
    server_->OnClientError = nullptr;
    server_->OnException = nullptr;
    client_->OnConnect = client_->OnDisconnect = client_->OnRead = nullptr;
    client_->OnError = nullptr;
    client_->OnException = nullptr;
    Wipe(sessionKey_);
}

void TChatSession::guarded(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        view_.ShowError(ReceivedTextForView(error.what()));
    } catch (...) {
        view_.ShowError("Unknown error");
    }
}

TSessionFlags TChatSession::Flags() const
{
    TSessionFlags flags;
    flags.isActive = isActive_;
    flags.isHandshaking = isHandshaking_;
    flags.isTransferring = isTransferring_;
    flags.debugMode = debugMode_;
    flags.isLogging = isLogging_;
    return flags;
}

void TChatSession::FixControls()
{
    view_.FixControls(Flags());
}

void TChatSession::flashTaskBarIfInactive()
{
    if (!view_.IsApplicationActive())
        view_.FlashTaskBar();
}

void TChatSession::SetPayloadHandler(std::unique_ptr<IPayloadHandler> handler)
{
    payloadHandler_ = handler ? std::move(handler) : std::make_unique<TIgnorePayloads>();
}

// ---------------------------------------------------------------- start and close

void TChatSession::FormCreate()
{
    guarded([this] {
        Wipe(sessionKey_);
        isActive_ = false;
        FixControls();

        const TSessionSettings settings = ReadSessionSettings(configPath_);
        view_.SetFieldText(TSessionField::RSAKeySize, settings.RsaKeySize);
        debugMode_ = settings.debug;
        sleepDuringTransfer_ = settings.sleepDuringTransfer;
        vantrelPath_ = settings.vantrelPath;
        view_.SetAntiKeyloggingToggleDown(settings.antikeylogging);
        view_.SetFieldText(TSessionField::ListenPort, settings.listenPort);
        view_.SetFieldText(TSessionField::RemotePort, settings.remotePort);
        saveHost_ = settings.saveHost;
        view_.SetFieldText(TSessionField::RemoteHost, settings.remoteHost);

        SpeedButton1Click();
    });
}

void TChatSession::FormShow()
{
    guarded([this] { FixControls(); });
}

bool TChatSession::FormClose()
{
    if (isGeneratingKey_)
        return false;
    guarded([this] {
        cleanupMemory();

        TWrittenSettings written;
        written.RsaKeySize = view_.FieldText(TSessionField::RSAKeySize);
        written.antikeylogging = view_.AntiKeyloggingToggleDown();
        written.listenPort = view_.FieldText(TSessionField::ListenPort);
        written.remotePort = view_.FieldText(TSessionField::RemotePort);
        written.remoteHost = saveHost_ ? view_.FieldText(TSessionField::RemoteHost) : std::string();
        WriteSessionSettings(configPath_, written);

        // What was shown is overwritten before the window goes.
        view_.SetFieldText(TSessionField::RemoteHost, Windows1252ToUtf8(genGarbageString(kGarbageLength)));
        view_.SetFieldText(TSessionField::TextToSend, Windows1252ToUtf8(genGarbageString(kGarbageLength)));
        const int lines = view_.LogLineCount();
        view_.ClearLog();
        for (int i = 0; i < lines; ++i)
            view_.AppendLog(Windows1252ToUtf8(genGarbageString(kGarbageLength)));
        view_.ClearLog();

        btnStopLoggingClick();

        std::error_code error;
        if (std::filesystem::exists(kTraceFileName, error))
            view_.ShowWarning("Warning - log file left on disk!");
    });
    return true;
}

void TChatSession::cleanupMemory()
{
    try {
        Wipe(sessionKey_);
        receiveBuffer_.clear();
        dropPendingFrames();
        privateKey_.reset();
    } catch (const std::exception& error) {
        view_.AppendLog(error.what());
    }
}

std::string TChatSession::genGarbageString(int count)
{
    std::string text;
    if (count <= 0)
        return text;
    text.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        text += static_cast<char>(GeneralRandom(255));
    return text;
}

void TChatSession::SpeedButton1Click()
{
    guarded([this] {
        const bool down = view_.AntiKeyloggingToggleDown();
        view_.ApplyAntiKeylogging(down, std::string("Toggle Anti-Keylogging (currently ") + (down ? "on)" : "off)"));
    });
}

void TChatSession::btnStartLoggingClick()
{
    guarded([this] {
        auto file = std::make_unique<TLogFile>();
        // Starting again empties the previous trace.
        logFile_.reset();
        errno = 0;
        file->out.open(kTraceFileName, std::ios::out | std::ios::trunc);
        if (!file->out) {
            const int code = errno;
            if (code == EACCES || code == EPERM)
                throw std::runtime_error("File access denied");
            throw std::runtime_error("I/O error " + Decimal(code));
        }
        logFile_ = std::move(file);
        isLogging_ = true;
        FixControls();
    });
}

void TChatSession::btnStopLoggingClick()
{
    guarded([this] {
        if (!isLogging_)
            return;
        logFile_.reset();
        isLogging_ = false;
        FixControls();
    });
}

// ---------------------------------------------------------------- listening

void TChatSession::btnListenClick()
{
    // Nothing else happens to the session until the key pair exists.
    if (isGeneratingKey_)
        return;
    guarded([this] {
        cleanupMemory();
        isServer_ = true;

        const std::string keySizeText = view_.FieldText(TSessionField::RSAKeySize);
        const int32_t keySize = StrToInt(keySizeText);
        if (keySize < 1024)
            view_.ShowWarning("Warning - key size is " + keySizeText + " which is weak, use 1024 at least!");

        view_.AppendLog("Generating " + keySizeText + " bit RSA key...please wait");
        view_.SetBusyCursor(true);

        // Made off this thread so the window stays live; the result comes back
        // as a queued call on this thread.
        joinKeyThread();
        isGeneratingKey_ = true;
        QObject* const context = &keyResultContext_;
        TKeyGenerator generate = generateKey_;
        try {
            keyThread_ = std::thread([this, context, generate, keySize, keySizeText] {
                // Shared, so the queued call stays copyable; only it takes the key out.
                auto key = std::make_shared<std::unique_ptr<TPrivateKey>>();
                std::string failure;
                try {
                    *key = generate(keySize);
                    if (!*key)
                        failure = "Key generation failed";
                } catch (const std::exception& error) {
                    failure = error.what();
                } catch (...) {
                    failure = "Key generation failed";
                }
                QMetaObject::invokeMethod(
                    context,
                    [this, key, failure, keySizeText] {
                        if (failure.empty())
                            listenWithKey(std::move(*key), keySizeText);
                        else
                            keyGenerationFailed(failure);
                    },
                    Qt::QueuedConnection);
            });
        } catch (...) {
            isGeneratingKey_ = false;
            view_.SetBusyCursor(false);
            throw;
        }
    });
}

void TChatSession::joinKeyThread()
{
    if (keyThread_.joinable())
        keyThread_.join();
}

void TChatSession::listenWithKey(std::unique_ptr<TPrivateKey> key, const std::string& keySizeText)
{
    isGeneratingKey_ = false;
    joinKeyThread();
    guarded([&] {
        privateKey_ = std::move(key);
        view_.AppendLog("Generated " + keySizeText + " bit RSA key ok");
        const int32_t port = StrToInt(view_.FieldText(TSessionField::ListenPort));
        server_->SetPort(port);
        server_->SetActive(true);
    });
    // Also after a failure: the busy cursor must not outlive the command.
    view_.SetBusyCursor(false);
}

void TChatSession::keyGenerationFailed(const std::string& text)
{
    isGeneratingKey_ = false;
    joinKeyThread();
    view_.SetBusyCursor(false);
    view_.ShowError(text);
}

void TChatSession::ServerSocket1Listen()
{
    guarded([this] {
        view_.AppendLog("Listening on port " + Decimal(server_->Port()));
        isActive_ = true;
        FixControls();
    });
}

// ---------------------------------------------------------------- connecting

void TChatSession::btnConnectClick()
{
    if (isGeneratingKey_)
        return;
    guarded([this] {
        isServer_ = false;
        receiveBuffer_.clear();
        sendSequence_ = 0;
        receiveSequence_ = 0;
        cleanupMemory();
        client_->SetHost(view_.FieldText(TSessionField::RemoteHost));
        client_->SetPort(StrToInt(view_.FieldText(TSessionField::RemotePort)));
        client_->SetActive(true);
    });
}

void TChatSession::ClientSocket1Connect(ISocketConnection& socket)
{
    guarded([&] {
        isActive_ = true;
        isHandshaking_ = true;
        FixControls();
        view_.AppendLog("Connected to " + socket.RemoteHostName() + ":" + Decimal(socket.RemotePortNumber()));
    });
}

void TChatSession::ServerSocket1Accept(ISocketConnection& socket)
{
    guarded([&] {
        view_.AppendLog("Connection from " + socket.RemoteHostName());
        std::string rejection;
        if (server_->ConnectionCount() >= 2) {
            ISocketConnection* first = server_->ConnectionAt(0);
            rejection = "Rejecting incoming connection as already connected to " +
                        (first != nullptr ? first->RemoteHostName() : std::string());
        } else if (!privateKey_) {
            // Without a key pair there is no public key to send.
            rejection = "Rejecting incoming connection as no RSA key exists";
        }
        if (!rejection.empty()) {
            view_.AppendLog(rejection);
            rejecting_ = &socket;
            try {
                socket.CloseConnection();
            } catch (...) {
                rejecting_ = nullptr;
                throw;
            }
            rejecting_ = nullptr;
            return;
        }

        isActive_ = true;
        isHandshaking_ = true;
        FixControls();

        keyPartsExpected_ = 0;
        receiveBuffer_.clear();
        sendSequence_ = 0;
        receiveSequence_ = 0;
        dropPendingFrames();
    });
}

void TChatSession::ServerSocket1ClientDisconnect(ISocketConnection& socket)
{
    guarded([&] {
        if (&socket == rejecting_ || server_->ConnectionAt(0) != &socket)
            return;
        view_.AppendLog("Client disconnected");
        isActive_ = false;
        dropPendingFrames();
        FixControls();
        flashTaskBarIfInactive();
    });
}

void TChatSession::ClientSocket1Disconnect(ISocketConnection&)
{
    guarded([this] {
        isActive_ = false;
        isHandshaking_ = false;
        dropPendingFrames();
        FixControls();
        view_.AppendLog("Disconnected");
        flashTaskBarIfInactive();
    });
}

void TChatSession::ServerSocket1ClientError(ISocketConnection&, TErrorEvent, int& errorCode)
{
    // The code stays as it is: the transport then reports the error itself.
    guarded([&] {
        view_.AppendLog("Socket error: " + Decimal(errorCode));
        flashTaskBarIfInactive();
    });
}

void TChatSession::ClientSocket1Error(ISocketConnection& socket, TErrorEvent errorEvent, int& errorCode)
{
    ServerSocket1ClientError(socket, errorEvent, errorCode);
}

void TChatSession::btnDisconnectClick()
{
    if (isGeneratingKey_)
        return;
    disconnectNow();
}

void TChatSession::disconnectNow()
{
    guarded([this] {
        if (client_->Active()) {
            client_->SetActive(false);
        } else if (server_->Active()) {
            if (server_->ConnectionCount() > 0) {
                if (ISocketConnection* first = server_->ConnectionAt(0))
                    first->CloseConnection();
            }
            server_->SetActive(false);
            view_.AppendLog("Disconnected");
        }
    });
    // Whatever failed above, the session ends up idle and without key material.
    cleanupMemory();
    isActive_ = false;
    isHandshaking_ = false;
    guarded([this] { FixControls(); });
    isTransferring_ = false;
}

// ---------------------------------------------------------------- frames

ISocketConnection* TChatSession::currentConnection()
{
    if (client_->Active())
        return &client_->Socket();
    if (server_->Active() && server_->ConnectionCount() > 0)
        return server_->ConnectionAt(0);
    return nullptr;
}

void TChatSession::dropPendingFrames()
{
    sendQueue_.clear();
    pauseTimer_->Stop();
}

void TChatSession::sendTextToPeer(const std::string& payload)
{
    guarded([&] {
        sendSequence_ = NextSequence(sendSequence_);
        std::string frame = MakeFrame(sendSequence_, payload);
        ISocketConnection* connection = currentConnection();
        if (connection == nullptr) {
            view_.AppendLog("Error sending text - not connected");
            return;
        }
        if (sleepDuringTransfer_ <= 0) {
            connection->SendString(frame);
            return;
        }
        // The pause between frames is a timer: frames wait their turn while
        // the event loop (and the receive path) keeps running.
        if (pauseTimer_->IsActive() || !sendQueue_.empty()) {
            sendQueue_.push_back(std::move(frame));
            return;
        }
        connection->SendString(frame);
        pauseTimer_->Start(sleepDuringTransfer_);
    });
}

void TChatSession::sendNextQueuedFrame()
{
    if (sendQueue_.empty())
        return;
    ISocketConnection* connection = currentConnection();
    if (connection == nullptr) {
        sendQueue_.clear();
        return;
    }
    const std::string frame = std::move(sendQueue_.front());
    sendQueue_.pop_front();
    connection->SendString(frame);
    pauseTimer_->Start(sleepDuringTransfer_);
}

void TChatSession::ServerSocket1ClientRead(ISocketConnection& socket)
{
    std::string data;
    guarded([&] { data = socket.ReceiveAvailable(); });
    handleReceivedText(data);
}

void TChatSession::ClientSocket1Read(ISocketConnection& socket)
{
    ServerSocket1ClientRead(socket);
}

void TChatSession::handleReceivedText(const std::string& data)
{
    std::string failure;
    try {
        receiveBuffer_ += data;
        const std::lock_guard<std::recursive_mutex> lock(receiveLock_);
        // The buffer holds no terminator between calls, so bytes without one
        // complete nothing: a long frame is not rescanned at every read.
        if (data.find(kFrameTerminator) == std::string::npos) {
            if (receiveBuffer_.size() > maxUnframedBytes)
                throw std::runtime_error(kUnframedFloodText);
            return;
        }
        processFrames();
    } catch (const std::exception& error) {
        failure = error.what();
        if (failure.empty())
            failure = "Error in received data";
    } catch (...) {
        failure = "Error in received data";
    }
    if (failure.empty())
        return;
    guarded([&] { view_.AppendLog(ReceivedTextForView(failure)); });
    // Not refused while a key is being made: a broken connection must end.
    disconnectNow();
}

void TChatSession::processFrames()
{
    for (;;) {
        std::optional<std::string> frame = TakeFrame(receiveBuffer_);
        if (!frame) {
            // A peer may not make us hold an endless unfinished frame.
            if (receiveBuffer_.size() > maxUnframedBytes)
                throw std::runtime_error(kUnframedFloodText);
            return;
        }
        TFrameParts parts = SplitFrame(*frame);
        receiveSequence_ = NextSequence(receiveSequence_);
        const int32_t received = StrToInt(parts.sequenceText);
        if (received != receiveSequence_) {
            view_.AppendLog(ReceivedTextForView(PendingFrameText(receiveBuffer_)));
            throw std::runtime_error("Expected sequence " + Decimal(receiveSequence_) + " but received " +
                                     Decimal(received));
        }
        if (!isHandshaking_)
            payloadHandler_->handleReceivedCiphertext(parts.payload);
        else if (isServer_)
            payloadHandler_->doServerHandshaking(parts.payload);
        else
            payloadHandler_->doClientHandshaking(parts.payload);
    }
}
