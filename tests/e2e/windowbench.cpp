#include "windowbench.h"

#include <optional>
#include <string>

#include "testbed.h"

void TWindowBench::SetUp() {
    if (const std::optional<std::string> tool = MissingDesktopTool()) GTEST_SKIP() << *tool << " is not installed";
    ASSERT_TRUE(folder_.isValid());
    ASSERT_TRUE(desktop_.Start()) << desktop_.Transcript();
    terminalSettings_ = WriteSettings(folder_.path(), QStringLiteral("terminal.conf"), {"debug=false"});
}

QString TWindowBench::StartWindow(const QStringList& settings) {
    const QString path =
        WriteSettings(folder_.path(), QStringLiteral("window.conf"), settings + QStringList{"debug=false"});
    window_ = std::make_unique<TChildProcess>(WindowProgram(), QStringList{"--config", path, "--echo-log"});
    window_->SetEnvironment(desktop_.Environment());
    window_->SetWorkingFolder(folder_.path());
    EXPECT_TRUE(window_->Start());
    const std::optional<QString> id = desktop_.WaitForNewWindow(QStringLiteral("Quellmere"), *window_);
    EXPECT_TRUE(id.has_value()) << window_->Transcript();
    return id.value_or(QString());
}

QString TWindowBench::WaitForDialog(const QString& title) {
    const std::optional<QString> dialog = desktop_.WaitForNewWindow(title, *window_);
    EXPECT_TRUE(dialog.has_value()) << "no \"" << title.toStdString() << "\" dialog\n" << window_->Transcript();
    return dialog.value_or(QString());
}

void TWindowBench::PressKeys(const QString& window, const QString& keys) {
    ASSERT_TRUE(desktop_.Xdotool({"windowfocus", "--sync", window, "key", keys}));
}
