// What start-up takes from the settings file, and what close does: the
// settings written back, the texts on screen overwritten, the trace file.

#include <gtest/gtest.h>

#include "fakeform.h"
#include "isaac/generalrandom.h"
#include "session/displaytext.h"

TEST(StartUp, WithoutFileTheWindowGetsTheDefaults) {
    PresenterHarness h;
    EXPECT_EQ(h.form.fields[TFormField::RSAKeySize], "1024");
    EXPECT_EQ(h.form.fields[TFormField::ListenPort], "1801");
    EXPECT_EQ(h.form.fields[TFormField::RemotePort], "1801");
    EXPECT_EQ(h.form.fields[TFormField::RemoteHost], "");
    EXPECT_TRUE(h.form.toggleDown);
    EXPECT_TRUE(h.form.antiKeyloggingActive);
    EXPECT_EQ(h.form.hint, "Toggle Anti-Keylogging (currently on)");
    EXPECT_FALSE(h.State().debugMode);
    EXPECT_EQ(h.In().sleepDuringTransfer(), 0);
    EXPECT_EQ(h.presenter->vantrelPath(), "vantrel.exe");
    EXPECT_FALSE(h.State().isActive);
    // Controls were fixed before the settings were read.
    EXPECT_GE(h.form.fixControlsCalls, 1);
    EXPECT_FALSE(h.form.lastStates.loggingButtonsVisible);
}

TEST(StartUp, AntiKeyloggingOffLeavesBothFieldsInactive) {
    PresenterHarness h("[main]\nantikeylogging=false\ndebug=true\nsaveHost=true\nremoteHost=chat.example\n");
    EXPECT_FALSE(h.form.toggleDown);
    EXPECT_FALSE(h.form.antiKeyloggingActive);
    EXPECT_EQ(h.form.hint, "Toggle Anti-Keylogging (currently off)");
    EXPECT_TRUE(h.State().debugMode);
    EXPECT_TRUE(h.presenter->saveHost());
    EXPECT_EQ(h.form.fields[TFormField::RemoteHost], "chat.example");
    h.presenter->FormShow();
    EXPECT_TRUE(h.form.lastStates.loggingButtonsVisible);
}

TEST(StartUp, ToggleButtonFollowsItsState) {
    PresenterHarness h;
    h.form.toggleDown = false;
    h.presenter->SpeedButton1Click();
    EXPECT_FALSE(h.form.antiKeyloggingActive);
    EXPECT_EQ(h.form.hint, "Toggle Anti-Keylogging (currently off)");
    h.form.toggleDown = true;
    h.presenter->SpeedButton1Click();
    EXPECT_TRUE(h.form.antiKeyloggingActive);
    EXPECT_EQ(h.form.hint, "Toggle Anti-Keylogging (currently on)");
}

TEST(Close, WithoutFileCreatesItWithTheFiveKeysInOrder) {
    PresenterHarness h;
    h.form.fields[TFormField::RSAKeySize] = "2048";
    h.form.fields[TFormField::RemoteHost] = "typed.example";
    h.form.toggleDown = false;
    EXPECT_TRUE(h.presenter->FormClose());
    EXPECT_EQ(h.settings->bytes,
              "[main]\nRsaKeySize=2048\nantikeylogging=false\nlistenPort=1801\nremotePort=1801\nremoteHost=\n");
    EXPECT_TRUE(h.form.errors.empty());
    EXPECT_TRUE(h.form.warnings.empty());
}

TEST(Close, SaveHostWritesTheHostAsTypedBeforeItIsOverwritten) {
    PresenterHarness h("[main]\nsaveHost=true\nremoteHost=old.example\n");
    h.form.fields[TFormField::RemoteHost] = "new.example";
    h.presenter->FormClose();
    EXPECT_EQ(h.settings->bytes,
              "[main]\nsaveHost=true\nremoteHost=new.example\nRsaKeySize=1024\n"
              "antikeylogging=true\nlistenPort=1801\nremotePort=1801\n");
    EXPECT_NE(h.form.fields[TFormField::RemoteHost], "new.example");
}

