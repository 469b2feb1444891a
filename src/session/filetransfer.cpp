#include "session/filetransfer.h"

#include <array>
#include <cstdio>
#include <future>
#include <stdexcept>
#include <vector>

#include "cipher/textbatch.h"
#include "secure/secrettext.h"
#include "session/filenames.h"
#include "session/convert.h"
#include "session/errors.h"

namespace {

// Chunks read, encoded and encrypted in one piece of work on the worker
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

// Both cores encrypt: the two halves of a batch are independent messages.
std::vector<std::string> EncryptChunks(const std::string& key, const std::vector<std::string>& plaintexts) {
    if (plaintexts.size() < 16) return EncryptTextsUnderPassphrase(key, plaintexts);
    const auto middle = plaintexts.begin() + static_cast<std::ptrdiff_t>(plaintexts.size() / 2);
    const std::vector<std::string> first(plaintexts.begin(), middle);
    const std::vector<std::string> second(middle, plaintexts.end());
    auto other = std::async(std::launch::async, [&] { return EncryptTextsUnderPassphrase(key, second); });
    std::vector<std::string> result = EncryptTextsUnderPassphrase(key, first);
    std::vector<std::string> rest = other.get();
    result.insert(result.end(), std::make_move_iterator(rest.begin()), std::make_move_iterator(rest.end()));
    return result;
}

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

void TFileTransfer::FocusTextToSendUnlessGuarded() {
    if (!view_.TextToSendAntiKeyloggingActive()) view_.FocusTextToSend();
}

void TFileTransfer::ShowProgress() {
    const int percent = transferSize_ > 0 ? static_cast<int>(transferredBytes_ * 100 / transferSize_) : 0;
    // Per chunk this would be a million redraws of a large file; the bar only moves by whole percents.
    if (percent == shownPercent_ && transferredBytes_ != transferSize_) return;
    shownPercent_ = percent;
    view_.SetProgress(percent);
    view_.ShowTransferStatus(transferredBytes_, transferSize_);
}

// ---------------------------------------------------------------- offering

void TFileTransfer::btnSendFileClick() {
    const std::string path = view_.ChooseFileToSend();
    if (path.empty()) {
        view_.FocusTextToSend();
        return;
    }
    OfferFile(path);
}

void TFileTransfer::OfferFile(const std::string& path) {
    transferFileName_ = path;
    if (files_.OpenForReading(path)->Size() == 0) throw std::runtime_error("File is empty!");
    view_.SetTextToSendEnabled(false);
    view_.SetBusyCursor(true);
    const int64_t size = files_.OpenForReading(path)->Size();
    offering_ = true;
    channel_.sendTextToPeerEncrypted(std::string(kFileStartMarker) + BaseName(path) + "?" + Decimal(size));
    port_.AppendLog("Waiting for peer to accept file...please wait");
}

void TFileTransfer::FileRefused() {
    // An answer to nothing offered is no answer.
    if (!offering_) return;
    offering_ = false;
    port_.AppendLog("Peer rejected file");
    transferFileName_.clear();
    isTransferring_ = false;
    port_.FixControls();
    FocusTextToSendUnlessGuarded();
    view_.SetBusyCursor(false);
}

void TFileTransfer::FileAccepted() {
    if (!offering_) return;
    offering_ = false;
    isTransferring_ = true;
    port_.FixControls();
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
        port_.AppendLog("Transmitting " + transferFileName_);
        view_.SetTextToSendEnabled(false);
        view_.SetBusyCursor(true);
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
    port_.SetFrameSource(this);
}

void TFileTransfer::StartBatch() {
    producing_ = true;
    const uint64_t epoch = epoch_;
    const std::shared_ptr<IInputFile> input = input_;
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<int64_t>(transferSize_ - readBytes_, kBatchChunks * kChunkBytes));
    const bool keepPlaintext = port_.WantsDebugLines();
    worker_.Run([this, epoch, input, wanted, keepPlaintext,
                 key = std::make_shared<TSecretText>(keys_.sessionKey())]() -> std::function<void()> {
        auto batch = std::make_shared<std::vector<TChunk>>();
        std::string failure;
        std::size_t got = 0;
        try {
            const std::string bytes = input->Read(wanted);
            got = bytes.size();
            std::vector<std::string> plaintexts;
            for (std::size_t at = 0; at < bytes.size(); at += kChunkBytes) {
                const std::string piece = bytes.substr(at, kChunkBytes);
                TChunk chunk;
                chunk.bytes = piece.size();
                for (const char c : piece) chunk.byteSum += static_cast<unsigned char>(c);
                batch->push_back(std::move(chunk));
                plaintexts.push_back(HexChunk(piece));
            }
            std::vector<std::string> ciphertexts = EncryptChunks(key->str(), plaintexts);
            for (std::size_t i = 0; i < batch->size(); ++i) {
                (*batch)[i].ciphertext = std::move(ciphertexts[i]);
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
            for (TChunk& chunk : *batch) ready_.push_back(std::move(chunk));
            if (!failure.empty()) {
                port_.AppendLog("Error reading " + transferFileName_ + ": " + failure);
                readingDone_ = true;
            } else if (got < wanted || readBytes_ >= transferSize_) {
                // A file that shrank ends early; the end message tells the receiver.
                readingDone_ = true;
            }
            port_.PullFrames();
        };
    });
}

bool TFileTransfer::NextPayload(std::string& payload) {
    if (!sending_) return false;
    if (ready_.empty()) {
        if (!producing_ && !readingDone_) StartBatch();
        if (!producing_ && readingDone_) FinishSending();
        return false;
    }
    TChunk chunk = std::move(ready_.front());
    ready_.pop_front();
    if (!producing_ && !readingDone_ && ready_.size() < kBatchChunks) StartBatch();
    if (port_.WantsDebugLines()) {
        port_.DebugLine("Sending plaintext: " + chunk.plaintext);
        port_.DebugLine("Sending ciphertext: " + chunk.ciphertext);
    }
    payload = std::move(chunk.ciphertext);
    transferredBytes_ += static_cast<int64_t>(chunk.bytes);
    byteSum_ += chunk.byteSum;
    ShowProgress();
    if (port_.WantsDebugLines()) port_.DebugLine("Sent " + Decimal(transferredBytes_) + " bytes");
    return true;
}

void TFileTransfer::FinishSending() {
    input_.reset();
    const std::string path = transferFileName_;
    channel_.sendTextToPeerEncrypted(std::string(kFileEndMarker) + "?" + Decimal(transferChecksum()));
    port_.AppendLog("Transmitted file " + path);
    EndSendingState();
}

void TFileTransfer::CancelSending() {
    if (!sending_) return;
    ++epoch_;
    ready_.clear();
    producing_ = false;
    port_.AppendLog("Cancelled sending " + transferFileName_ + " after " + Decimal(transferredBytes_) + " of " +
                    Decimal(transferSize_) + " bytes");
    FinishSending();
}

void TFileTransfer::EndSendingState() {
    port_.SetFrameSource(nullptr);
    sending_ = false;
    input_.reset();
    ready_.clear();
    transferFileName_.clear();
    isTransferring_ = false;
    port_.FixControls();
    view_.FocusTextToSend();
}

// ---------------------------------------------------------------- receiving

void TFileTransfer::FileOffered(const std::string& text) {
    isTransferring_ = false;
    port_.FixControls();
    const TOffer offer = ReadOffer(text);
    if (!view_.IsApplicationActive()) view_.FlashTaskBar();
    // One file name and one transfer at a time: offers that cross cannot both be taken.
    if (offering_) {
        RefuseOffer(offer.name, "our own offer waits for its answer");
        return;
    }
    if (sending_) {
        RefuseOffer(offer.name, "our own file is on its way");
        return;
    }
    // Nothing is asked about a size that is no size.
    if (!offer.size) {
        RefuseOffer(offer.name, "its size is not a number");
        return;
    }
    // The person's answers count only for the connection they were asked on:
    // the peer may leave, and another come, while a dialog is open.
    const uint64_t connection = port_.connectionGeneration();
    const bool accepted = view_.AskYesNo("Peer is sending file " + offer.name + ", size=" + std::to_string(*offer.size) +
                                         ".  Save?");
    if (port_.connectionGeneration() != connection) return;
    if (accepted) {
        const TSaveTarget target = view_.ChooseSaveFile(offer.name);
        if (port_.connectionGeneration() != connection) return;
        if (!target.path.empty()) StartReceiving(target, *offer.size);
    }
    if (!isTransferring_) channel_.sendTextToPeerEncrypted(kFileRefused);
}

void TFileTransfer::RefuseOffer(const std::string& name, const std::string& reason) {
    port_.AppendLog("Refused file " + name + ": " + reason);
    channel_.sendTextToPeerEncrypted(kFileRefused);
}

void TFileTransfer::StartReceiving(const TSaveTarget& target, int64_t size) {
    transferSize_ = size;
    try {
        output_ = files_.CreateForWriting(target);
    } catch (const EInOutError&) {
        port_.AppendLog("Receiving file " + target.path);
        port_.AppendLog("Error opening " + target.path + " for write");
        return;
    }
    transferFileName_ = output_->Path();
    port_.AppendLog("Receiving file " + transferFileName_);
    isTransferring_ = true;
    port_.FixControls();
    view_.SetBusyCursor(true);
    channel_.sendTextToPeerEncrypted(kFileAccepted);
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
    if (writeFailed_ || !output_) return;
    try {
        output_->Write(bytes);
    } catch (const EInOutError& error) {
        writeFailed_ = true;
        port_.AppendLog("Error writing " + transferFileName_ + ": " + error.what());
        return;
    }
    transferredBytes_ += static_cast<int64_t>(bytes.size());
    for (const char c : bytes) byteSum_ += static_cast<unsigned char>(c);
    ShowProgress();
    if (port_.WantsDebugLines()) port_.DebugLine("Received " + Decimal(transferredBytes_) + " bytes");
}

void TFileTransfer::FinishReceiving(const std::string& text) {
    std::unique_ptr<IOutputFile> output = std::move(output_);
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
    if (whole && output && !writeFailed_) {
        try {
            output->Complete();
        } catch (const EInOutError& error) {
            port_.AppendLog("Error writing " + path + ": " + error.what());
        }
    }
    output.reset();
    if (whole)
        port_.AppendLog("Finished reading file ok");
    else
        port_.AppendLog("Finished reading file but received " + Decimal(transferredBytes_) + " of " +
                        Decimal(transferSize_) + ", checksum=" + Decimal(checksum) +
                        ", peer checksum=" + Decimal(peerChecksum));
    port_.FixControls();
    FocusTextToSendUnlessGuarded();
}

// ---------------------------------------------------------------- the connection ends

void TFileTransfer::ConnectionEnded() {
    if (sending_) {
        port_.AppendLog("Sending " + transferFileName_ + " stopped with the connection after " +
                        Decimal(transferredBytes_) + " of " + Decimal(transferSize_) + " bytes");
        ++epoch_;
        port_.SetFrameSource(nullptr);
        sending_ = false;
        input_.reset();
        ready_.clear();
    } else if (output_) {
        // Closed first: when the line shows, the file on disk is what it says.
        output_.reset();
        port_.AppendLog("Receiving " + transferFileName_ + " stopped with the connection after " +
                        Decimal(transferredBytes_) + " of " + Decimal(transferSize_) + " bytes");
    }
    output_.reset();
    offering_ = false;
    isTransferring_ = false;
    transferFileName_.clear();
}
