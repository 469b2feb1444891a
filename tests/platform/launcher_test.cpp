// Starting documents and programs with real files in a temporary folder;
// openers are scripts of the test's own on a PATH it sets, so no real
// application is ever started.

#include <gtest/gtest.h>

#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>

#include "platform/launcher.h"
#include "platform/desktop.h"

namespace {

constexpr int kMarkerTimeoutMs = 10000;

// Sets PATH for one test and puts the old one back.
class ScopedPath {
public:
    explicit ScopedPath(const std::string& path) {
        if (const char* old = std::getenv("PATH")) old_ = old;
        setenv("PATH", path.c_str(), 1);
    }
    ~ScopedPath() {
        if (old_)
            setenv("PATH", old_->c_str(), 1);
        else
            unsetenv("PATH");
    }
    ScopedPath(const ScopedPath&) = delete;
    ScopedPath& operator=(const ScopedPath&) = delete;

private:
    std::optional<std::string> old_;
};

// Changes the working folder for one test and goes back.
class ScopedWorkingFolder {
public:
    explicit ScopedWorkingFolder(const QString& folder) : old_(QDir::currentPath()) { QDir::setCurrent(folder); }
    ~ScopedWorkingFolder() { QDir::setCurrent(old_); }
    ScopedWorkingFolder(const ScopedWorkingFolder&) = delete;
    ScopedWorkingFolder& operator=(const ScopedWorkingFolder&) = delete;

private:
    QString old_;
};

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    std::string Path(const QString& name) const { return folder_.filePath(name).toStdString(); }

