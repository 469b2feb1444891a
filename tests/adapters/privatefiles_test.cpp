// Files on disk that a peer or another user could aim at: received files in
// a folder that may hold anything, the trace file with the session key, the
// settings and their folder. Nothing planted at a name is followed, waited
// on or replaced unless replacing was asked for.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QTemporaryDir>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "adapters/diskfilesystem.h"
#include "adapters/privatefiles.h"
#include "adapters/settingsfile.h"
#include "session/errors.h"
#include "session/filenames.h"
#include "support/testhelpers.h"

namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteFile(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

// What may be at a name before a file is made there.
enum class TPlanted { Nothing, RegularFile, DanglingLink, LinkToAFile, Fifo, Folder };

const TPlanted kEveryPlanting[] = {TPlanted::Nothing,     TPlanted::RegularFile, TPlanted::DanglingLink,
                                   TPlanted::LinkToAFile, TPlanted::Fifo,        TPlanted::Folder};

const char* NameOf(TPlanted planted) {
    switch (planted) {
        case TPlanted::Nothing: return "nothing";
        case TPlanted::RegularFile: return "a file";
        case TPlanted::DanglingLink: return "a dangling link";
        case TPlanted::LinkToAFile: return "a link to a file";
        case TPlanted::Fifo: return "a FIFO";
        case TPlanted::Folder: return "a folder";
    }
    return "?";
}

class OnDisk : public ::testing::Test {
protected:
    std::string PathOf(const std::string& name) const { return folder.path().toStdString() + "/" + name; }
    // Outside the folder: where a link leads.
    std::string Outside(const std::string& name) const { return elsewhere.path().toStdString() + "/" + name; }

    void Plant(TPlanted planted, const std::string& path) {
        switch (planted) {
            case TPlanted::Nothing: return;
            case TPlanted::RegularFile: WriteFile(path, "old"); return;
            case TPlanted::DanglingLink: ASSERT_EQ(::symlink(Outside("landed").c_str(), path.c_str()), 0); return;
            case TPlanted::LinkToAFile:
                WriteFile(Outside("target"), "target");
                ASSERT_EQ(::symlink(Outside("target").c_str(), path.c_str()), 0);
                return;
            case TPlanted::Fifo: ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0); return;
            case TPlanted::Folder: ASSERT_EQ(::mkdir(path.c_str(), 0700), 0); return;
        }
    }

    // Whatever a link pointed at is as it was.
    void ExpectOutsideUntouched() {
        EXPECT_EQ(ModeOf(Outside("landed")), 0u) << "a file was made through a link";
        if (ModeOf(Outside("target")) != 0) {
            EXPECT_EQ(ReadFile(Outside("target")), "target");
        }
    }

    TDiskFileSystem files;
    QTemporaryDir folder;
    QTemporaryDir elsewhere;
};

}  // namespace

TEST_F(OnDisk, ANewNameIsTheFirstFreeOneWhateverIsPlantedAtTheOffered) {
    for (const TPlanted planted : kEveryPlanting) {
        SCOPED_TRACE(NameOf(planted));
        const std::string name = std::string("new-") + std::to_string(static_cast<int>(planted)) + ".bin";
        Plant(planted, PathOf(name));
        const std::unique_ptr<IOutputFile> file = files.CreateForWriting({PathOf(name), TSaveMode::NewName});
        file->Write("new");
        const std::string expected = planted == TPlanted::Nothing ? name : NumberedFileName(name, 1);
        EXPECT_EQ(file->Path(), PathOf(expected));
        EXPECT_EQ(ReadFile(PathOf(expected)), "new");
        EXPECT_EQ(ModeOf(PathOf(expected)) & 0777, 0600u & ~CurrentUmask());
        ExpectOutsideUntouched();
    }
}

TEST_F(OnDisk, ANewNameSkipsEveryTakenNumberUpToTheBound) {
    WriteFile(PathOf("r.txt"), "0");
    for (int number = 1; number <= 3; ++number) WriteFile(PathOf(NumberedFileName("r.txt", number)), "n");
    EXPECT_EQ(files.CreateForWriting({PathOf("r.txt"), TSaveMode::NewName})->Path(), PathOf("r (4).txt"));
    // Taken between any look and the creation: the creation itself refuses to replace.
    for (int number = 5; number <= kMaxNumberedNames; ++number) WriteFile(PathOf(NumberedFileName("r.txt", number)), "n");
    EXPECT_EQ(ThrownText([&] { files.CreateForWriting({PathOf("r.txt"), TSaveMode::NewName}); }), "I/O error 17");
    EXPECT_EQ(ReadFile(PathOf("r.txt")), "0");
}

