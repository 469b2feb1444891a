// The terminal's view: the log on standard output, errors and warnings on
// standard error, one escaped line each, the progress line of a transfer
// redrawn in place on standard error, and the answers to file offers.

#include <cstdint>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/savefolder.h"
#include "cli/terminalview.h"
#include "session/filetransfer.h"

namespace {

struct ViewOnStreams {
    std::ostringstream out;
    std::ostringstream err;
    TTerminalView view{out, err};
};

// A view whose progress line reads the time the test sets.
struct ViewWithProgress : ViewOnStreams {
    explicit ViewWithProgress(bool logOnTerminal) {
        view.EnableProgressLine(logOnTerminal, [this] { return now; });
    }
    int64_t now = 1000;
};

std::string Drawn(int64_t done, int64_t total, int64_t elapsedMs) {
    return "\r" + TransferStatusText(done, total, elapsedMs) + "\x1b[K";
}

const std::string kErased = "\r\x1b[K";

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
    t.view.ShowError(
        "bad\xc2\x9b"
        "text");
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

TEST(TerminalView, OfferAnswersComeFromTheHooks) {
    ViewOnStreams t;
    // No hooks: offers are refused, no file is chosen to send or to save.
    EXPECT_FALSE(t.view.AskYesNo("Peer is sending file a, size=1.  Save?"));
    EXPECT_EQ(t.view.ChooseSaveFile("a").path, "");
    EXPECT_EQ(t.view.ChooseFileToSend(), "");
    std::vector<std::string> asked;
    t.view.OnAskYesNo = [&](const std::string& question) {
        asked.push_back(question);
        return true;
    };
    t.view.OnChooseSaveFile = [](const std::string& name) { return SaveTargetIn("/in", name, false); };
    EXPECT_TRUE(t.view.AskYesNo("Peer is sending file a, size=1.  Save?"));
    const TSaveTarget target = t.view.ChooseSaveFile("a b.txt");
    EXPECT_EQ(target.path, "/in/a b.txt");
    // Never over a file there, unless --overwrite, and then only once it is whole.
    EXPECT_EQ(target.mode, TSaveMode::NewName);
    EXPECT_EQ(SaveTargetIn("/in", "a", true).mode, TSaveMode::ReplaceWhenWhole);
    EXPECT_EQ(asked, std::vector<std::string>{"Peer is sending file a, size=1.  Save?"});
    EXPECT_EQ(t.out.str(), "");
    EXPECT_EQ(t.err.str(), "");
}

TEST(TerminalView, NoProgressLineUnlessEnabled) {
    ViewOnStreams t;
    t.view.SetProgress(50);
    t.view.ShowTransferStatus(255, 510);
    t.view.ShowTransferStatus(510, 510);
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), "");
    EXPECT_EQ(t.out.str(), "");
}

TEST(TerminalView, ProgressLineIsRedrawnAtMostTenTimesASecondAndEndsWithANewline) {
    ViewWithProgress t(false);
    t.view.ShowTransferStatus(255, 10000);
    t.now = 1050;
    t.view.ShowTransferStatus(510, 10000);
    t.now = 1099;
    t.view.ShowTransferStatus(765, 10000);
    t.now = 1100;
    t.view.ShowTransferStatus(1020, 10000);
    t.now = 1150;
    // The last status is always drawn, and the line stays.
    t.view.ShowTransferStatus(10000, 10000);
    EXPECT_EQ(t.err.str(), Drawn(255, 10000, 0) + Drawn(1020, 10000, 100) + Drawn(10000, 10000, 150) + "\n");
    EXPECT_EQ(t.out.str(), "");
    // Ended already: nothing more to end.
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 10000, 0) + Drawn(1020, 10000, 100) + Drawn(10000, 10000, 150) + "\n");
}

TEST(TerminalView, ATransferThatStopsShortIsEndedByHandAndTheNextTimesItself) {
    ViewWithProgress t(false);
    t.view.ShowTransferStatus(255, 1000);
    t.now = 4000;
    t.view.ShowTransferStatus(510, 1000);
    t.view.EndProgressLine();
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 1000, 0) + Drawn(510, 1000, 3000) + "\n");
    t.err.str("");
    t.now = 9000;
    t.view.ShowTransferStatus(100, 200);
    t.now = 9500;
    t.view.ShowTransferStatus(200, 200);
    EXPECT_EQ(t.err.str(), Drawn(100, 200, 0) + Drawn(200, 200, 500) + "\n");
}

TEST(TerminalView, ProgressLineMakesWayForLinesOnTheSameTerminal) {
    ViewWithProgress t(true);
    t.view.ShowTransferStatus(255, 1000);
    t.view.AppendLog("PEER (11:01:04) : hi");
    t.now = 1050;
    t.view.ShowTransferStatus(510, 1000);
    t.now = 1100;
    t.view.ShowTransferStatus(765, 1000);
    t.view.ShowError("oops");
    // Erased by the error: no newline of its own at the end.
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 1000, 0) + kErased + Drawn(765, 1000, 100) + kErased + "oops\n");
    EXPECT_EQ(t.out.str(), "PEER (11:01:04) : hi\n");
}

TEST(TerminalView, ProgressLineStaysWhenTheLogGoesElsewhere) {
    ViewWithProgress t(false);
    t.view.ShowTransferStatus(255, 1000);
    t.view.AppendLog("Sent 255 bytes");
    t.view.ShowWarning("careful");
    t.now = 1200;
    t.view.ShowTransferStatus(510, 1000);
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 1000, 0) + kErased + "careful\n" + Drawn(510, 1000, 200) + "\n");
    EXPECT_EQ(t.out.str(), "Sent 255 bytes\n");
}
