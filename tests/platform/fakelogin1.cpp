// A stand-in for the login manager: owns org.freedesktop.login1 on the system
// bus it is given, appends "<method> interactive=<true|false>" to the record
// file for every call, and with --refuse answers each call with an error.
// Prints "ready" once the name is owned.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QFile>
#include <QObject>
#include <cstdio>

class TFakeLoginManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    TFakeLoginManager(QString recordPath, bool refuse) : recordPath_(std::move(recordPath)), refuse_(refuse) {}

public slots:
    void PowerOff(bool interactive) { Answer("PowerOff", interactive); }
    void Reboot(bool interactive) { Answer("Reboot", interactive); }

private:
    void Answer(const char* method, bool interactive) {
        QFile record(recordPath_);
        if (record.open(QIODevice::Append)) {
            record.write(method);
            record.write(interactive ? " interactive=true\n" : " interactive=false\n");
            // On disk before the caller hears back: the error reply leaves at once.
            record.close();
        }
        if (refuse_) sendErrorReply(QDBusError::AccessDenied, QStringLiteral("Refused by the test"));
    }

    QString recordPath_;
    bool refuse_;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) return 2;
    TFakeLoginManager manager(arguments.at(1), arguments.contains(QStringLiteral("--refuse")));
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QStringLiteral("org.freedesktop.login1")))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return app.exec();
}

#include "fakelogin1.moc"
