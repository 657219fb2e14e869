// The updater program itself, in a temporary folder of its own: it does not start without its
// lock, a close signal ends it in order, and Qt's messages reach its log file.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <sys/stat.h>

namespace {

class TUpdater {
public:
    explicit TUpdater(const QString& ATemp)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("TMPDIR", ATemp);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        FProcess.setProcessEnvironment(env);
        FProcess.setReadChannel(QProcess::StandardError);
        FProcess.start(UPDATER, {});
    }
    ~TUpdater()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        FProcess.kill();
        FProcess.waitForFinished(10000);
    }

    QProcess& Process() { return FProcess; }

    // Reads the log on standard error until a line matches; its first capture, or empty.
    QString WaitForLine(const QRegularExpression& APattern, int ATimeoutMs = 60000)
    {
        QDeadlineTimer deadline(ATimeoutMs);
        while (!deadline.hasExpired()) {
            while (FProcess.canReadLine()) {
                const QString line = QString::fromUtf8(FProcess.readLine()).trimmed();
                FLog << line;
                if (const auto m = APattern.match(line); m.hasMatch())
                    return m.captured(1);
            }
            if (FProcess.state() == QProcess::NotRunning)
                return QString();
            FProcess.waitForReadyRead(100);
        }
        return QString();
    }
    QStringList Log()
    {
        while (FProcess.canReadLine() || FProcess.bytesAvailable())
            FLog << QString::fromUtf8(FProcess.readLine()).trimmed();
        return FLog;
    }

private:
    QProcess FProcess;
    QStringList FLog;
};

QStringList Entries(const QString& AFolder)
{
    return QDir(AFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

class TestProgram : public QObject {
    Q_OBJECT
private slots:
    // Whatever keeps the lock from being taken ends the start: the error box names the file,
    // and nothing is unpacked while it waits for its OK.
    void lockUnusable_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link") << "link";
    }
    void lockUnusable()
    {
        QFETCH(QString, kind);
        QTemporaryDir temp;
        const QString work = temp.filePath("ovk/trelmint");
        QVERIFY(QDir().mkpath(work));
        QVERIFY(QFile::setPermissions(temp.filePath("ovk"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(QFile::setPermissions(work, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        const QString lock = work + "/updater.lock";
        if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(lock).constData(), 0600), 0);
        else
            QVERIFY(QFile::link(temp.filePath("elsewhere"), lock));

        TUpdater updater(temp.path());
        const QString logged =
            updater.WaitForLine(QRegularExpression("(" + QRegularExpression::escape("\"" + lock + "\"") + ".*)$"));
        QVERIFY2(!logged.isEmpty(), qPrintable(updater.Log().join('\n')));
        // The box is up and waits; a program that went on would unpack now.
        QTest::qWait(2000);
        QCOMPARE(updater.Process().state(), QProcess::Running);
        QCOMPARE(Entries(work), QStringList{"updater.lock"});
        QVERIFY(!QFile::exists(temp.filePath("elsewhere")));
    }

    // A part of the working folder that is a link is refused before the lock is made: nothing
    // is made where it points.
    void workFolderPartIsALink()
    {
        QTemporaryDir temp;
        const QString elsewhere = temp.filePath("elsewhere");
        QVERIFY(QDir().mkpath(elsewhere));
        QVERIFY(QFile::setPermissions(elsewhere, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(QFile::link(elsewhere, temp.filePath("ovk")));

        TUpdater updater(temp.path());
        const QString logged = updater.WaitForLine(
            QRegularExpression("(" + QRegularExpression::escape(temp.filePath("ovk")) + ".*)$"));
        QVERIFY2(!logged.isEmpty(), qPrintable(updater.Log().join('\n')));
        QTest::qWait(1000);
        QCOMPARE(updater.Process().state(), QProcess::Running);
        QCOMPARE(Entries(elsewhere), QStringList());
    }

    // A close signal outside an update: the window closes, the shut-down runs (the image is
    // deleted, the library file stays) and the program ends with 0.
    void signalEndsInOrder_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void signalEndsInOrder()
    {
        QFETCH(int, signal);
        QTemporaryDir temp;
        TUpdater updater(temp.path());
        const QString image = updater.WaitForLine(QRegularExpression("BinFileFullPath = (.+)$"));
        QVERIFY2(!image.isEmpty(), qPrintable(updater.Log().join('\n')));
        QVERIFY(QFile::exists(image));
        QCOMPARE(::kill(pid_t(updater.Process().processId()), signal), 0);
        QVERIFY(updater.Process().waitForFinished(30000));
        QCOMPARE(updater.Process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(updater.Process().exitCode(), 0);
        QVERIFY(!QFile::exists(image));
        QVERIFY(QFile::exists(temp.filePath("ovk/trelmint/BSL430.dll")));
        const QStringList log = updater.Log();
        QVERIFY2(log.filter("Close requested by = " + QString(QTest::currentDataTag())).size() == 1, qPrintable(log.join('\n')));
    }

    // Qt's own messages reach the log file from the very start: a platform plugin that
    // cannot be loaded is reported there, not on standard error alone.
    void qtMessagesReachTheLogFile()
    {
        QTemporaryDir state;
        QProcess updater;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_STATE_HOME"), state.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("no-such-platform"));
        updater.setProcessEnvironment(env);
        updater.start(QStringLiteral(UPDATER), {});
        QVERIFY(updater.waitForFinished(60000));
        QVERIFY(updater.exitStatus() == QProcess::CrashExit || updater.exitCode() != 0);
        QFile log(state.filePath(QStringLiteral("analyzer-updater/analyzer-updater.log")));
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QByteArray content = log.readAll();
        QVERIFY2(content.contains("Error qt.qpa.plugin: Could not find the Qt platform plugin \"no-such-platform\""),
                 content.constData());
        QVERIFY2(content.contains("Error This application failed to start"), content.constData());
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
