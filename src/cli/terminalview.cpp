#include "cli/terminalview.h"

#include "session/displaytext.h"
#include "session/filetransfer.h"

namespace {

// About ten redraws a second: enough to see it move, little for a slow terminal.
constexpr int64_t kProgressIntervalMs = 100;
constexpr const char* kEraseToLineEnd = "\x1b[K";

}  // namespace

void TTerminalView::WriteLine(std::ostream& stream, const std::string& text) {
    // The line takes the progress line's place; the next status draws it again.
    if (lineShown_ && (&stream == &err_ || logOnTerminal_)) {
        err_ << '\r' << kEraseToLineEnd << std::flush;
        lineShown_ = false;
    }
    // At once: whoever reads the other end of a pipe sees each line as it happens.
    stream << VisibleControls(text) << '\n' << std::flush;
}

void TTerminalView::AppendLog(const std::string& line) {
    WriteLine(out_, line);
    ++logLines_;
}

void TTerminalView::FixControls(const TControlStates& states) {
    if (OnControlsFixed) OnControlsFixed(states);
}

std::string TTerminalView::FieldText(TSessionField field) const {
    const auto found = fields_.find(field);
    return found == fields_.end() ? std::string() : found->second;
}

void TTerminalView::ShowWarning(const std::string& text) { WriteLine(err_, text); }

void TTerminalView::ShowError(const std::string& text) { WriteLine(err_, text); }

void TTerminalView::ShowErrorBox(const std::string& caption, const std::string& text) {
    WriteLine(err_, caption + ":");
    const std::string lineBreak = "\r\n";
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(lineBreak, start)) != std::string::npos; start = end + lineBreak.size())
        WriteLine(err_, text.substr(start, end - start));
    WriteLine(err_, text.substr(start));
}

TSaveTarget TTerminalView::ChooseSaveFile(const std::string& offeredName) {
    return OnChooseSaveFile ? OnChooseSaveFile(offeredName) : TSaveTarget{};
}

void TTerminalView::EnableProgressLine(bool logOnTerminal, std::function<int64_t()> milliseconds) {
    logOnTerminal_ = logOnTerminal;
    milliseconds_ = std::move(milliseconds);
}

void TTerminalView::ShowTransferStatus(int64_t done, int64_t total) {
    if (!milliseconds_) return;
    const int64_t now = milliseconds_();
    if (!transferShown_) {
        transferShown_ = true;
        transferStart_ = now;
        DrawProgress(done, total, now);
    } else if (done == total || now - lastDrawn_ >= kProgressIntervalMs) {
        DrawProgress(done, total, now);
    }
    if (done == total) EndProgressLine();
}

void TTerminalView::DrawProgress(int64_t done, int64_t total, int64_t now) {
    err_ << '\r' << TransferStatusText(done, total, now - transferStart_) << kEraseToLineEnd << std::flush;
    lastDrawn_ = now;
    lineShown_ = true;
}

void TTerminalView::EndProgressLine() {
    if (lineShown_) err_ << '\n' << std::flush;
    lineShown_ = false;
    transferShown_ = false;
}
