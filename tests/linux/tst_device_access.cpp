// Telling a boot loader closed to the user from a missing one, on a umockdev bus with the
// simulated analyzer: this test program started again as an unprivileged user is the user.

#include <linux/DeviceAccess.h>

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iostream>

namespace {

constexpr uid_t cNobody = 65534;

// The user: prints what the check finds for the analyzer's ids.
int RunAsUser()
{
    std::cout << "node=" << InaccessibleHidNode(0x2047, 0x0200).toStdString() << std::endl;
    return 0;
}

// The user must read the testbed under this test's private folders.
void OpenTestbedToUser()
{
    const QString root = qEnvironmentVariable("UMOCKDEV_DIR");
    for (QString dir = QFileInfo(root).path(); dir.size() > 1; dir = QFileInfo(dir).path()) {
        struct stat st {};
        if (::stat(QFile::encodeName(dir).constData(), &st) == 0 && st.st_uid == ::getuid())
            ::chmod(QFile::encodeName(dir).constData(), (st.st_mode & 07777) | 0711);
    }
    QProcess chmod;
    chmod.start("chmod", {"-R", "a+rX", root});
    if (!chmod.waitForFinished(10000) || chmod.exitCode() != 0)
        qFatal("cannot open the testbed to the user");
}

QString CheckAsUser()
{
    QProcess user;
    user.setProcessEnvironment([] {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("ACCESS_CHECK_AS_USER", "1");
        return env;
    }());
    user.setChildProcessModifier([] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(cNobody) != 0 || ::setuid(cNobody) != 0)
            ::_exit(99);
    });
    user.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    user.start(QCoreApplication::applicationFilePath(), {});
    if (!user.waitForFinished(20000) || user.exitCode() != 0)
        qFatal("the check as user did not run (%d)", user.exitCode());
    return QString::fromUtf8(user.readAllStandardOutput()).trimmed();
}

// The testbed's copy of a /dev node.
QByteArray TestbedPath(const QString& ANode)
{
    return QFile::encodeName(qEnvironmentVariable("UMOCKDEV_DIR") + ANode);
}

}  // namespace

class TestDeviceAccess : public QObject {
    Q_OBJECT
private slots:
    void nodeClosedToUserIsNamed()
    {
        sim::usb::UsbTestbed bus;
        OpenTestbedToUser();
        QCOMPARE(InaccessibleHidNode(0x2047, 0x0200), QString());  // root opens anything
        QCOMPARE(CheckAsUser(), QString("node="));                 // nothing attached yet

        bus.plug(sim::Analyzer::create());
        QCOMPARE(bus.nodeCount(), 1);
        OpenTestbedToUser();
        const QString node = "/dev/hidraw0";
        QVERIFY(::chmod(TestbedPath(node).constData(), 0600) == 0);
        QCOMPARE(CheckAsUser(), "node=" + node);
        // Another product with the same vendor is not the boot loader.
        QCOMPARE(InaccessibleHidNode(0x2047, 0x0201), QString());

        // What the udev rule does: the user may open it now.
        QVERIFY(::chmod(TestbedPath(node).constData(), 0666) == 0);
        QCOMPARE(CheckAsUser(), QString("node="));
    }

    void textNamesRuleCommandAndReplug()
    {
        const QString text = MissingUdevRuleText("/dev/hidraw3");
        const QStringList lines = text.split("\r\n");
        QCOMPARE(lines.size(), 4);
        QVERIFY(lines[0].contains("(/dev/hidraw3)"));
        QVERIFY(lines[0].contains("70-analyzer-bsl.rules"));
        // The command installs the very rule the project ships.
        QFile rule(UDEV_RULE_FILE);
        QVERIFY(rule.open(QIODevice::ReadOnly));
        QString shipped;
        for (const QByteArray& line : rule.readAll().split('\n'))
            if (!line.isEmpty() && !line.startsWith('#'))
                shipped = QString::fromUtf8(line);
        QCOMPARE(lines[2], "echo '" + shipped
                               + "' | sudo tee /etc/udev/rules.d/70-analyzer-bsl.rules && sudo udevadm control "
                                 "--reload-rules");
        QCOMPARE(lines[3], QString("Then unplug the analyzer and plug it in again."));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("ACCESS_CHECK_AS_USER"))
        return RunAsUser();
    QCoreApplication app(argc, argv);
    TestDeviceAccess test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_device_access.moc"
