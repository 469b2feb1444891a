#pragma once
// What the tests of the window against the terminal program share: a private
// display, a folder with the terminal's settings, the window started there
// with its message log on stdout, and keys pressed into its windows.

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include "childprocess.h"
#include "virtualdesktop.h"

class TWindowBench : public ::testing::Test {
protected:
    // Skips the test when Xvfb or xdotool is missing.
    void SetUp() override;

    // The window with these settings (and no debug lines); its id, or empty.
    QString StartWindow(const QStringList& settings);
    // A window of the window's program with this title, once it shows; empty otherwise.
    QString WaitForDialog(const QString& title);
    void PressKeys(const QString& window, const QString& keys);

    QTemporaryDir folder_;
    TVirtualDesktop desktop_;
    QString terminalSettings_;
    std::unique_ptr<TChildProcess> window_;
};
