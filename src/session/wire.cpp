#include "session/wire.h"

#include <exception>

#include "session/convert.h"
#include "session/errors.h"

namespace {

std::string Decimal(int64_t value) { return std::to_string(value); }

// "16 MiB", "64 KiB": the limits as the log names them.
std::string SizeText(std::size_t bytes) {
    if (bytes % (1024u * 1024u) == 0) return Decimal(static_cast<int64_t>(bytes / (1024u * 1024u))) + " MiB";
    return Decimal(static_cast<int64_t>(bytes / 1024u)) + " KiB";
}

}  // namespace

TWire::TWire(IWireLink& link, IWireEvents& events, ITimer& pauseTimer, ITimer& turnTimer)
    : link_(link), events_(events), pauseTimer_(pauseTimer), turnTimer_(turnTimer) {
    pauseTimer_.OnTimeout = [this] {
        SendNextWaitingFrame();
        // The last frame that waited may be all the system had to take.
        Writable();
    };
    turnTimer_.OnTimeout = [this] { Turn(); };
}

TWire::~TWire() {
    pauseTimer_.OnTimeout = nullptr;
    turnTimer_.OnTimeout = nullptr;
}

void TWire::StartCounting() {
    Forget();
    sendSequence_ = 0;
    receiveSequence_ = 0;
}

void TWire::Forget() {
    receiveBuffer_.Clear();
    readDeferred_ = false;
    turnTimer_.Stop();
    waitingFrames_.clear();
    pauseTimer_.Stop();
}

// ---------------------------------------------------------------- sending

void TWire::sendTextToPeer(const std::string& payload) {
    sendSequence_ = NextSequence(sendSequence_);
    // The peer has gone and is only being heard to its end: no one to answer.
    if (link_.PeerGone()) return;
    ISocketConnection* socket = link_.Socket();
    if (socket == nullptr) {
        events_.Log("Error sending text - not connected");
        return;
    }
    std::string frame = MakeFrame(sendSequence_, payload);
    if (pause_ <= 0) {
        socket->SendString(frame);
        return;
    }
    // The pause between frames is a timer: frames wait their turn while
    // the event loop (and the receive path) keeps running.
    if (pauseTimer_.IsActive() || !waitingFrames_.empty()) {
        waitingFrames_.push_back(std::move(frame));
        return;
    }
    socket->SendString(frame);
    pauseTimer_.Start(pause_);
}

void TWire::SendNextWaitingFrame() {
    if (waitingFrames_.empty()) return;
    ISocketConnection* socket = link_.Socket();
    if (socket == nullptr) {
        waitingFrames_.clear();
        return;
    }
    const std::string frame = std::move(waitingFrames_.front());
    waitingFrames_.pop_front();
    socket->SendString(frame);
    pauseTimer_.Start(pause_);
}

void TWire::SetFrameSource(IFrameSource* source) {
    frameSource_ = source;
    MoreToDo();
}

bool TWire::HasSendRoom() {
    ISocketConnection* socket = link_.Socket();
    if (socket == nullptr || !waitingFrames_.empty() || pauseTimer_.IsActive()) return false;
    return socket->UnsentBytes() < sendRoomBytes;
}

void TWire::FillRoom() {
    try {
        std::string payload;
        while (frameSource_ != nullptr && HasSendRoom() && frameSource_->NextPayload(payload)) sendTextToPeer(payload);
    } catch (const std::exception& error) {
        events_.ProtocolError(error.what());
    }
}

bool TWire::HasUnsentFrames() {
    if (!waitingFrames_.empty()) return true;
    ISocketConnection* socket = link_.Socket();
    return socket != nullptr && socket->UnsentBytes() > 0;
}

void TWire::Writable() {
    FillRoom();
    if (!HasUnsentFrames()) events_.Drained();
}

// ---------------------------------------------------------------- receiving

bool TWire::MayReadMore() const {
    return !receiveBuffer_.HasFrame() || receiveBuffer_.Unframed().size() < maxWaitingBytes;
}

void TWire::handleReceivedText(const std::string& data) { receiveBuffer_.Append(data); }

void TWire::Readable() {
    // While frames wait that the loop cannot take yet, the rest stays with the
    // system, which then slows the peer: memory stays bounded however much it sends.
    if (!MayReadMore()) {
        readDeferred_ = true;
        return;
    }
    if (ISocketConnection* socket = link_.Socket()) handleReceivedText(socket->ReceiveAvailable());
    Turn();
}

bool TWire::ReadRest(ISocketConnection& socket) {
    if (!events_.TakesPayloads()) return false;
    // All it sent is with the system by now, and no more comes: a bounded amount.
    for (std::string data = socket.ReceiveAvailable(); !data.empty(); data = socket.ReceiveAvailable())
        receiveBuffer_.Append(data);
    readDeferred_ = false;
    if (!receiveBuffer_.HasFrame()) return false;
    MoreToDo();
    return true;
}

void TWire::MoreToDo() {
    if (!turnTimer_.IsActive()) turnTimer_.Start(0);
}

void TWire::Turn() {
    if (readDeferred_ && MayReadMore()) {
        readDeferred_ = false;
        if (ISocketConnection* socket = link_.Socket()) handleReceivedText(socket->ReceiveAvailable());
    }
    std::string failure;
    try {
        TakeFrames();
        CheckOpenFrame();
    } catch (const std::exception& error) {
        failure = error.what();
    }
    receiveBuffer_.Compact();
    if (!failure.empty()) {
        events_.ProtocolError(failure);
        return;
    }
    // A peer that left is done with once all it said has been heard, or once
    // the rest can no longer matter (work on its key exchange would answer no one).
    if (link_.PeerGone() && (!events_.TakesPayloads() || !receiveBuffer_.HasFrame())) {
        events_.AllHeard();
        return;
    }
    FillRoom();
    ScheduleTurnIfWaiting();
}

void TWire::TakeFrames() {
    const uint64_t generation = link_.Generation();
    for (int taken = 0; taken < framesPerTurn; ++taken) {
        // A payload's handler may end the connection, or start work the rest must wait for.
        if (generation != link_.Generation() || !events_.TakesPayloads()) return;
        const std::optional<std::string> frame = receiveBuffer_.Next();
        if (!frame) return;
        TakeFrame(*frame);
    }
}

void TWire::TakeFrame(const std::string& frame) {
    const TFrameParts parts = SplitFrame(frame);
    receiveSequence_ = NextSequence(receiveSequence_);
    const int32_t received = StrToInt(parts.sequenceText);
    if (received != receiveSequence_) {
        events_.Log(receiveBuffer_.PendingFrameText());
        throw EProtocolError("Expected sequence " + Decimal(receiveSequence_) + " but received " + Decimal(received));
    }
    events_.Payload(parts.payload);
}

void TWire::CheckOpenFrame() {
    // A peer may not make us hold an endless unfinished frame.
    const std::size_t limit = events_.OpenFrameLimit();
    if (receiveBuffer_.OpenFrameBytes() > limit)
        throw EProtocolError("Peer sent more than " + SizeText(limit) + " without a frame end");
}

void TWire::ScheduleTurnIfWaiting() {
    const bool framesWait = receiveBuffer_.HasFrame() && events_.TakesPayloads();
    const bool bytesWait = readDeferred_ && MayReadMore();
    if (framesWait || bytesWait) MoreToDo();
}
