// A stand-in for logind on a private bus, for the sleep inhibitor's tests: Manager.Inhibit
// hands out one end of a pipe and keeps the other, so it sees the inhibitor go when the
// client closes its end. ActiveInhibitors lists those still held as "what|who|why|mode".
// FAKE_LOGIN1_REFUSE=1 refuses every Inhibit, FAKE_LOGIN1_REFUSE_SHUTDOWN=1 those that
// ask for "shutdown". Prints "ready" once the name is taken.

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QSocketNotifier>
#include <QStringList>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>

class TFakeManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    using QObject::QObject;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode)
    {
        if (qEnvironmentVariableIsSet("FAKE_LOGIN1_REFUSE")
            || (qEnvironmentVariableIsSet("FAKE_LOGIN1_REFUSE_SHUTDOWN") && what.split(':').contains("shutdown"))) {
            sendErrorReply(QDBusError::AccessDenied, "Permission denied");
            return {};
        }
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            sendErrorReply(QDBusError::Failed, "pipe");
            return {};
        }
        const QDBusUnixFileDescriptor handed(fds[1]);  // a copy of its own
        ::close(fds[1]);
        auto notifier = std::make_unique<QSocketNotifier>(fds[0], QSocketNotifier::Read);
        const int readEnd = fds[0];
        connect(notifier.get(), &QSocketNotifier::activated, this, [this, readEnd] {
            char byte;
            if (::read(readEnd, &byte, 1) > 0)
                return;
            FHeld.erase(readEnd);  // every write end closed: released
            ::close(readEnd);
        });
        FHeld[readEnd] = {what + "|" + who + "|" + why + "|" + mode, std::move(notifier)};
        return handed;
    }

    QStringList ActiveInhibitors() const
    {
        QStringList list;
        for (const auto& [fd, held] : FHeld)
            list << held.Text;
        return list;
    }

private:
    struct THeld {
        QString Text;
        std::unique_ptr<QSocketNotifier> Notifier;
    };
    std::map<int, THeld> FHeld;
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QDBusConnection bus = QDBusConnection::connectToBus(qEnvironmentVariable("FAKE_LOGIN1_BUS"), "fake");
    TFakeManager manager;
    if (!bus.isConnected() || !bus.registerObject("/org/freedesktop/login1", &manager, QDBusConnection::ExportAllSlots)
        || !bus.registerService("org.freedesktop.login1")) {
        std::fprintf(stderr, "fake_login1: %s\n", qPrintable(bus.lastError().message()));
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

#include "fake_login1.moc"
