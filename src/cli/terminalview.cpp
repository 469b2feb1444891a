#include "cli/terminalview.h"

#include "cli/terminaltext.h"

void TTerminalView::WriteLine(std::ostream& stream, const std::string& text) {
    // At once: whoever reads the other end of a pipe sees each line as it happens.
    stream << EscapeForTerminal(text) << '\n' << std::flush;
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
