#include "session/filetransfer.h"

#include <array>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include "session/channel.h"
#include "session/convert.h"
#include "session/errors.h"
#include "session/filenames.h"

namespace {

// Chunks read, encoded and sealed in one piece of work on the worker
// (about 260 KB of file); at most about two such batches wait to be sent.
constexpr std::size_t kBatchChunks = 1024;

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Digit values by character, -1 for anything else: no branch per digit.
constexpr std::array<int8_t, 256> MakeHexValues() {
    std::array<int8_t, 256> values{};
    for (int c = 0; c < 256; ++c) values[static_cast<std::size_t>(c)] = -1;
    for (int c = '0'; c <= '9'; ++c) values[static_cast<std::size_t>(c)] = static_cast<int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) values[static_cast<std::size_t>(c)] = static_cast<int8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) values[static_cast<std::size_t>(c)] = static_cast<int8_t>(c - 'a' + 10);
    return values;
}

constexpr std::array<int8_t, 256> kHexValues = MakeHexValues();

int HexValue(char c) { return kHexValues[static_cast<unsigned char>(c)]; }

std::string Decimal(int64_t value) { return std::to_string(value); }

}  // namespace

uint32_t TransferChecksum(uint64_t byteSum) {
    // Adding byte by byte never leaves 0 once past 65535, and keeps 65535 itself.
    return byteSum == 0 ? 0 : static_cast<uint32_t>((byteSum - 1) % 65535 + 1);
}

TOffer ReadOffer(const std::string& text) {
    // After the 14-character marker: the name, "?", the size.
    const std::string rest = text.size() > 14 ? text.substr(14) : std::string();
    const std::size_t question = rest.find('?');
    TOffer offer;
    offer.name = SafeFileName(rest.substr(0, question));
    const std::string sizeText = question == std::string::npos ? std::string() : rest.substr(question + 1);
    // Decimal digits only, as the sender writes it; the digits bound it within 64 bits.
    const bool decimal = !sizeText.empty() && sizeText.size() <= kMaxOfferedSizeDigits &&
                         sizeText.find_first_not_of("0123456789") == std::string::npos;
    if (decimal) offer.size = StrToInt64(sizeText);
    return offer;
}

std::string HexChunk(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text(bytes.size() * 2, '0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        text[2 * i] = kDigits[byte >> 4];
        text[2 * i + 1] = kDigits[byte & 15];
    }
    return text;
}

std::string DecodeHexChunk(const std::string& text) {
    std::string bytes(text.size() / 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) throw EConvertError("'" + text.substr(2 * i, 2) + "' is not a valid integer value");
        bytes[i] = static_cast<char>(high * 16 + low);
    }
    return bytes;
}

std::string TransferStatusText(int64_t done, int64_t total, int64_t elapsedMs) {
    const auto mib = [](int64_t bytes) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
        return std::string(text);
    };
    std::string status = mib(done) + " of " + mib(total);
    if (elapsedMs <= 0 || done <= 0) return status;
    const double bytesPerSecond = static_cast<double>(done) * 1000.0 / static_cast<double>(elapsedMs);
    char speed[32];
    std::snprintf(speed, sizeof speed, ", %.1f MB/s", bytesPerSecond / 1e6);
    status += speed;
    if (done < total) {
        const auto left = static_cast<int64_t>(static_cast<double>(total - done) / bytesPerSecond);
        char time[48];
        std::snprintf(time, sizeof time, ", %lld:%02lld left", static_cast<long long>(left / 60),
                      static_cast<long long>(left % 60));
        status += time;
    }
    return status;
}

void TFileTransfer::ShowProgress() {
    const int percent = transferSize_ > 0 ? static_cast<int>(transferredBytes_ * 100 / transferSize_) : 0;
    // Per chunk this would be a million redraws of a large file; the bar only moves by whole percents.
    if (percent == shownPercent_ && transferredBytes_ != transferSize_) return;
    shownPercent_ = percent;
    output_.Progress(percent, transferredBytes_, transferSize_);
}

