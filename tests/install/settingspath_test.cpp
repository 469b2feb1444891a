// Where the settings file goes when no --config names one: beside the program
// while that works, else in the user's configuration folder.
#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "adapters/defaultenvironment.h"

namespace {

TSettingsPlaces Places(bool usable, std::string configHome, std::string home) {
    TSettingsPlaces places;
    places.programFolder = "/usr/bin";
    places.programFolderUsable = usable;
    places.configHome = std::move(configHome);
    places.home = std::move(home);
    return places;
}

// Sets an environment variable for one test and puts the old value back.
class TScopedEnvironment {
public:
    TScopedEnvironment(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ~TScopedEnvironment() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

}  // namespace

TEST(SettingsPath, UsableProgramFolderWinsOverTheConfigurationFolder) {
    EXPECT_EQ(ChooseSettingsPath(Places(true, "/home/ann/.cfg", "/home/ann")), "/usr/bin/quellmere.conf");
}

TEST(SettingsPath, UnusableProgramFolderFallsBackToXdgConfigHome) {
    EXPECT_EQ(ChooseSettingsPath(Places(false, "/home/ann/.cfg", "/home/ann")),
              "/home/ann/.cfg/quellmere/quellmere.conf");
}

TEST(SettingsPath, WithoutXdgConfigHomeTheDotConfigFolderOfHomeIsUsed) {
    EXPECT_EQ(ChooseSettingsPath(Places(false, "", "/home/ann")), "/home/ann/.config/quellmere/quellmere.conf");
}

TEST(SettingsPath, RelativeXdgConfigHomeIsIgnored) {
    EXPECT_EQ(ChooseSettingsPath(Places(false, "cfg", "/home/ann")), "/home/ann/.config/quellmere/quellmere.conf");
}

TEST(SettingsPath, WithNeitherVariableTheProgramFolderIsTheLastResort) {
    EXPECT_EQ(ChooseSettingsPath(Places(false, "", "")), "/usr/bin/quellmere.conf");
    EXPECT_EQ(ChooseSettingsPath(Places(false, "relative", "")), "/usr/bin/quellmere.conf");
}

TEST(SettingsPath, WritableProgramFolderKeepsTheSettingsBesideTheProgram) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const TScopedEnvironment configHome("XDG_CONFIG_HOME", "/elsewhere");
    const std::string programFolder = folder.path().toStdString();
    EXPECT_EQ(DefaultSettingsPath(programFolder), programFolder + "/quellmere.conf");
}

TEST(SettingsPath, MissingProgramFolderSendsTheSettingsToXdgConfigHome) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const TScopedEnvironment configHome("XDG_CONFIG_HOME", "/elsewhere");
    const std::string programFolder = QDir(folder.path()).filePath(QStringLiteral("gone")).toStdString();
    EXPECT_EQ(DefaultSettingsPath(programFolder), "/elsewhere/quellmere/quellmere.conf");
}

TEST(SettingsPath, ExistingFileBesideTheProgramIsKeptEvenInAReadOnlyFolder) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string programFolder = folder.path().toStdString();
    std::ofstream(programFolder + "/quellmere.conf") << "[main]\n";
    QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner);
    const TScopedEnvironment configHome("XDG_CONFIG_HOME", "/elsewhere");
    EXPECT_EQ(DefaultSettingsPath(programFolder), programFolder + "/quellmere.conf");
    QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}
