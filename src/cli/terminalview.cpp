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

void TTerminalView::LineLogged(const std::string& line) { WriteLine(out_, line); }

void TTerminalView::StateChanged(const TSessionState& state) {
    if (OnStateChanged) OnStateChanged(state);
}

void TTerminalView::OfferArrived(const std::string& question, const std::string& offeredName) {
    if (OnOfferArrived) OnOfferArrived(question, offeredName);
}

void TTerminalView::ConnectionEnded(TConnectionEnd end) {
    if (OnConnectionEnded) OnConnectionEnded(end);
}

void TTerminalView::OutgoingDrained() {
    if (OnOutgoingDrained) OnOutgoingDrained();
}

void TTerminalView::ShowWarning(const std::string& text) { WriteLine(err_, text); }

void TTerminalView::ShowError(const std::string& text) { WriteLine(err_, text); }

void TTerminalView::EnableProgressLine(bool logOnTerminal, std::function<int64_t()> milliseconds) {
    logOnTerminal_ = logOnTerminal;
    milliseconds_ = std::move(milliseconds);
}

void TTerminalView::TransferProgress(int, int64_t done, int64_t total) {
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