// ---------------------------------------------------------------- offering

void TFileTransfer::OfferFile(const std::string& path) {
    transferFileName_ = path;
    if (files_.OpenForReading(path)->Size() == 0) throw std::runtime_error("File is empty!");
    output_.TextEntryEnabled(false);
    output_.BusyChanged(true);
    const int64_t size = files_.OpenForReading(path)->Size();
    offering_ = true;
    output_.sendTextToPeerEncrypted(std::string(kFileStartMarker) + BaseName(path) + "?" + Decimal(size));
    output_.Log("Waiting for peer to accept file...please wait");
}

void TFileTransfer::FileRefused() {
    // An answer to nothing offered is no answer.
    if (!offering_) return;
    offering_ = false;
    output_.Log("Peer rejected file");
    transferFileName_.clear();
    isTransferring_ = false;
    output_.StateChanged();
    output_.FocusWanted(TFocusRequest::UnlessGuarded);
    output_.BusyChanged(false);
}

void TFileTransfer::FileAccepted() {
    if (!offering_) return;
    offering_ = false;
    isTransferring_ = true;
    output_.StateChanged();
    sendFile();
}

// ---------------------------------------------------------------- sending

void TFileTransfer::sendFile() {
    try {
        input_ = files_.OpenForReading(transferFileName_);
        // A file that grew since the offer goes at its size now, as announced again here.
        transferSize_ = input_->Size();
        transferredBytes_ = 0;
        shownPercent_ = -1;
        output_.Log("Transmitting " + transferFileName_);
        output_.TextEntryEnabled(false);
        output_.BusyChanged(true);
        byteSum_ = 0;
        readBytes_ = 0;
        readingDone_ = transferSize_ <= 0;
        producing_ = false;
        ready_.clear();
        sending_ = true;
        ++epoch_;
    } catch (...) {
        EndSendingState();
        throw;
    }
    output_.ChunksReady();
}

void TFileTransfer::StartBatch() {
    producing_ = true;
    const uint64_t epoch = epoch_;
    const std::shared_ptr<IInputFile> input = input_;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<int64_t>(transferSize_ - readBytes_, kBatchChunks * kChunkBytes));
    const bool keepPlaintext = output_.WantsDetails();
    worker_.Run([this, epoch, input, wanted, keepPlaintext,
                 record = output_.RecordLayer()]() -> std::function<void()> {
        auto batch = std::make_shared<std::vector<TSealedChunk>>();
        std::string failure;
        std::size_t got = 0;
        try {
            const std::string bytes = input->Read(wanted);
            got = bytes.size();
            std::vector<std::string> plaintexts;
            for (std::size_t at = 0; at < bytes.size(); at += kChunkBytes) {
                const std::string piece = bytes.substr(at, kChunkBytes);
                TSealedChunk chunk;
                chunk.bytes = piece.size();
                for (const char c : piece) chunk.byteSum += static_cast<unsigned char>(c);
                batch->push_back(std::move(chunk));
                plaintexts.push_back(HexChunk(piece));
            }
            std::vector<std::string> payloads = record->SealMany(plaintexts);
            for (std::size_t i = 0; i < batch->size(); ++i) {
                (*batch)[i].payload = std::move(payloads[i]);
                if (keepPlaintext) (*batch)[i].plaintext = std::move(plaintexts[i]);
            }
        } catch (const std::exception& error) {
            failure = error.what();
        }
        return [this, epoch, batch, failure, got, wanted] {
            // Cancelled, or the connection ended, meanwhile.
            if (epoch != epoch_ || !sending_) return;
            producing_ = false;
            readBytes_ += static_cast<int64_t>(got);
            for (TSealedChunk& chunk : *batch) ready_.push_back(std::move(chunk));
            if (!failure.empty()) {
                output_.Log("Error reading " + transferFileName_ + ": " + failure);
                readingDone_ = true;
            } else if (got < wanted || readBytes_ >= transferSize_) {
                // A file that shrank ends early; the end message tells the receiver.
                readingDone_ = true;
            }
            output_.ChunksReady();
        };
    });
}

