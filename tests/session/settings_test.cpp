// What start-up takes from the settings file, and what close does: the
// settings written back, the texts on screen overwritten, the trace file.

#include <gtest/gtest.h>

#include "harness.h"
#include "isaac/generalrandom.h"
#include "session/displaytext.h"

TEST(StartUp, WithoutFileTheWindowGetsTheDefaults) {
    Harness h;
    EXPECT_EQ(h.view.fields[TSessionField::RSAKeySize], "1024");
    EXPECT_EQ(h.view.fields[TSessionField::ListenPort], "1801");
    EXPECT_EQ(h.view.fields[TSessionField::RemotePort], "1801");
    EXPECT_EQ(h.view.fields[TSessionField::RemoteHost], "");
    EXPECT_TRUE(h.view.toggleDown);
    EXPECT_TRUE(h.view.antiKeyloggingActive);
    EXPECT_EQ(h.view.hint, "Toggle Anti-Keylogging (currently on)");
    EXPECT_FALSE(h.session->debugMode());
    EXPECT_EQ(h.session->sleepDuringTransfer(), 0);
    EXPECT_EQ(h.session->vantrelPath(), "vantrel.exe");
    EXPECT_FALSE(h.session->isActive());
    // Controls were fixed before the settings were read.
    EXPECT_GE(h.view.fixControlsCalls, 1);
    EXPECT_FALSE(h.view.lastStates.loggingButtonsVisible);
}

TEST(StartUp, AntiKeyloggingOffLeavesBothFieldsInactive) {
    Harness h("[main]\nantikeylogging=false\ndebug=true\nsaveHost=true\nremoteHost=chat.example\n");
    EXPECT_FALSE(h.view.toggleDown);
    EXPECT_FALSE(h.view.antiKeyloggingActive);
    EXPECT_EQ(h.view.hint, "Toggle Anti-Keylogging (currently off)");
    EXPECT_TRUE(h.session->debugMode());
    EXPECT_TRUE(h.session->saveHost());
    EXPECT_EQ(h.view.fields[TSessionField::RemoteHost], "chat.example");
    h.session->FormShow();
    EXPECT_TRUE(h.view.lastStates.loggingButtonsVisible);
}

TEST(StartUp, ToggleButtonFollowsItsState) {
    Harness h;
    h.view.toggleDown = false;
    h.session->SpeedButton1Click();
    EXPECT_FALSE(h.view.antiKeyloggingActive);
    EXPECT_EQ(h.view.hint, "Toggle Anti-Keylogging (currently off)");
    h.view.toggleDown = true;
    h.session->SpeedButton1Click();
    EXPECT_TRUE(h.view.antiKeyloggingActive);
    EXPECT_EQ(h.view.hint, "Toggle Anti-Keylogging (currently on)");
}

TEST(Close, WithoutFileCreatesItWithTheFiveKeysInOrder) {
    Harness h;
    h.view.fields[TSessionField::RSAKeySize] = "2048";
    h.view.fields[TSessionField::RemoteHost] = "typed.example";
    h.view.toggleDown = false;
    EXPECT_TRUE(h.session->FormClose());
    EXPECT_EQ(h.settings->bytes,
              "[main]\nRsaKeySize=2048\nantikeylogging=false\nlistenPort=1801\nremotePort=1801\nremoteHost=\n");
    EXPECT_TRUE(h.view.errors.empty());
    EXPECT_TRUE(h.view.warnings.empty());
}

TEST(Close, SaveHostWritesTheHostAsTypedBeforeItIsOverwritten) {
    Harness h("[main]\nsaveHost=true\nremoteHost=old.example\n");
    h.view.fields[TSessionField::RemoteHost] = "new.example";
    h.session->FormClose();
    EXPECT_EQ(h.settings->bytes,
              "[main]\nsaveHost=true\nremoteHost=new.example\nRsaKeySize=1024\n"
              "antikeylogging=true\nlistenPort=1801\nremotePort=1801\n");
    EXPECT_NE(h.view.fields[TSessionField::RemoteHost], "new.example");
}

