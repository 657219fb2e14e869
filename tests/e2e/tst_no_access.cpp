// The update of a user to whom the attached boot loader's node is closed (no udev rule in
// effect): the window's log gets the rule, the command that installs it and the replug, where
// a missing device gets "USB device was unplugged!". The analyzer is on a umockdev bus; this
// test program started again as an unprivileged user runs the flashing service.

#include "FlashingHarness.h"

#include <sim/usb/UsbTestbed.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

namespace {

constexpr uid_t cNobody = 65534;

// The user's update: its reports, one a line, with line breaks inside a report as "\n".
int UpdateAsUser()
{
    int argc = 1;
    char name[] = "user";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    TFlashingHarness harness;  // no analyzer on the in-process bus: the library finds none
    const TRunResult r = harness.Run();
    for (QString report : r.Reports)
        std::cout << report.replace("\r\n", "\\n").toStdString() << "\n";
    return r.Result ? 1 : 0;
}

void OpenToUser(const QString& APath)
{
    for (QString dir = QFileInfo(APath).path(); dir.size() > 1; dir = QFileInfo(dir).path()) {
        struct stat st {};
        if (::stat(QFile::encodeName(dir).constData(), &st) == 0 && st.st_uid == ::getuid())
            ::chmod(QFile::encodeName(dir).constData(), (st.st_mode & 07777) | 0711);
    }
    QProcess chmod;
    chmod.start("chmod", {"-R", "a+rX", APath});
    if (!chmod.waitForFinished(10000) || chmod.exitCode() != 0)
        qFatal("cannot open %s to the user", qPrintable(APath));
}

QStringList ReportsAsUser(const QString& ATemp)
{
    QProcess user;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("UPDATE_AS_USER", "1");
    env.insert("TMPDIR", ATemp);
    env.insert("XDG_RUNTIME_DIR", ATemp);
    env.insert("XDG_STATE_HOME", ATemp + "/state");
    env.insert("HOME", ATemp);
    // A process that changed its user cannot be traced by LeakSanitizer's own tracer, which then
    // ends it with an error of its own at exit; its leaks are checked in the root runs.
    const QString asan = env.value("ASAN_OPTIONS");
    env.insert("ASAN_OPTIONS", asan + (asan.isEmpty() ? "" : ":") + "detect_leaks=0");
    user.setProcessEnvironment(env);
    user.setWorkingDirectory(ATemp);
    user.setChildProcessModifier([] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(cNobody) != 0 || ::setuid(cNobody) != 0)
            ::_exit(99);
    });
    user.start(QCoreApplication::applicationFilePath(), {});
    if (!user.waitForFinished(60000) || user.exitCode() != 0)
        qFatal("the user's update did not run (%d): %s", user.exitCode(), user.readAllStandardError().right(2000).constData());
    return QString::fromUtf8(user.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

}  // namespace

class TestNoAccess : public QObject {
    Q_OBJECT
private slots:
    void closedNodeNamesTheRule()
    {
        sim::usb::UsbTestbed bus;
        bus.plug(sim::Analyzer::create());
        const QString testbed = qEnvironmentVariable("UMOCKDEV_DIR");
        OpenToUser(testbed);
        OpenToUser(QCoreApplication::applicationFilePath());
        QVERIFY(::chmod(QFile::encodeName(testbed + "/dev/hidraw0").constData(), 0600) == 0);
        // The user's own temporary folder.
        QTemporaryDir temp;
        QVERIFY(::chown(QFile::encodeName(temp.path()).constData(), cNobody, cNobody) == 0);
        OpenToUser(temp.path());

        const QString closed =
            "The analyzer's boot loader is connected, but this user may not open it (/dev/hidraw0): the udev rule "
            "70-analyzer-bsl.rules is not in effect.\\nInstall it with:\\necho 'KERNEL==\"hidraw*\", "
            "ATTRS{idVendor}==\"2047\", ATTRS{idProduct}==\"0200\", TAG+=\"uaccess\"' | sudo tee "
            "/etc/udev/rules.d/70-analyzer-bsl.rules && sudo udevadm control --reload-rules\\nThen unplug the "
            "analyzer and plug it in again.";
        QCOMPARE(ReportsAsUser(temp.path()),
                 (QStringList{"0|" + closed, "50|Unsuccessful in starting the BSL. Restarting", "0|" + closed}));

        // With the rule in effect the node is the user's: only the in-process bus is empty now.
        QVERIFY(::chmod(QFile::encodeName(testbed + "/dev/hidraw0").constData(), 0666) == 0);
        QCOMPARE(ReportsAsUser(temp.path()),
                 (QStringList{"0|USB device was unplugged!", "50|Unsuccessful in starting the BSL. Restarting",
                              "0|USB device was unplugged!"}));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("UPDATE_AS_USER"))
        return UpdateAsUser();
    QCoreApplication app(argc, argv);
    TestNoAccess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_no_access.moc"