bool TFileTransfer::NextChunk(TSealedChunk& chunk) {
    if (!sending_) return false;
    if (ready_.empty()) {
        if (!producing_ && !readingDone_) StartBatch();
        if (!producing_ && readingDone_) FinishSending();
        return false;
    }
    chunk = std::move(ready_.front());
    ready_.pop_front();
    if (!producing_ && !readingDone_ && ready_.size() < kBatchChunks) StartBatch();
    return true;
}

void TFileTransfer::ChunkSent(const TSealedChunk& chunk) {
    transferredBytes_ += static_cast<int64_t>(chunk.bytes);
    byteSum_ += chunk.byteSum;
    ShowProgress();
    if (output_.WantsDetails()) output_.Detail("Sent " + Decimal(transferredBytes_) + " bytes");
}

void TFileTransfer::FinishSending() {
    input_.reset();
    const std::string path = transferFileName_;
    output_.sendTextToPeerEncrypted(std::string(kFileEndMarker) + "?" + Decimal(transferChecksum()));
    output_.Log("Transmitted file " + path);
    EndSendingState();
}

void TFileTransfer::CancelSending() {
    if (!sending_) return;
    ++epoch_;
    ready_.clear();
    producing_ = false;
    output_.Log("Cancelled sending " + transferFileName_ + " after " + Decimal(transferredBytes_) + " of " +
                Decimal(transferSize_) + " bytes");
    FinishSending();
}

void TFileTransfer::EndSendingState() {
    sending_ = false;
    input_.reset();
    ready_.clear();
    transferFileName_.clear();
    isTransferring_ = false;
    output_.StateChanged();
    output_.FocusWanted(TFocusRequest::Always);
}

// ---------------------------------------------------------------- receiving

void TFileTransfer::FileOffered(const std::string& text) {
    isTransferring_ = false;
    output_.StateChanged();
    const TOffer offer = ReadOffer(text);
    output_.AttentionWanted();
    // One file name and one transfer at a time: offers that cross cannot both be taken.
    if (offering_) {
        RefuseOffer(offer.name, "our own offer waits for its answer");
        return;
    }
    if (sending_) {
        RefuseOffer(offer.name, "our own file is on its way");
        return;
    }
    if (asking_) {
        RefuseOffer(offer.name, "the question about " + asking_->name + " is open");
        return;
    }
    // Nothing is asked about a size that is no size.
    if (!offer.size) {
        RefuseOffer(offer.name, "its size is not a number");
        return;
    }
    // The answer counts only for the connection it was asked on: the peer
    // may leave, and another come, before the person answers.
    asking_ = TAsked{output_.ConnectionGeneration(), offer.name, *offer.size};
    output_.OfferArrived("Peer is sending file " + offer.name + ", size=" + Decimal(*offer.size) + ".  Save?",
                         offer.name);
}

void TFileTransfer::AnswerOffer(const TSaveTarget& target) {
    if (!asking_ || asking_->connection != output_.ConnectionGeneration()) return;
    const int64_t size = asking_->size;
    asking_.reset();
    if (!target.path.empty()) StartReceiving(target, size);
    if (!isTransferring_) output_.sendTextToPeerEncrypted(kFileRefused);
}

void TFileTransfer::RefuseOffer(const std::string& name, const std::string& reason) {
    output_.Log("Refused file " + name + ": " + reason);
    output_.sendTextToPeerEncrypted(kFileRefused);
}

