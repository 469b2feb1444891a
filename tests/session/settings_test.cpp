// The settings file read at start and written at close, and what close does
// to the texts on screen.

#include <fstream>
#include <sstream>

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include "harness.h"
#include "isaac/generalrandom.h"
#include "session/displaytext.h"
#include "session/settings.h"

namespace {

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Lines that hold "=", trimmed of line ends, in file order.
std::vector<std::string> KeyLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find('=') != std::string::npos)
            lines.push_back(line);
    }
    return lines;
}

// Runs a test in a working folder of its own, and goes back afterwards.
class InFolder {
public:
    explicit InFolder(const QString& path) : previous_(QDir::currentPath()) { QDir::setCurrent(path); }
    ~InFolder() { QDir::setCurrent(previous_); }

private:
    QString previous_;
};

} // namespace

TEST(SettingsFile, MissingFileGivesEveryDefault)
{
    const TSessionSettings settings = ReadSessionSettings("/nonexistent/folder/quellmere.conf");
    EXPECT_EQ(settings.RsaKeySize, "1024");
    EXPECT_FALSE(settings.debug);
    EXPECT_EQ(settings.sleepDuringTransfer, 0);
    EXPECT_EQ(settings.vantrelPath, "vantrel.exe");
    EXPECT_TRUE(settings.antikeylogging);
    EXPECT_EQ(settings.listenPort, "1801");
    EXPECT_EQ(settings.remotePort, "1801");
    EXPECT_FALSE(settings.saveHost);
    EXPECT_EQ(settings.remoteHost, "");
}

TEST(SettingsFile, NamesIgnoreCaseValuesAreTrimmedBooleansNeedExactTrue)
{
    Harness h("[MAIN]\nrsakeysize =  2048  \nDEBUG=True\nAntiKeylogging=1\nsleepDuringTransfer= 0X1f\n"
              "vantrelPath=  C:\\tools\\v.exe \nlistenport=99\nREMOTEPORT=100\n[other]\nRsaKeySize=7\n",
              false);
    const TSessionSettings settings = ReadSessionSettings(h.configPath);
    EXPECT_EQ(settings.RsaKeySize, "2048");
    EXPECT_FALSE(settings.debug);
    EXPECT_FALSE(settings.antikeylogging);
    EXPECT_EQ(settings.sleepDuringTransfer, 31);
    EXPECT_EQ(settings.vantrelPath, "C:\\tools\\v.exe");
    EXPECT_EQ(settings.listenPort, "99");
    EXPECT_EQ(settings.remotePort, "100");
}

TEST(SettingsFile, DebugOnlyWhenExactlyTrue)
{
    Harness on("[main]\ndebug=true\n", false);
    EXPECT_TRUE(ReadSessionSettings(on.configPath).debug);
    Harness off("[main]\ndebug=TRUE\n", false);
    EXPECT_FALSE(ReadSessionSettings(off.configPath).debug);
}

TEST(SettingsFile, PauseValues)
{
    for (const auto& [text, expected] : std::vector<std::pair<std::string, int32_t>>{
             {"0x10", 16}, {"abc", 0}, {"25", 25}, {"-3", -3}, {"0x", 0}, {"", 0}}) {
        Harness h("[main]\nsleepDuringTransfer=" + text + "\n", false);
        EXPECT_EQ(ReadSessionSettings(h.configPath).sleepDuringTransfer, expected) << text;
    }
}

TEST(SettingsFile, ValuesAreCutAt2047Characters)
{
    const std::string longPath(3000, 'p');
    Harness h("[main]\nvantrelPath=" + longPath + "\n", false);
    EXPECT_EQ(ReadSessionSettings(h.configPath).vantrelPath, longPath.substr(0, 2047));
}

TEST(SettingsFile, RemoteHostIsReadOnlyWithSaveHost)
{
    Harness with("[main]\nsaveHost=true\nremoteHost=chat.example\n", false);
    EXPECT_EQ(ReadSessionSettings(with.configPath).remoteHost, "chat.example");
    Harness without("[main]\nremoteHost=chat.example\n", false);
    EXPECT_EQ(ReadSessionSettings(without.configPath).remoteHost, "");
}

TEST(SettingsFile, WriteKeepsOtherSectionsAndKeys)
{
    Harness h("; my settings\n[main]\ndebug=true\nRsaKeySize=512\nvantrelPath=v.exe\n[extra]\nkeep=me\n", false);
    TWrittenSettings written{"4096", false, "2000", "2001", "host.example"};
    WriteSessionSettings(h.configPath, written);
    const std::string text = ReadFile(h.configPath);
    EXPECT_NE(text.find("; my settings"), std::string::npos);
    EXPECT_EQ(KeyLines(text), (std::vector<std::string>{"debug=true", "RsaKeySize=4096", "vantrelPath=v.exe",
                                                        "antikeylogging=false", "listenPort=2000",
                                                        "remotePort=2001", "remoteHost=host.example", "keep=me"}));
}

TEST(SettingsFile, WriteFailureNamesTheFile)
{
    const std::string path = "/nonexistent/folder/quellmere.conf";
    try {
        WriteSessionSettings(path, TWrittenSettings{});
        FAIL() << "writing into a missing folder succeeded";
    } catch (const ESettingsWriteError& error) {
        EXPECT_EQ(std::string(error.what()), "Unable to write to " + path);
    }
}

