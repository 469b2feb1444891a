// The real environment of a session: the settings file and the trace file on
// disk, the worker thread, the timer and the clock.

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>
#include <thread>

#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include "adapters/diskfilesystem.h"
#include "adapters/processhardening.h"
#include "adapters/qttimer.h"
#include "adapters/settingsfile.h"
#include "adapters/systemclock.h"
#include "adapters/threadworker.h"
#include "session/errors.h"
#include "support/eventloop.h"
#include "support/testhelpers.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

class InTemporaryFolder : public ::testing::Test {
protected:
    std::string PathOf(const char* name) const { return dir.filePath(QString::fromLatin1(name)).toStdString(); }
    QTemporaryDir dir;
};

}  // namespace

using SettingsFile = InTemporaryFolder;

TEST_F(SettingsFile, MissingFileReadsEmptyAndIsCreatedOnUpdate) {
    TSettingsFile file(PathOf("quellmere.conf"));
    EXPECT_EQ(file.Read(), "");
    std::string seen = "unset";
    file.Update([&](const std::string& current) {
        seen = current;
        return std::string("[main]\nlistenPort=1\n");
    });
    EXPECT_EQ(seen, "");
    EXPECT_EQ(ReadFile(PathOf("quellmere.conf")), "[main]\nlistenPort=1\n");
}

TEST_F(SettingsFile, UpdateSeesTheBytesOnDiskAndKeepsNulsAndLineEnds) {
    const std::string bytes = std::string("[main]\r\nx=1\0y\r\n", 15);
    WriteFile(PathOf("quellmere.conf"), bytes);
    TSettingsFile file(PathOf("quellmere.conf"));
    EXPECT_EQ(file.Read(), bytes);
    file.Update([](const std::string& current) { return current + "z=2\r\n"; });
    EXPECT_EQ(ReadFile(PathOf("quellmere.conf")), bytes + "z=2\r\n");
}

TEST_F(SettingsFile, UnwritableOrUnreadableFileIsRefusedWithItsPath) {
    const std::string missingFolder = PathOf("sub") + "/quellmere.conf";
    TSettingsFile inMissingFolder(missingFolder);
    EXPECT_EQ(ThrownText([&] { inMissingFolder.Update([](const std::string&) { return std::string("x"); }); }),
              "Unable to write to " + missingFolder);

    // Something that is there but cannot be read is not replaced.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("quellmere.conf")));
    TSettingsFile folder(PathOf("quellmere.conf"));
    EXPECT_EQ(folder.Read(), "");
    bool updated = false;
    EXPECT_EQ(ThrownText([&] {
                  folder.Update([&](const std::string&) {
                      updated = true;
                      return std::string("x");
                  });
              }),
              "Unable to write to " + PathOf("quellmere.conf"));
    EXPECT_FALSE(updated);
}

TEST_F(SettingsFile, AWriteCutShortByAFullDiskLeavesTheOldSettingsWhole) {
    const std::string path = PathOf("quellmere.conf");
    const std::string old = "[main]\n; my comments\nlistenPort=1801\n";
    WriteFile(path, old);
    // In a child whose files may not grow past a few bytes, as on a full disk.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit small{16, 16};
        setrlimit(RLIMIT_FSIZE, &small);
        const std::string thrown = ThrownText([&] {
            TSettingsFile(path).Update([](const std::string& current) { return current + std::string(100, 'x'); });
        });
        _exit(thrown == "Unable to write to " + path ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"quellmere.conf"});
}

TEST_F(SettingsFile, UpdateKeepsTheFilesModeAndWritesThroughALink) {
    const std::string path = PathOf("real.conf");
    WriteFile(path, "[main]\n");
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_EQ(symlink(path.c_str(), PathOf("quellmere.conf").c_str()), 0);
    TSettingsFile(PathOf("quellmere.conf")).Update([](const std::string& current) { return current + "debug=true\n"; });
    EXPECT_EQ(ReadFile(path), "[main]\ndebug=true\n");
    struct stat written {};
    ASSERT_EQ(lstat(PathOf("quellmere.conf").c_str(), &written), 0);
    EXPECT_TRUE(S_ISLNK(written.st_mode));
    ASSERT_EQ(stat(path.c_str(), &written), 0);
    EXPECT_EQ(written.st_mode & 07777, 0640u);
}

using DiskFiles = InTemporaryFolder;

TEST_F(DiskFiles, TextFileIsCompleteWhenClosedAndEmptiedWhenCreatedAgain) {
    TDiskFileSystem files;
    const std::string path = PathOf("quellmere.log");
    EXPECT_FALSE(files.FileExists(path));
    {
        auto file = files.CreateTextFile(path);
        file->WriteLine("Sending N: 123");
        file->WriteLine(std::string("bytes \xe9\x01", 8));
    }
    EXPECT_TRUE(files.FileExists(path));
    EXPECT_EQ(ReadFile(path), std::string("Sending N: 123\nbytes \xe9\x01\n", 24));
    files.CreateTextFile(path).reset();
    EXPECT_EQ(ReadFile(path), "");
}

