// The updater program sends Qt's own messages to its log file from its very start: a
// platform plugin that cannot be loaded is reported there, not on standard error alone.

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

class TestProgramLog : public QObject {
    Q_OBJECT
private slots:
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

QTEST_GUILESS_MAIN(TestProgramLog)
#include "tst_program_log.moc"