TEST(StartUp, WithoutFileTheWindowGetsTheDefaults)
{
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
    EXPECT_FALSE(h.view.lastFlags.debugMode);
}

TEST(StartUp, AntiKeyloggingOffLeavesBothFieldsInactive)
{
    Harness h("[main]\nantikeylogging=false\ndebug=true\nsaveHost=true\nremoteHost=chat.example\n");
    EXPECT_FALSE(h.view.toggleDown);
    EXPECT_FALSE(h.view.antiKeyloggingActive);
    EXPECT_EQ(h.view.hint, "Toggle Anti-Keylogging (currently off)");
    EXPECT_TRUE(h.session->debugMode());
    EXPECT_TRUE(h.session->saveHost());
    EXPECT_EQ(h.view.fields[TSessionField::RemoteHost], "chat.example");
    h.session->FormShow();
    EXPECT_TRUE(h.view.lastFlags.debugMode);
}

TEST(StartUp, ToggleButtonFollowsItsState)
{
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

TEST(Close, WithoutFileCreatesItWithTheFiveKeysInOrder)
{
    Harness h;
    InFolder folder(h.dir.path());
    h.view.fields[TSessionField::RSAKeySize] = "2048";
    h.view.fields[TSessionField::RemoteHost] = "typed.example";
    h.view.toggleDown = false;
    EXPECT_TRUE(h.session->FormClose());
    EXPECT_EQ(KeyLines(ReadFile(h.configPath)),
              (std::vector<std::string>{"RsaKeySize=2048", "antikeylogging=false", "listenPort=1801",
                                        "remotePort=1801", "remoteHost="}));
    EXPECT_TRUE(h.view.errors.empty());
    EXPECT_TRUE(h.view.warnings.empty());
}

TEST(Close, SaveHostWritesTheHostAsTypedBeforeItIsOverwritten)
{
    Harness h("[main]\nsaveHost=true\nremoteHost=old.example\n");
    InFolder folder(h.dir.path());
    h.view.fields[TSessionField::RemoteHost] = "new.example";
    h.session->FormClose();
    const std::vector<std::string> lines = KeyLines(ReadFile(h.configPath));
    EXPECT_NE(std::find(lines.begin(), lines.end(), "remoteHost=new.example"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "saveHost=true"), lines.end());
    EXPECT_NE(h.view.fields[TSessionField::RemoteHost], "new.example");
}

TEST(Close, OverwritesFieldsAndLogWithGarbage)
{
    Harness h;
    InFolder folder(h.dir.path());
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

TEST(Close, UnwritableFileShowsTheErrorAndStopsThere)
{
    Harness h;
    const std::string folderPath = h.dir.filePath("sub").toStdString();
    TChatSession session(h.view, folderPath + "/quellmere.conf", TSessionEnvironment{
        std::make_unique<FakeClientSocket>(), std::make_unique<FakeServerSocket>(),
        std::make_unique<FakePauseTimer>(), [](int32_t) { return std::make_unique<TPrivateKey>(kTestKeyBits); }});
    h.view.fields[TSessionField::TextToSend] = "kept";
    EXPECT_TRUE(session.FormClose());
    EXPECT_EQ(h.view.errors, std::vector<std::string>{"Unable to write to " + folderPath + "/quellmere.conf"});
    EXPECT_EQ(h.view.fields[TSessionField::TextToSend], "kept");
}

TEST(Close, ReleasesTheKey)
{
    Harness h;
    InFolder folder(h.dir.path());
    h.Listen();
    ASSERT_NE(h.session->privateKey(), nullptr);
    h.session->FormClose();
    EXPECT_EQ(h.session->privateKey(), nullptr);
}

TEST(Close, LogFileLeftInTheWorkingFolderBringsTheWarning)
{
    Harness h;
    QTemporaryDir work;
    InFolder folder(work.path());
    {
        QFile left(work.filePath("quellmere.log"));
        ASSERT_TRUE(left.open(QIODevice::WriteOnly));
    }
    h.session->FormClose();
    EXPECT_EQ(h.view.warnings, std::vector<std::string>{"Warning - log file left on disk!"});
    // The file is not deleted.
    EXPECT_TRUE(QFile::exists(work.filePath("quellmere.log")));
}

TEST(Close, LoggingStopsAndItsFileBringsTheWarning)
{
    Harness h;
    QTemporaryDir work;
    InFolder folder(work.path());
    h.session->btnStartLoggingClick();
    ASSERT_TRUE(h.session->isLogging());
    EXPECT_TRUE(h.view.lastFlags.isLogging);
    h.session->FormClose();
    EXPECT_FALSE(h.session->isLogging());
    EXPECT_EQ(h.view.warnings, std::vector<std::string>{"Warning - log file left on disk!"});
}

TEST(Garbage, CountedCharactersBelow255FromTheGeneralGenerator)
{
    EXPECT_EQ(TChatSession::genGarbageString(0), "");
    EXPECT_EQ(TChatSession::genGarbageString(-4), "");
    ResetGeneralRandom();
    const std::string garbage = TChatSession::genGarbageString(1000);
    ASSERT_EQ(garbage.size(), 1000u);
    ResetGeneralRandom();
    for (const char c : garbage)
        EXPECT_EQ(static_cast<uint32_t>(static_cast<unsigned char>(c)), GeneralRandom(255));
    EXPECT_EQ(garbage.find('\xff'), std::string::npos);
}