TEST(Close, OverwritesFieldsAndLogWithGarbage) {
    PresenterHarness h;
    h.form.fields[TFormField::RemoteHost] = "secret.example";
    h.form.fields[TFormField::TextToSend] = "secret words";
    h.form.AppendLog("one");
    h.form.AppendLog("two");
    h.form.journal.clear();

    ResetGeneralRandom();
    const std::string host = Windows1252ToUtf8(genGarbageString(255));
    const std::string text = Windows1252ToUtf8(genGarbageString(255));
    const std::string line1 = Windows1252ToUtf8(genGarbageString(255));
    const std::string line2 = Windows1252ToUtf8(genGarbageString(255));
    ResetGeneralRandom();

    h.presenter->FormClose();
    EXPECT_EQ(h.form.fields[TFormField::RemoteHost], host);
    EXPECT_EQ(h.form.fields[TFormField::TextToSend], text);
    EXPECT_EQ(h.form.journal, (std::vector<std::string>{"clear", "log:" + line1, "log:" + line2, "clear"}));
    EXPECT_TRUE(h.form.log.empty());
}

TEST(Close, UnwritableFileShowsTheErrorAndStopsThere) {
    PresenterHarness h;
    h.settings->writable = false;
    h.form.fields[TFormField::TextToSend] = "kept";
    EXPECT_TRUE(h.presenter->FormClose());
    EXPECT_EQ(h.form.errors, std::vector<std::string>{"Unable to write to /home/user/quellmere.conf"});
    EXPECT_EQ(h.form.fields[TFormField::TextToSend], "kept");
}

TEST(Close, KeepsEveryByteTheUserWroteBesidesTheFiveValues) {
    const std::string file =
        "; my settings\r\n[Main]\r\nlistenPort = 1900\r\ndebug = true\r\nnote without equals\r\n"
        "listenPort=1\r\n\r\n[other]\r\nx=1\r\n";
    PresenterHarness h(file);
    EXPECT_EQ(h.form.fields[TFormField::ListenPort], "1900");
    h.form.fields[TFormField::ListenPort] = "2000";
    h.presenter->FormClose();
    EXPECT_EQ(h.settings->bytes,
              "; my settings\r\n[Main]\r\nlistenPort = 2000\r\ndebug = true\r\n"
              "note without equals\r\nlistenPort=1\r\nRsaKeySize=1024\r\nantikeylogging=true\r\n"
              "remotePort=1801\r\nremoteHost=\r\n\r\n[other]\r\nx=1\r\n");
}

TEST(Close, ReleasesTheKey) {
    PresenterHarness h;
    h.Listen();
    ASSERT_NE(h.In().privateKey(), nullptr);
    h.presenter->FormClose();
    EXPECT_EQ(h.In().privateKey(), nullptr);
}

TEST(Close, LogFileLeftInTheWorkingFolderBringsTheWarning) {
    PresenterHarness h;
    h.fakes.files->files["quellmere.log"] = "from an earlier session\n";
    h.presenter->FormClose();
    EXPECT_EQ(h.form.warnings, std::vector<std::string>{"Warning - log file left on disk!"});
    // The file is not deleted.
    EXPECT_EQ(h.fakes.files->files["quellmere.log"], "from an earlier session\n");
}

TEST(Close, LoggingStopsAndItsFileBringsTheWarning) {
    PresenterHarness h;
    h.presenter->btnStartLoggingClick();
    ASSERT_TRUE(h.State().isLogging);
    EXPECT_TRUE(h.form.lastStates.stopLoggingEnabled);
    h.presenter->FormClose();
    EXPECT_FALSE(h.State().isLogging);
    EXPECT_EQ(h.fakes.files->openFiles, 0);
    EXPECT_EQ(h.form.warnings, std::vector<std::string>{"Warning - log file left on disk!"});
}

TEST(Garbage, CountedCharactersBelow255FromTheGeneralGenerator) {
    EXPECT_EQ(genGarbageString(0), "");
    EXPECT_EQ(genGarbageString(-4), "");
    ResetGeneralRandom();
    const std::string garbage = genGarbageString(1000);
    ASSERT_EQ(garbage.size(), 1000u);
    ResetGeneralRandom();
    for (const char c : garbage) EXPECT_EQ(static_cast<uint32_t>(static_cast<unsigned char>(c)), GeneralRandom(255));
    EXPECT_EQ(garbage.find('\xff'), std::string::npos);
}