TEST(Close, OverwritesFieldsAndLogWithGarbage) {
    Harness h;
    h.view.fields[TSessionField::RemoteHost] = "secret.example";
    h.view.fields[TSessionField::TextToSend] = "secret words";
    h.view.AppendLog("one");
    h.view.AppendLog("two");
    h.view.journal.clear();

    ResetGeneralRandom();
    const std::string host = Windows1252ToUtf8(TChatSession::genGarbageString(255));
    const std::string text = Windows1252ToUtf8(TChatSession::genGarbageString(255));
    const std::string line1 = Windows1252ToUtf8(TChatSession::genGarbageString(255));
    const std::string line2 = Windows1252ToUtf8(TChatSession::genGarbageString(255));
    ResetGeneralRandom();

    h.session->FormClose();
    EXPECT_EQ(h.view.fields[TSessionField::RemoteHost], host);
    EXPECT_EQ(h.view.fields[TSessionField::TextToSend], text);
    EXPECT_EQ(h.view.journal, (std::vector<std::string>{"clear", "log:" + line1, "log:" + line2, "clear"}));
    EXPECT_TRUE(h.view.log.empty());
}

TEST(Close, UnwritableFileShowsTheErrorAndStopsThere) {
    Harness h;
    h.settings->writable = false;
    h.view.fields[TSessionField::TextToSend] = "kept";
    EXPECT_TRUE(h.session->FormClose());
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"Unable to write to /home/user/quellmere.conf"});
    EXPECT_EQ(h.view.fields[TSessionField::TextToSend], "kept");
}

TEST(Close, KeepsEveryByteTheUserWroteBesidesTheFiveValues) {
    const std::string file =
        "; my settings\r\n[Main]\r\nlistenPort = 1900\r\ndebug = true\r\nnote without equals\r\n"
        "listenPort=1\r\n\r\n[other]\r\nx=1\r\n";
    Harness h(file);
    EXPECT_EQ(h.view.fields[TSessionField::ListenPort], "1900");
    h.view.fields[TSessionField::ListenPort] = "2000";
    h.session->FormClose();
    EXPECT_EQ(h.settings->bytes,
              "; my settings\r\n[Main]\r\nlistenPort = 2000\r\ndebug = true\r\n"
              "note without equals\r\nlistenPort=1\r\nRsaKeySize=1024\r\nantikeylogging=true\r\n"
              "remotePort=1801\r\nremoteHost=\r\n\r\n[other]\r\nx=1\r\n");
}

TEST(Close, ReleasesTheKey) {
    Harness h;
    h.Listen();
    ASSERT_NE(h.session->privateKey(), nullptr);
    h.session->FormClose();
    EXPECT_EQ(h.session->privateKey(), nullptr);
}

TEST(Close, LogFileLeftInTheWorkingFolderBringsTheWarning) {
    Harness h;
    h.files->files["quellmere.log"] = "from an earlier session\n";
    h.session->FormClose();
    EXPECT_EQ(h.view.warnings, std::vector<std::string>{"Warning - log file left on disk!"});
    // The file is not deleted.
    EXPECT_EQ(h.files->files["quellmere.log"], "from an earlier session\n");
}

TEST(Close, LoggingStopsAndItsFileBringsTheWarning) {
    Harness h;
    h.session->btnStartLoggingClick();
    ASSERT_TRUE(h.session->isLogging());
    EXPECT_TRUE(h.view.lastStates.stopLoggingEnabled);
    h.session->FormClose();
    EXPECT_FALSE(h.session->isLogging());
    EXPECT_EQ(h.files->openFiles, 0);
    EXPECT_EQ(h.view.warnings, std::vector<std::string>{"Warning - log file left on disk!"});
}

TEST(Garbage, CountedCharactersBelow255FromTheGeneralGenerator) {
    EXPECT_EQ(TChatSession::genGarbageString(0), "");
    EXPECT_EQ(TChatSession::genGarbageString(-4), "");
    ResetGeneralRandom();
    const std::string garbage = TChatSession::genGarbageString(1000);
    ASSERT_EQ(garbage.size(), 1000u);
    ResetGeneralRandom();
    for (const char c : garbage) EXPECT_EQ(static_cast<uint32_t>(static_cast<unsigned char>(c)), GeneralRandom(255));
    EXPECT_EQ(garbage.find('\xff'), std::string::npos);
}
