#pragma once
// File transfer: an offer by name and size, the peer's answer, the file as
// encrypted hexadecimal chunks of at most 255 bytes, and an end message with
// the checksum. Chunks are read, encoded and encrypted on the worker a batch
// at a time and pulled by the conductor as the connection has room, so the
// event loop stays live and memory stays bounded whatever the file's size.

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "session/channel.h"
#include "session/environment.h"
#include "session/keyexchange.h"
#include "session/sessionport.h"
#include "session/sessionview.h"

inline constexpr std::size_t kChunkBytes = 255;
inline constexpr const char* kFileEndMarker = "**FILE_END**";

// The running checksum of a transfer from the sum of its bytes: every byte
// is added and a sum above 65535 is taken modulo 65535, which comes to this.
uint32_t TransferChecksum(uint64_t byteSum);
// An offer's size has at most this many digits: it fits 64 bits.
inline constexpr std::size_t kMaxOfferedSizeDigits = 18;

// What an offer's text says: a safe name, and its size when that is a
// decimal number.
struct TOffer {
    std::string name;
    std::optional<int64_t> size;
};
TOffer ReadOffer(const std::string& text);
// Uppercase hexadecimal, two digits a byte.
std::string HexChunk(const std::string& bytes);
// Pairs of hexadecimal digits in either case; an odd last character is ignored.
// Throws EConvertError for a pair that is not hexadecimal.
std::string DecodeHexChunk(const std::string& text);

// "12.5 MiB of 256.0 MiB, 11.3 MB/s, 0:21 left" for a status line; speed and
// time left once some time has passed.
std::string TransferStatusText(int64_t done, int64_t total, int64_t elapsedMs);

class TFileTransfer final : public IFileTransferTexts, public IFrameSource {
public:
    TFileTransfer(ISessionPort& port, ISessionView& view, IFileSystem& files, IWorker& worker,
                  TEncryptedChannel& channel, const TKeyExchange& keys)
        : port_(port), view_(view), files_(files), worker_(worker), channel_(channel), keys_(keys) {}

    bool isTransferring() const { return isTransferring_; }
    bool isReceiving() const override { return isTransferring_ && !sending_; }
    const std::string& transferFileName() const { return transferFileName_; }
    int64_t transferSize() const { return transferSize_; }
    int64_t transferredBytes() const { return transferredBytes_; }
    uint32_t transferChecksum() const { return TransferChecksum(byteSum_); }
    bool isOffering() const { return offering_; }
    bool isSending() const { return sending_; }

    // Send file: asks for a file and offers it.
    void btnSendFileClick();
    // The same with the file already chosen (a dropped file, a command).
    void OfferFile(const std::string& path);
    // Stops sending at once: the end message tells the receiver what arrived.
    void CancelSending();
    // The connection ended: an open file is closed, the state cleared.
    void ConnectionEnded();

    // IFileTransferTexts
    void FileAccepted() override;
    void FileRefused() override;
    void FileData(const std::string& text) override;
    void FileOffered(const std::string& text) override;

    // IFrameSource
    bool NextPayload(std::string& payload) override;

private:
    struct TChunk {
        std::string ciphertext;
        // Only kept when protocol detail lines are wanted.
        std::string plaintext;
        std::size_t bytes = 0;
        uint64_t byteSum = 0;
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
    void FocusTextToSendUnlessGuarded();

    ISessionPort& port_;
    ISessionView& view_;
    IFileSystem& files_;
    IWorker& worker_;
    TEncryptedChannel& channel_;
    const TKeyExchange& keys_;

    bool isTransferring_ = false;
    bool offering_ = false;
    bool sending_ = false;
    std::string transferFileName_;
    int64_t transferSize_ = 0;
    int64_t transferredBytes_ = 0;
    uint64_t byteSum_ = 0;
    // The percent last shown, so that the view hears only of changes.
    int shownPercent_ = -1;

    // Sending: the file is shared with the batch under way on the worker.
    std::shared_ptr<IInputFile> input_;
    std::deque<TChunk> ready_;
    int64_t readBytes_ = 0;
    bool readingDone_ = false;
    bool producing_ = false;
    // Counts transfers, so a batch finishing after a cancel is dropped.
    uint64_t epoch_ = 0;

    // Receiving.
    std::unique_ptr<IOutputFile> output_;
    bool writeFailed_ = false;
};
