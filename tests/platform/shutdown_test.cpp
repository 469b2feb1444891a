// The login manager backend against a private bus and a stand-in service;
// the real login manager is never reached.

#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <memory>

#include "platform/login1.h"
#include "platform/desktop.h"

namespace {

constexpr int kStartTimeoutMs = 10000;
const QByteArray kNowhere = "unix:path=/nonexistent/quellmere-tests/no-bus";

QString BusConfig(const QString& socketPath) {
    return QStringLiteral(
               "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
               " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
               "<busconfig>\n"
               "  <type>quellmere-test</type>\n"
               "  <listen>unix:path=%1</listen>\n"
               "  <auth>EXTERNAL</auth>\n"
               "  <policy context=\"default\">\n"
               "    <allow user=\"*\"/>\n"
               "    <allow own=\"*\"/>\n"
               "    <allow send_destination=\"*\"/>\n"
               "    <allow receive_sender=\"*\"/>\n"
               "  </policy>\n"
               "</busconfig>\n")
        .arg(socketPath);
}

void Stop(QProcess& process) {
    if (process.state() == QProcess::NotRunning) return;
    process.kill();
    process.waitForFinished(kStartTimeoutMs);
}

class Login1Test : public ::testing::Test {
protected:
    void SetUp() override {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed, so there is no private bus to test on";
        ASSERT_TRUE(folder_.isValid());
        const QString config = folder_.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(BusConfig(folder_.filePath(QStringLiteral("bus"))).toUtf8());
        file.close();

        bus_.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                            QStringLiteral("--print-address")});
        ASSERT_TRUE(bus_.waitForStarted(kStartTimeoutMs));
        while (!bus_.canReadLine())
            ASSERT_TRUE(bus_.waitForReadyRead(kStartTimeoutMs)) << bus_.readAllStandardError().data();
        const QByteArray address = bus_.readLine().trimmed();
        ASSERT_TRUE(address.startsWith("unix:path=" + folder_.path().toUtf8())) << address.data();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
    }

    void TearDown() override {
        Stop(service_);
        Stop(bus_);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", kNowhere);
    }

    void StartLoginManager(bool refuse = false) {
        QStringList arguments{recordPath()};
        if (refuse) arguments << QStringLiteral("--refuse");
        service_.start(QStringLiteral(FAKE_LOGIN1_PROGRAM), arguments);
        ASSERT_TRUE(service_.waitForStarted(kStartTimeoutMs));
        while (!service_.canReadLine()) ASSERT_TRUE(service_.waitForReadyRead(kStartTimeoutMs));
        ASSERT_EQ(service_.readLine(), QByteArray("ready\n"));
    }

    QString recordPath() const { return folder_.filePath(QStringLiteral("calls")); }

    QByteArray Calls() const {
        QFile file(recordPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QTemporaryDir folder_;
    QProcess bus_;
    QProcess service_;
};

TEST_F(Login1Test, PowerOffByForceAsksForANonInteractivePowerOff) {
    StartLoginManager();
    EXPECT_TRUE(RequestLogin1Exit(kExitPowerOff | kExitForce));
    EXPECT_EQ(Calls(), QByteArray("PowerOff interactive=false\n"));
}

TEST_F(Login1Test, ShutdownAndRebootFlagsPickTheirMethods) {
    StartLoginManager();
    EXPECT_TRUE(RequestLogin1Exit(kExitShutdown));
    EXPECT_TRUE(RequestLogin1Exit(kExitReboot | kExitForce));
    EXPECT_EQ(Calls(), QByteArray("PowerOff interactive=false\nReboot interactive=false\n"));
}

TEST_F(Login1Test, LoggingOffAloneIsNotOfferedAndCallsNothing) {
    StartLoginManager();
    EXPECT_FALSE(RequestLogin1Exit(kExitLogOff | kExitForce));
    EXPECT_EQ(Calls(), QByteArray());
}

TEST_F(Login1Test, ARefusalIsFalse) {
    StartLoginManager(true);
    EXPECT_FALSE(RequestLogin1Exit(12));
    EXPECT_EQ(Calls(), QByteArray("PowerOff interactive=false\n"));
}

TEST_F(Login1Test, NoLoginManagerOnTheBusIsFalse) { EXPECT_FALSE(RequestLogin1Exit(12)); }

TEST(Login1NoBus, AnUnreachableBusIsFalse) {
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", kNowhere);
    EXPECT_FALSE(RequestLogin1Exit(12));
}

}  // namespace