TEST_F(OnDisk, AReplacementTakesThePlaceOnlyWhenComplete) {
    for (const TPlanted planted : {TPlanted::Nothing, TPlanted::RegularFile, TPlanted::DanglingLink,
                                   TPlanted::LinkToAFile}) {
        SCOPED_TRACE(NameOf(planted));
        const std::string path = PathOf("whole-" + std::to_string(static_cast<int>(planted)));
        Plant(planted, path);
        // A part left over from before, even a planted link, goes as what it is.
        ASSERT_EQ(::symlink(Outside("landed").c_str(), (path + ".part").c_str()), 0);
        const mode_t before = ModeOf(path);
        {
            const std::unique_ptr<IOutputFile> file = files.CreateForWriting({path, TSaveMode::ReplaceWhenWhole});
            EXPECT_EQ(file->Path(), path);
            file->Write("new");
            EXPECT_EQ(ModeOf(path), before) << "replaced before it was whole";
            file->Complete();
        }
        EXPECT_TRUE(S_ISREG(ModeOf(path)));
        EXPECT_EQ(ReadFile(path), "new");
        EXPECT_EQ(ModeOf(path + ".part"), 0u);
        ExpectOutsideUntouched();
    }
}

TEST_F(OnDisk, AReplacementCutShortLeavesTheOldFileAndKeepsTheRestAsAPart) {
    const std::string path = PathOf("report.pdf");
    WriteFile(path, "old");
    files.CreateForWriting({path, TSaveMode::ReplaceWhenWhole})->Write("half");
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(ReadFile(path + ".part"), "half");
}

TEST_F(OnDisk, AChosenPathIsReplacedButAFifoOrADeviceIsRefusedAtOnce) {
    const std::string path = PathOf("chosen");
    WriteFile(path, "older and longer");
    files.CreateForWriting({path, TSaveMode::Replace})->Write("new");
    EXPECT_EQ(ReadFile(path), "new");
    Plant(TPlanted::Fifo, PathOf("fifo"));
    EXPECT_EQ(ThrownText([&] { files.CreateForWriting({PathOf("fifo"), TSaveMode::Replace}); }), "File access denied");
    EXPECT_EQ(ThrownText([&] { files.CreateForWriting({"/dev/null", TSaveMode::Replace}); }), "File access denied");
}

TEST_F(OnDisk, TheTraceFileIsPrivateAndNeverTakenThroughALinkOrFromAnother) {
    for (const TPlanted planted : kEveryPlanting) {
        SCOPED_TRACE(NameOf(planted));
        const std::string path = PathOf("trace-" + std::to_string(static_cast<int>(planted)) + ".log");
        Plant(planted, path);
        if (planted == TPlanted::RegularFile) {
            ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
        }
        const std::string thrown = ThrownText([&] { files.CreateTextFile(path)->WriteLine("AES key:secret"); });
        switch (planted) {
            case TPlanted::Nothing:
            case TPlanted::RegularFile:
                // Ours: emptied, then only this user's.
                EXPECT_EQ(thrown, "(nothing thrown)");
                EXPECT_EQ(ReadFile(path), "AES key:secret\n");
                EXPECT_EQ(ModeOf(path) & 0777, 0600u);
                break;
            case TPlanted::Folder: EXPECT_EQ(thrown, "I/O error 21"); break;
            default: EXPECT_EQ(thrown, "File access denied"); break;
        }
        ExpectOutsideUntouched();
    }
}

TEST_F(OnDisk, ThePrivateFileIsNotInheritedByChildren) {
    const int descriptor = OpenPrivateFile(PathOf("quellmere.log"));
    ASSERT_GE(descriptor, 0);
    EXPECT_NE(::fcntl(descriptor, F_GETFD) & FD_CLOEXEC, 0);
    ::close(descriptor);
}

TEST_F(OnDisk, NewSettingsAndTheirFoldersAreOnlyThisUsers) {
    const std::string folderPath = PathOf("config/quellmere");
    ASSERT_TRUE(MakePrivateFolders(folderPath));
    EXPECT_EQ(ModeOf(PathOf("config")) & 0777, 0700u & ~CurrentUmask());
    EXPECT_EQ(ModeOf(folderPath) & 0777, 0700u & ~CurrentUmask());
    // Folders already there stay as they are.
    ASSERT_EQ(::chmod(PathOf("config").c_str(), 0755), 0);
    ASSERT_TRUE(MakePrivateFolders(folderPath));
    EXPECT_EQ(ModeOf(PathOf("config")) & 0777, 0755u);

    const std::string settings = folderPath + "/quellmere.conf";
    TSettingsFile(settings).Update([](const std::string&) { return std::string("[main]\n"); });
    EXPECT_EQ(ModeOf(settings) & 0777, 0600u & ~CurrentUmask());
    // A link planted where a new settings file goes is not written through.
    const std::string planted = PathOf("planted.conf");
    ASSERT_EQ(::symlink(Outside("landed").c_str(), planted.c_str()), 0);
    EXPECT_EQ(ThrownText([&] { TSettingsFile(planted).Update([](const std::string&) { return std::string("x"); }); }),
              "Unable to write to " + planted);
    ExpectOutsideUntouched();
}
