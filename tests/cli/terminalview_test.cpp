// The terminal's view: the log on standard output, errors and warnings on
// standard error, one escaped line each, and nothing else visible.

#include <sstream>

#include <gtest/gtest.h>

#include "cli/terminalview.h"

namespace {

struct ViewOnStreams {
    std::ostringstream out;
    std::ostringstream err;
    TTerminalView view{out, err};
};

}  // namespace

TEST(TerminalView, LogLinesGoToStdoutOnePerLineAndAreCounted) {
    ViewOnStreams t;
    t.view.AppendLog("Listening on port 1801");
    t.view.AppendLog("PEER (11:01:04) : hi\x1b[2J\nYOU  (fake) : x");
    const std::string shown = "Listening on port 1801\nPEER (11:01:04) : hi\\x1b[2J\\x0aYOU  (fake) : x\n";
    EXPECT_EQ(t.out.str(), shown);
    EXPECT_EQ(t.err.str(), "");
    EXPECT_EQ(t.view.LogLineCount(), 2);
    t.view.ClearLog();
    EXPECT_EQ(t.view.LogLineCount(), 0);
    // Clearing cannot take back what the terminal has shown.
    EXPECT_EQ(t.out.str(), shown);
}

TEST(TerminalView, ErrorsAndWarningsGoToStderr) {
    ViewOnStreams t;
    t.view.ShowError("Address already in use");
    t.view.ShowWarning("Warning - key size is 512 which is weak, use 1024 at least!");
    t.view.ShowError("bad\xc2\x9b" "text");
    EXPECT_EQ(t.err.str(),
              "Address already in use\nWarning - key size is 512 which is weak, use 1024 at least!\nbad\\x9btext\n");
    EXPECT_EQ(t.out.str(), "");
    EXPECT_EQ(t.view.LogLineCount(), 0);
}

TEST(TerminalView, FieldsHoldWhatWasSet) {
    ViewOnStreams t;
    EXPECT_EQ(t.view.FieldText(TSessionField::RemoteHost), "");
    t.view.SetFieldText(TSessionField::RemoteHost, "peer.example");
    t.view.SetFieldText(TSessionField::TextToSend, "hello");
    t.view.SetFieldText(TSessionField::TextToSend, "");
    EXPECT_EQ(t.view.FieldText(TSessionField::RemoteHost), "peer.example");
    EXPECT_EQ(t.view.FieldText(TSessionField::TextToSend), "");
    EXPECT_EQ(t.view.FieldText(TSessionField::ListenPort), "");
}

TEST(TerminalView, NoAntiKeyloggingFieldAndAlwaysActive) {
    ViewOnStreams t;
    t.view.SetAntiKeyloggingToggleDown(true);
    EXPECT_TRUE(t.view.AntiKeyloggingToggleDown());
    t.view.ApplyAntiKeylogging(true, "Toggle Anti-Keylogging (currently on)");
    EXPECT_FALSE(t.view.TextToSendAntiKeyloggingActive());
    EXPECT_TRUE(t.view.IsApplicationActive());
    t.view.FocusTextToSend();
    t.view.SetBusyCursor(true);
    t.view.FlashTaskBar();
    EXPECT_EQ(t.out.str(), "");
    EXPECT_EQ(t.err.str(), "");
}

TEST(TerminalView, ControlStatesReachTheHook) {
    ViewOnStreams t;
    TControlStates states;
    states.sendingEnabled = true;
    t.view.FixControls(states);  // no hook yet: nothing happens
    std::vector<bool> seen;
    t.view.OnControlsFixed = [&](const TControlStates& applied) { seen.push_back(applied.sendingEnabled); };
    t.view.FixControls(states);
    t.view.FixControls(TControlStates{});
    EXPECT_EQ(seen, (std::vector<bool>{true, false}));
    EXPECT_EQ(t.out.str(), "");
}