TEST_F(DiskFiles, CreationFailuresCarryTheRuntimeTexts) {
    TDiskFileSystem files;
    EXPECT_EQ(ThrownText([&] { files.CreateTextFile(PathOf("missing") + "/quellmere.log"); }), "File not found");
    EXPECT_EQ(ThrownText([&] { files.CreateTextFile(dir.path().toStdString()); }), "I/O error 21");
}

TEST_F(DiskFiles, FilesGoOutAndComeInByteForByte) {
    TDiskFileSystem files;
    const std::string path = PathOf("received.bin");
    std::string bytes;
    for (int i = 0; i < 70000; ++i) bytes += static_cast<char>(i * 7);
    {
        auto out = files.CreateForWriting({path, TSaveMode::Replace});
        out->Write(bytes.substr(0, 255));
        out->Write(bytes.substr(255));
    }
    // Read-only files can be offered: they are only read.
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    auto in = files.OpenForReading(path);
    EXPECT_EQ(in->Size(), 70000);
    EXPECT_EQ(in->Read(65280), bytes.substr(0, 65280));
    EXPECT_EQ(in->Read(65280), bytes.substr(65280));
    EXPECT_EQ(in->Read(10), "");
    // Writing again replaces the file.
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    files.CreateForWriting({path, TSaveMode::Replace})->Write("x");
    EXPECT_EQ(ReadFile(path), "x");
}

TEST_F(DiskFiles, OpeningFailuresCarryTheRuntimeTexts) {
    TDiskFileSystem files;
    EXPECT_EQ(ThrownText([&] { files.OpenForReading(PathOf("missing")); }), "File not found");
    EXPECT_EQ(ThrownText([&] { files.OpenForReading(dir.path().toStdString()); }), "I/O error 21");
    EXPECT_EQ(ThrownText([&] { files.CreateForWriting({PathOf("no/such/folder"), TSaveMode::Replace}); }), "File not found");
}

TEST(ThreadWorker, WorkRunsElsewhereAndItsResultComesBackOnThisThread) {
    TThreadWorker worker;
    const std::thread::id here = std::this_thread::get_id();
    std::thread::id workedOn;
    std::thread::id continuedOn;
    int result = 0;
    worker.Run([&]() -> std::function<void()> {
        workedOn = std::this_thread::get_id();
        return [&, value = 42] {
            continuedOn = std::this_thread::get_id();
            result = value;
        };
    });
    ASSERT_TRUE(RunUntil([&] { return result == 42; }));
    EXPECT_NE(workedOn, here);
    EXPECT_EQ(continuedOn, here);
}

TEST(ThreadWorker, ResultsThatHaveNotArrivedAreDroppedWithTheWorker) {
    bool continued = false;
    {
        TThreadWorker worker;
        for (int i = 0; i < 3; ++i) worker.Run([&]() -> std::function<void()> { return [&] { continued = true; }; });
    }
    // The queued results would run now if they had outlived the worker.
    QCoreApplication::processEvents();
    EXPECT_FALSE(continued);
}

TEST(QtTimer, FiresOnceAndCanBeStopped) {
    TQtTimer timer;
    int fired = 0;
    timer.OnTimeout = [&] { ++fired; };
    timer.Start(1);
    EXPECT_TRUE(timer.IsActive());
    ASSERT_TRUE(RunUntil([&] { return fired == 1; }));
    EXPECT_FALSE(timer.IsActive());

    timer.Start(1);
    timer.Stop();
    EXPECT_FALSE(timer.IsActive());
    // A later timer that does fire shows the stopped one stayed silent.
    int later = 0;
    QTimer::singleShot(20, [&] { ++later; });
    ASSERT_TRUE(RunUntil([&] { return later == 1; }));
    EXPECT_EQ(fired, 1);
}

TEST(SystemClock, TimeOfDayWithoutATimeZone) {
    const std::string text = TSystemClock().LongTimeText();
    // Hours, minutes and seconds, perhaps a day-half marker, but no zone name.
    ASSERT_GE(text.size(), 7u) << text;
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(text.front()))) << text;
    EXPECT_EQ(
        std::count_if(text.begin(), text.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }),
        text.size() >= 8 && std::isdigit(static_cast<unsigned char>(text[1])) ? 6 : 5)
        << text;
    for (const char* zone : {"UTC", "GMT", "CET", "EST", "PST"}) EXPECT_EQ(text.find(zone), std::string::npos) << text;
}

TEST(ProcessHardening, NoCoreDumpAndNotDumpable) {
    // In a child, so the test runner itself stays as it was.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ForbidCoreDumps();
        rlimit core{};
        getrlimit(RLIMIT_CORE, &core);
#if defined(__SANITIZE_ADDRESS__)
        const bool dumpableAsBuilt = true;
#else
        const bool dumpableAsBuilt = prctl(PR_GET_DUMPABLE) == 0;
#endif
        _exit(core.rlim_cur == 0 && core.rlim_max == 0 && dumpableAsBuilt ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