void TFileTransfer::StartReceiving(const TSaveTarget& target, int64_t size) {
    transferSize_ = size;
    try {
        receivedFile_ = files_.CreateForWriting(target);
    } catch (const EInOutError&) {
        output_.Log("Receiving file " + target.path);
        output_.Log("Error opening " + target.path + " for write");
        return;
    }
    transferFileName_ = receivedFile_->Path();
    output_.Log("Receiving file " + transferFileName_);
    isTransferring_ = true;
    output_.StateChanged();
    output_.BusyChanged(true);
    output_.sendTextToPeerEncrypted(kFileAccepted);
    transferredBytes_ = 0;
    shownPercent_ = -1;
    byteSum_ = 0;
    writeFailed_ = false;
}

void TFileTransfer::FileData(const std::string& text) {
    if (text.compare(0, 12, kFileEndMarker) == 0)
        FinishReceiving(text);
    else
        ReceiveChunk(text);
}

void TFileTransfer::ReceiveChunk(const std::string& text) {
    // A chunk is as long as a frame may be (16 MiB of text, half as many
    // bytes), however short the sender's are; what it costs ends with it.
    const std::string bytes = DecodeHexChunk(text);
    // After a failed write nothing more is written, or counted as received.
    if (writeFailed_ || !receivedFile_) return;
    try {
        receivedFile_->Write(bytes);
    } catch (const EInOutError& error) {
        writeFailed_ = true;
        output_.Log("Error writing " + transferFileName_ + ": " + error.what());
        return;
    }
    transferredBytes_ += static_cast<int64_t>(bytes.size());
    for (const char c : bytes) byteSum_ += static_cast<unsigned char>(c);
    ShowProgress();
    if (output_.WantsDetails()) output_.Detail("Received " + Decimal(transferredBytes_) + " bytes");
}

void TFileTransfer::FinishReceiving(const std::string& text) {
    std::unique_ptr<IOutputFile> file = std::move(receivedFile_);
    const std::string path = transferFileName_;
    isTransferring_ = false;
    transferFileName_.clear();
    const std::size_t question = text.find('?');
    const std::string peerText = question == std::string::npos ? std::string() : text.substr(question + 1);
    // Within 32 bits, or the conversion error.
    const int32_t peerChecksum = StrToInt(peerText);
    const uint32_t checksum = transferChecksum();
    const bool whole = transferredBytes_ == transferSize_ && static_cast<int64_t>(peerChecksum) == checksum;
    // Only a file that arrived whole takes the place of one it replaces.
    if (whole && file && !writeFailed_) {
        try {
            file->Complete();
        } catch (const EInOutError& error) {
            output_.Log("Error writing " + path + ": " + error.what());
        }
    }
    file.reset();
    if (whole)
        output_.Log("Finished reading file ok");
    else
        output_.Log("Finished reading file but received " + Decimal(transferredBytes_) + " of " +
                    Decimal(transferSize_) + ", checksum=" + Decimal(checksum) + ", peer checksum=" +
                    Decimal(peerChecksum));
    output_.StateChanged();
    output_.FocusWanted(TFocusRequest::UnlessGuarded);
}

// ---------------------------------------------------------------- the connection ends

void TFileTransfer::ConnectionEnded() {
    if (sending_) {
        output_.Log("Sending " + transferFileName_ + " stopped with the connection after " +
                    Decimal(transferredBytes_) + " of " + Decimal(transferSize_) + " bytes");
        ++epoch_;
        sending_ = false;
        input_.reset();
        ready_.clear();
    } else if (receivedFile_) {
        // Closed first: when the line shows, the file on disk is what it says.
        receivedFile_.reset();
        output_.Log("Receiving " + transferFileName_ + " stopped with the connection after " +
                    Decimal(transferredBytes_) + " of " + Decimal(transferSize_) + " bytes");
    }
    receivedFile_.reset();
    asking_.reset();
    offering_ = false;
    isTransferring_ = false;
    transferFileName_.clear();
}