    std::string WriteFile(const QString& name, const QByteArray& content, QFile::Permissions permissions) {
        QDir().mkpath(QFileInfo(folder_.filePath(name)).path());
        QFile file(folder_.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << name.toStdString();
        file.write(content);
        file.close();
        EXPECT_TRUE(file.setPermissions(permissions));
        return Path(name);
    }

    // A shell script that writes its arguments, one a line, to the marker file.
    std::string WriteMarkerScript(const QString& name) {
        const QByteArray script = "#!/bin/sh\nprintf '%s\\n' started \"$@\" > '" +
                                  folder_.filePath(QStringLiteral("marker.tmp")).toUtf8() + "'\n/bin/mv '" +
                                  folder_.filePath(QStringLiteral("marker.tmp")).toUtf8() + "' '" +
                                  markerPath().toUtf8() + "'\n";
        return WriteFile(name, script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    QString markerPath() const { return folder_.filePath(QStringLiteral("marker")); }

    // What the started script wrote; empty if it did not run in time.
    QByteArray WaitForMarker() const {
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(markerPath()) && clock.elapsed() < kMarkerTimeoutMs) QThread::msleep(10);
        QFile marker(markerPath());
        return marker.open(QIODevice::ReadOnly) ? marker.readAll() : QByteArray();
    }

    QTemporaryDir folder_;
};

bool RunningAsRoot() { return geteuid() == 0; }

TEST(LaunchResultNumber, EachOutcomeHasTheLaunchersNumber) {
    EXPECT_EQ(LaunchResultNumber(TLaunchOutcome::Started), 42);
    EXPECT_EQ(LaunchResultNumber(TLaunchOutcome::FileNotFound), 2);
    EXPECT_EQ(LaunchResultNumber(TLaunchOutcome::PathNotFound), 3);
    EXPECT_EQ(LaunchResultNumber(TLaunchOutcome::AccessDenied), 5);
    EXPECT_EQ(LaunchResultNumber(TLaunchOutcome::NoAssociation), 31);
    EXPECT_EQ(LaunchResultNumber(TLaunchOutcome::OtherFailure), 0);
    EXPECT_GT(LaunchResultNumber(TLaunchOutcome::Started), kLaunchFailureLimit);
}

TEST_F(LauncherTest, LookupErrorsMapOntoTheirCauses) {
    EXPECT_EQ(OutcomeOfLookupError(ENOENT, Path(QStringLiteral("missing"))), TLaunchOutcome::FileNotFound);
    EXPECT_EQ(OutcomeOfLookupError(ENOENT, Path(QStringLiteral("no/such/file"))), TLaunchOutcome::PathNotFound);
    EXPECT_EQ(OutcomeOfLookupError(ENOTDIR, "/x"), TLaunchOutcome::PathNotFound);
    EXPECT_EQ(OutcomeOfLookupError(EACCES, "/x"), TLaunchOutcome::AccessDenied);
    EXPECT_EQ(OutcomeOfLookupError(EPERM, "/x"), TLaunchOutcome::AccessDenied);
    EXPECT_EQ(OutcomeOfLookupError(ELOOP, "/x"), TLaunchOutcome::OtherFailure);
}

TEST_F(LauncherTest, AMissingFileInAnExistingFolderIsTwo) {
    EXPECT_EQ(LaunchDocument(Path(QStringLiteral("vantrel.exe"))), 2);
    EXPECT_EQ(LaunchDocument(""), 2);
}

TEST_F(LauncherTest, AMissingBareNameIsTwo) {
    const ScopedPath path(folder_.path().toStdString());
    const ScopedWorkingFolder working(folder_.path());
    EXPECT_EQ(LaunchDocument("quellmere-no-such-tool"), 2);
}

TEST_F(LauncherTest, AMissingFolderOrAFileUsedAsAFolderIsThree) {
    EXPECT_EQ(LaunchDocument(Path(QStringLiteral("gone/vantrel.exe"))), 3);
    EXPECT_EQ(LaunchDocument(Path(QStringLiteral("gone/deeper/vantrel.exe"))), 3);
    WriteFile(QStringLiteral("plain.txt"), "text", QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(LaunchDocument(Path(QStringLiteral("plain.txt/vantrel.exe"))), 3);
}

TEST_F(LauncherTest, AFileThatMayNotBeReadIsFive) {
    if (RunningAsRoot()) GTEST_SKIP() << "root reads any file, so permissions cannot deny access";
    WriteFile(QStringLiteral("secret.txt"), "text", QFile::WriteOwner);
    EXPECT_EQ(LaunchDocument(Path(QStringLiteral("secret.txt"))), 5);
}

TEST_F(LauncherTest, AFolderThatMayNotBeSearchedIsFive) {
    if (RunningAsRoot()) GTEST_SKIP() << "root searches any folder, so permissions cannot deny access";
    WriteFile(QStringLiteral("locked/tool"), "text", QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(folder_.filePath(QStringLiteral("locked")), QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(LaunchDocument(Path(QStringLiteral("locked/tool"))), 5);
    QFile::setPermissions(folder_.filePath(QStringLiteral("locked")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(LauncherTest, AnExecutableIsStartedDetachedWithoutArguments) {
    const std::string script = WriteMarkerScript(QStringLiteral("vantrel"));
    EXPECT_EQ(LaunchDocument(script), 42);
    EXPECT_EQ(WaitForMarker(), QByteArray("started\n"));
}

TEST_F(LauncherTest, APathEndsAtANulByte) {
    const std::string script = WriteMarkerScript(QStringLiteral("vantrel"));
    EXPECT_EQ(LaunchDocument(script + std::string(1, '\0') + "ignored"), 42);
    EXPECT_EQ(WaitForMarker(), QByteArray("started\n"));
}

TEST_F(LauncherTest, ABareNameIsFoundInTheWorkingFolderFirst) {
    WriteMarkerScript(QStringLiteral("vantrel"));
    const ScopedPath path("/nonexistent");
    const ScopedWorkingFolder working(folder_.path());
    EXPECT_EQ(LaunchDocument("vantrel"), 42);
    EXPECT_EQ(WaitForMarker(), QByteArray("started\n"));
}

TEST_F(LauncherTest, ABareNameIsThenLookedForOnPath) {
    WriteMarkerScript(QStringLiteral("bin/vantrel"));
    WriteFile(QStringLiteral("empty/vantrel-not-here"), "", QFile::ReadOwner);
    const ScopedPath path(folder_.filePath(QStringLiteral("empty")).toStdString() + ":" +
                          folder_.filePath(QStringLiteral("bin")).toStdString());
    EXPECT_EQ(LaunchDocument("vantrel"), 42);
    EXPECT_EQ(WaitForMarker(), QByteArray("started\n"));
}

TEST_F(LauncherTest, ADocumentGoesToTheOpener) {
    const std::string document = WriteFile(QStringLiteral("notes.txt"), "text", QFile::ReadOwner | QFile::WriteOwner);
    WriteMarkerScript(QStringLiteral("bin/xdg-open"));
    const ScopedPath path(folder_.filePath(QStringLiteral("bin")).toStdString());
    EXPECT_EQ(LaunchDocument(document), 42);
    EXPECT_EQ(WaitForMarker(), QByteArray("started\n" + QByteArray::fromStdString(document) + "\n"));
}

TEST_F(LauncherTest, WithoutXdgOpenGioOpensTheDocument) {
    const std::string document = WriteFile(QStringLiteral("notes.txt"), "text", QFile::ReadOwner | QFile::WriteOwner);
    WriteMarkerScript(QStringLiteral("bin/gio"));
    const ScopedPath path(folder_.filePath(QStringLiteral("bin")).toStdString());
    EXPECT_EQ(LaunchDocument(document), 42);
    EXPECT_EQ(WaitForMarker(), QByteArray("started\nopen\n" + QByteArray::fromStdString(document) + "\n"));
}

TEST_F(LauncherTest, ADocumentWithNoOpenerIsThirtyOne) {
    const std::string document = WriteFile(QStringLiteral("notes.txt"), "text", QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(folder_.filePath(QStringLiteral("bin")));
    const ScopedPath path(folder_.filePath(QStringLiteral("bin")).toStdString());
    EXPECT_EQ(LaunchDocument(document), 31);
    EXPECT_EQ(OpenWithDefaultApplication(document), TLaunchOutcome::NoAssociation);
}

TEST_F(LauncherTest, AnExecutableTheSystemCannotRunIsZero) {
    const std::string broken = WriteFile(QStringLiteral("broken"), "#!/nonexistent/interpreter\n",
                                         QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(LaunchDocument(broken), 0);
}

TEST_F(LauncherTest, AnAddressWithoutAWindowSystemGoesToTheOpener) {
    WriteMarkerScript(QStringLiteral("bin/xdg-open"));
    const ScopedPath path(folder_.filePath(QStringLiteral("bin")).toStdString());
    OpenInBrowser("https://quellmere.example/home#readme");
    EXPECT_EQ(WaitForMarker(), QByteArray("started\nhttps://quellmere.example/home#readme\n"));
}

TEST_F(LauncherTest, OnlyExecutableFilesOnPathCount) {
    WriteFile(QStringLiteral("a/tool"), "", QFile::ReadOwner | QFile::WriteOwner);
    QDir().mkpath(folder_.filePath(QStringLiteral("b/tool")));
    const std::string found = WriteMarkerScript(QStringLiteral("c/tool"));
    const ScopedPath path(Path(QStringLiteral("a")) + ":" + Path(QStringLiteral("b")) + ":" +
                          Path(QStringLiteral("c")));
    EXPECT_EQ(FindProgramOnPath("tool"), found);
    EXPECT_EQ(FindProgramOnPath("other"), "");
}

}  // namespace
