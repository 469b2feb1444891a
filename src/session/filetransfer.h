#pragma once
// File transfer: an offer by name and size, the peer's answer, the file as
// encrypted hexadecimal chunks of at most 255 bytes, and an end message with
// the checksum. Chunks are read, encoded and sealed on the worker a batch at
// a time and pulled by the wire as the connection has room, so the event
// loop stays live and memory stays bounded whatever the file's size. An
// offer of the peer is put to the person, who answers when they like.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "session/environment.h"
#include "session/recordlayer.h"
#include "session/sessionview.h"

inline constexpr std::size_t kChunkBytes = 255;
inline constexpr const char* kFileEndMarker = "**FILE_END**";

// The running checksum of a transfer from the sum of its bytes: every byte
// is added and a sum above 65535 is taken modulo 65535, which comes to this.
uint32_t TransferChecksum(uint64_t byteSum);
// Uppercase hexadecimal, two digits a byte.
std::string HexChunk(const std::string& bytes);
// Pairs of hexadecimal digits in either case; an odd last character is ignored.
// Throws EConvertError for a pair that is not hexadecimal.
std::string DecodeHexChunk(const std::string& text);

// An offer's size has at most this many digits: it fits 64 bits.
inline constexpr std::size_t kMaxOfferedSizeDigits = 18;

// What an offer's text says: a safe name, and its size when that is a
// decimal number.
struct TOffer {
    std::string name;
    std::optional<int64_t> size;
};
TOffer ReadOffer(const std::string& text);

// "12.5 MiB of 256.0 MiB, 11.3 MB/s, 0:21 left" for a status line; speed and
// time left once some time has passed.
std::string TransferStatusText(int64_t done, int64_t total, int64_t elapsedMs);

// A chunk sealed and ready to go.
struct TSealedChunk {
    std::string payload;
    // Only kept when protocol details are wanted.
    std::string plaintext;
    std::size_t bytes = 0;
    uint64_t byteSum = 0;
};

// What the transfer hands back.
class ITransferOutput {
public:
    // A plaintext of the conversation: sealed, framed and sent.
    virtual void sendTextToPeerEncrypted(const std::string& plaintext) = 0;
    virtual void Log(const std::string& line) = 0;
    virtual void Detail(std::string line) = 0;
    virtual bool WantsDetails() const = 0;
    // The flags the controls follow changed.
    virtual void StateChanged() = 0;
    // Chunks are ready: the wire may pull them (again).
    virtual void ChunksReady() = 0;
    // The record layer chunks are sealed with, for the worker.
    virtual std::shared_ptr<const IRecordLayer> RecordLayer() const = 0;
    virtual uint64_t ConnectionGeneration() const = 0;
    // For the person: a question about an offer, progress, and the window's cues.
    virtual void OfferArrived(const std::string& question, const std::string& offeredName) = 0;
    virtual void Progress(int percent, int64_t done, int64_t total) = 0;
    virtual void FocusWanted(TFocusRequest focus) = 0;
    virtual void BusyChanged(bool busy) = 0;
    virtual void TextEntryEnabled(bool enabled) = 0;
    virtual void AttentionWanted() = 0;

protected:
    ~ITransferOutput() = default;
};

class TFileTransfer {
public:
    TFileTransfer(ITransferOutput& output, IFileSystem& files, IWorker& worker)
        : output_(output), files_(files), worker_(worker) {}

    bool isTransferring() const { return isTransferring_; }
    bool isReceiving() const { return isTransferring_ && !sending_; }
    bool isOffering() const { return offering_; }
    bool isSending() const { return sending_; }
    // An offer of the peer waits for the person's answer.
    uint32_t transferChecksum() const { return TransferChecksum(byteSum_); }

    // Offers a file already chosen.
    void OfferFile(const std::string& path);
    // Stops sending at once: the end message tells the receiver what arrived.
    void CancelSending();
    // The person's answer to the offer put to them; an empty path refuses.
    void AnswerOffer(const TSaveTarget& target);
    // The connection ended: an open file is closed, the state cleared.
    void ConnectionEnded();

    // What the channel found the peer's plaintexts to be.
    void FileAccepted();
    void FileRefused();
    void FileData(const std::string& text);
    void FileOffered(const std::string& text);

    // The next chunk when one is ready; false when there is none for now.
    bool NextChunk(TSealedChunk& chunk);
    // The chunk left: the count, the progress and the detail line.
    void ChunkSent(const TSealedChunk& chunk);

private:
    friend class TSessionInspection;
    struct TAsked {
        uint64_t connection = 0;
        std::string name;
        int64_t size = 0;
    };

    void sendFile();
    void StartBatch();
    void FinishSending();
    void EndSendingState();
    void RefuseOffer(const std::string& name, const std::string& reason);
    void StartReceiving(const TSaveTarget& target, int64_t size);
    void ReceiveChunk(const std::string& text);
    void FinishReceiving(const std::string& text);
    void ShowProgress();

    ITransferOutput& output_;
    IFileSystem& files_;
    IWorker& worker_;

    bool isTransferring_ = false;
    bool offering_ = false;
    bool sending_ = false;
    std::optional<TAsked> asking_;
    std::string transferFileName_;
    int64_t transferSize_ = 0;
    int64_t transferredBytes_ = 0;
    uint64_t byteSum_ = 0;
    // The percent last shown, so that the person hears only of changes.
    int shownPercent_ = -1;

    // Sending: the file is shared with the batch under way on the worker.
    std::shared_ptr<IInputFile> input_;
    std::deque<TSealedChunk> ready_;
    int64_t readBytes_ = 0;
    bool readingDone_ = false;
    bool producing_ = false;
    // Counts transfers, so a batch finishing after a cancel is dropped.
    uint64_t epoch_ = 0;

    // Receiving.
    std::unique_ptr<IOutputFile> receivedFile_;
    bool writeFailed_ = false;
};
