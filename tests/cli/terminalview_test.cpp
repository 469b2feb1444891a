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

TEST(TerminalView, LogLinesGoToStdoutOnePerLine) {
    ViewOnStreams t;
    t.view.LineLogged("Listening on port 1801");
    t.view.LineLogged("PEER (11:01:04) : hi\x1b[2J\nYOU  (fake) : x");
    const std::string shown = "Listening on port 1801\nPEER (11:01:04) : hi\\x1b[2J\\x0aYOU  (fake) : x\n";
    EXPECT_EQ(t.out.str(), shown);
    EXPECT_EQ(t.err.str(), "");
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
}

TEST(TerminalView, WhatTheConversationDecidesOnReachesTheHooks) {
    ViewOnStreams t;
    // No hooks yet: nothing happens, nothing is shown.
    t.view.StateChanged(TSessionState{});
    t.view.OfferArrived("Peer is sending file a, size=1.  Save?", "a");
    t.view.ConnectionEnded(TConnectionEnd::PeerLeft);
    t.view.OutgoingDrained();
    std::vector<std::string> seen;
    t.view.OnStateChanged = [&](const TSessionState& state) { seen.push_back(state.isActive ? "active" : "idle"); };
    t.view.OnOfferArrived = [&](const std::string& question, const std::string& name) {
        seen.push_back(question + "|" + name);
    };
    t.view.OnConnectionEnded = [&](TConnectionEnd end) { seen.push_back(end == TConnectionEnd::PeerLeft ? "left" : "?"); };
    t.view.OnOutgoingDrained = [&] { seen.push_back("drained"); };
    TSessionState active;
    active.isActive = true;
    t.view.StateChanged(active);
    t.view.OfferArrived("Peer is sending file a b.txt, size=1.  Save?", "a b.txt");
    t.view.ConnectionEnded(TConnectionEnd::PeerLeft);
    t.view.OutgoingDrained();
    EXPECT_EQ(seen, (std::vector<std::string>{"active", "Peer is sending file a b.txt, size=1.  Save?|a b.txt", "left",
                                              "drained"}));
    EXPECT_EQ(t.out.str(), "");
    EXPECT_EQ(t.err.str(), "");
}

TEST(SaveFolder, NeverOverAFileThereUnlessReplacingAndThenOnlyOnceWhole) {
    const TSaveTarget target = SaveTargetIn("/in", "a b.txt", false);
    EXPECT_EQ(target.path, "/in/a b.txt");
    EXPECT_EQ(target.mode, TSaveMode::NewName);
    EXPECT_EQ(SaveTargetIn("/in", "a", true).mode, TSaveMode::ReplaceWhenWhole);
}

TEST(TerminalView, NoProgressLineUnlessEnabled) {
    ViewOnStreams t;
    t.view.TransferProgress(0, 255, 510);
    t.view.TransferProgress(0, 510, 510);
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), "");
    EXPECT_EQ(t.out.str(), "");
}

TEST(TerminalView, ProgressLineIsRedrawnAtMostTenTimesASecondAndEndsWithANewline) {
    ViewWithProgress t(false);
    t.view.TransferProgress(0, 255, 10000);
    t.now = 1050;
    t.view.TransferProgress(0, 510, 10000);
    t.now = 1099;
    t.view.TransferProgress(0, 765, 10000);
    t.now = 1100;
    t.view.TransferProgress(0, 1020, 10000);
    t.now = 1150;
    // The last status is always drawn, and the line stays.
    t.view.TransferProgress(0, 10000, 10000);
    EXPECT_EQ(t.err.str(), Drawn(255, 10000, 0) + Drawn(1020, 10000, 100) + Drawn(10000, 10000, 150) + "\n");
    EXPECT_EQ(t.out.str(), "");
    // Ended already: nothing more to end.
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 10000, 0) + Drawn(1020, 10000, 100) + Drawn(10000, 10000, 150) + "\n");
}

TEST(TerminalView, ATransferThatStopsShortIsEndedByHandAndTheNextTimesItself) {
    ViewWithProgress t(false);
    t.view.TransferProgress(0, 255, 1000);
    t.now = 4000;
    t.view.TransferProgress(0, 510, 1000);
    t.view.EndProgressLine();
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 1000, 0) + Drawn(510, 1000, 3000) + "\n");
    t.err.str("");
    t.now = 9000;
    t.view.TransferProgress(0, 100, 200);
    t.now = 9500;
    t.view.TransferProgress(0, 200, 200);
    EXPECT_EQ(t.err.str(), Drawn(100, 200, 0) + Drawn(200, 200, 500) + "\n");
}

TEST(TerminalView, ProgressLineMakesWayForLinesOnTheSameTerminal) {
    ViewWithProgress t(true);
    t.view.TransferProgress(0, 255, 1000);
    t.view.LineLogged("PEER (11:01:04) : hi");
    t.now = 1050;
    t.view.TransferProgress(0, 510, 1000);
    t.now = 1100;
    t.view.TransferProgress(0, 765, 1000);
    t.view.ShowError("oops");
    // Erased by the error: no newline of its own at the end.
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 1000, 0) + kErased + Drawn(765, 1000, 100) + kErased + "oops\n");
    EXPECT_EQ(t.out.str(), "PEER (11:01:04) : hi\n");
}

TEST(TerminalView, ProgressLineStaysWhenTheLogGoesElsewhere) {
    ViewWithProgress t(false);
    t.view.TransferProgress(0, 255, 1000);
    t.view.LineLogged("Sent 255 bytes");
    t.view.ShowWarning("careful");
    t.now = 1200;
    t.view.TransferProgress(0, 510, 1000);
    t.view.EndProgressLine();
    EXPECT_EQ(t.err.str(), Drawn(255, 1000, 0) + kErased + "careful\n" + Drawn(510, 1000, 200) + "\n");
    EXPECT_EQ(t.out.str(), "Sent 255 bytes\n");
}
