// The sleep inhibitor against a private dbus-daemon: with a stand-in for logind, with no
// logind on the bus, with logind refusing, and with no bus at all.

#include <linux/SleepInhibitor.h>

#include <codesite/Capture.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// A socket path holds at most 107 bytes, and the test's own temporary folder may be deep.
QString ShortFolderTemplate()
{
    return QStringLiteral("/tmp/sleep-inhibitor-XXXXXX");
}

// A dbus-daemon of the test's own, optionally with the logind stand-in on it.
class TPrivateBus {
public:
    // ARefuse: the logind stand-in refuses every Inhibit, or (ARefuseShutdown) only shutdown.
    TPrivateBus(const QString& AFolder, bool ALogind, bool ARefuse = false, bool ARefuseShutdown = false)
    {
        FDaemon.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1",
                                      "--address=unix:path=" + AFolder + "/bus"});
        if (!FDaemon.waitForStarted(10000) || !FDaemon.waitForReadyRead(10000))
            qFatal("dbus-daemon did not start: %s", qPrintable(FDaemon.errorString()));
        FAddress = QString::fromUtf8(FDaemon.readLine()).trimmed();
        if (!ALogind)
            return;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("FAKE_LOGIN1_BUS", FAddress);
        if (ARefuse)
            env.insert("FAKE_LOGIN1_REFUSE", "1");
        if (ARefuseShutdown)
            env.insert("FAKE_LOGIN1_REFUSE_SHUTDOWN", "1");
        FLogind.setProcessEnvironment(env);
        FLogind.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FLogind.start(FAKE_LOGIN1, {});
        if (!FLogind.waitForReadyRead(10000) || FLogind.readLine().trimmed() != "ready")
            qFatal("fake login1 did not start");
    }
    ~TPrivateBus()
    {
        for (QProcess* p : {&FLogind, &FDaemon}) {
            if (p->state() == QProcess::NotRunning)
                continue;
            p->terminate();
            if (!p->waitForFinished(5000)) {
                p->kill();
                p->waitForFinished(5000);
            }
        }
    }
    QString Address() const { return FAddress; }

private:
    QProcess FDaemon;
    QProcess FLogind;
    QString FAddress;
};

QStringList ActiveInhibitors(QDBusConnection ABus)
{
    const QDBusMessage call = QDBusMessage::createMethodCall(
        "org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "ActiveInhibitors");
    const QDBusReply<QStringList> reply = ABus.call(call, QDBus::Block, 5000);
    if (!reply.isValid())
        qFatal("ActiveInhibitors: %s", qPrintable(reply.error().message()));
    return reply.value();
}

QStringList Messages(const TCodeSiteCapture& ACapture)
{
    QStringList lines;
    for (const TCodeSiteRecord& r : ACapture.Records())
        lines << r.Text + "=" + r.ValueText();
    return lines;
}

}  // namespace

class TestSleepInhibitor : public QObject {
    Q_OBJECT
private:
    QTemporaryDir FDir{ShortFolderTemplate()};
    std::unique_ptr<TPrivateBus> FSystemBus;

private slots:
    void initTestCase()
    {
        // The system bus of this process is the private one with the stand-in for logind.
        FSystemBus = std::make_unique<TPrivateBus>(FDir.path(), true);
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", FSystemBus->Address().toUtf8());
    }
    void cleanupTestCase() { FSystemBus.reset(); }

    void heldWhileAliveReleasedAfter()
    {
        TCodeSiteCapture capture;
        QDBusConnection bus = QDBusConnection::systemBus();
        {
            TSleepInhibitor inhibitor("Q452 Firmware Updater", "A firmware update is running");
            QVERIFY2(inhibitor.Held(), qPrintable(inhibitor.Reason()));
            QVERIFY(inhibitor.Reason().isEmpty());
            QCOMPARE(ActiveInhibitors(bus),
                     QStringList{"shutdown:sleep:idle|Q452 Firmware Updater|A firmware update is running|block"});
        }
        QTRY_VERIFY_WITH_TIMEOUT(ActiveInhibitors(bus).isEmpty(), 10000);
        QCOMPARE(Messages(capture),
                 (QStringList{"Shutdown, sleep and idle inhibited while the update runs=A firmware update is running",
                              "Inhibitor released="}));
    }

    // A logind that grants sleep but not shutdown: sleep and idle are still held.
    void shutdownRefusedSleepHeld()
    {
        QTemporaryDir dir(ShortFolderTemplate());
        const TPrivateBus privateBus(dir.path(), true, false, true);
        QDBusConnection bus = QDBusConnection::connectToBus(privateBus.Address(), "shutdown-refused");
        TCodeSiteCapture capture;
        {
            TSleepInhibitor inhibitor(bus, "updater", "update");
            QVERIFY2(inhibitor.Held(), qPrintable(inhibitor.Reason()));
            QCOMPARE(ActiveInhibitors(bus), QStringList{"sleep:idle|updater|update|block"});
        }
        QTRY_VERIFY_WITH_TIMEOUT(ActiveInhibitors(bus).isEmpty(), 10000);
        QCOMPARE(Messages(capture),
                 (QStringList{"Sleep and idle inhibited while the update runs, shutdown not="
                              "org.freedesktop.DBus.Error.AccessDenied: Permission denied",
                              "Inhibitor released="}));
        QDBusConnection::disconnectFromBus("shutdown-refused");
    }

    void notHeld_data()
    {
        QTest::addColumn<QString>("bus");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no logind on the bus") << "daemon" << "org.freedesktop.DBus.Error.ServiceUnknown";
        QTest::newRow("logind refuses") << "refusing" << "org.freedesktop.DBus.Error.AccessDenied: Permission denied";
        QTest::newRow("no bus") << "none" << "no system bus";
    }

    void notHeld()
    {
        QFETCH(QString, bus);
        QFETCH(QString, reason);
        QTemporaryDir dir(ShortFolderTemplate());
        std::unique_ptr<TPrivateBus> privateBus;
        QString address = "unix:path=" + dir.path() + "/nothing-here";
        if (bus != "none") {
            privateBus = std::make_unique<TPrivateBus>(dir.path(), bus == "refusing", true);
            address = privateBus->Address();
        }
        const QString name = QTest::currentDataTag();
        TCodeSiteCapture capture;
        {
            TSleepInhibitor inhibitor(QDBusConnection::connectToBus(address, name), "updater", "update");
            QVERIFY(!inhibitor.Held());
            QVERIFY2(inhibitor.Reason().startsWith(reason), qPrintable(inhibitor.Reason()));
        }
        QDBusConnection::disconnectFromBus(name);
        const QStringList messages = Messages(capture);
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages.front().startsWith("Shutdown, sleep and idle not inhibited; the update goes on without it=" + reason),
                 qPrintable(messages.front()));
    }
};

QTEST_GUILESS_MAIN(TestSleepInhibitor)
#include "tst_sleep_inhibitor.moc"
