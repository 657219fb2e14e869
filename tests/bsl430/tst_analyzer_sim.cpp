// analyzer-sim: the shipped BSL library in a program of its own finds the simulated analyzer
// on the umockdev bus and updates it, with the password given on the command line; the
// program's exit status comes back; bad command lines are refused.
//
// The program run inside the mock environment is this test executable itself, in its update
// mode (kChildSet names the image set).

#include "BslApi.h"
#include "TestData.h"
#include "UpdateSequence.h"

#include <QProcess>
#include <QThread>
#include <QtTest>

#include <cstdio>

namespace {

constexpr const char* kChildSet = "TST_ANALYZER_SIM_UPDATE_SET";

// Update mode: the whole update through the shipped library; 0 when it went through.
int updateAsChild(int ASet) {
    BslApi bsl(BSL430_PATH);
    const Run run = runUpdate(bsl, imageSets().at(ASet), [](const QString& AStep) {
        // As the service does: give the boot loader time to come back after Load PC.
        if (AStep == "reopen") QThread::sleep(1);
    });
    if (run.failedAt.isEmpty()) return 0;
    std::printf("failed at %s: %u %s\n", qPrintable(run.failedAt), run.answer,
                qPrintable(bsl.lastError()));
    return 1;
}

}  // namespace

class TestAnalyzerSim : public QObject {
    Q_OBJECT

    struct Result {
        int status = -1;
        QString out, err;
    };

    Result analyzerSim(const QStringList& AArgs, const QProcessEnvironment& AEnv = QProcessEnvironment::systemEnvironment()) {
        QProcess p;
        p.setProcessEnvironment(AEnv);
        p.start("umockdev-wrapper", QStringList{ANALYZER_SIM_PATH} + AArgs);
        if (!p.waitForFinished(60000)) p.kill();
        p.waitForFinished();
        Result r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

private slots:
    void update_data() {
        QTest::addColumn<int>("set");
        QTest::addColumn<bool>("withPassword");
        QTest::addColumn<QString>("failure");
        const auto sets = imageSets();
        for (int i = 0; i < sets.size(); ++i) {
            QTest::addRow("%s: its password", qPrintable(sets[i].name)) << i << true << "";
            QTest::addRow("%s: erased device", qPrintable(sets[i].name)) << i << false
                                                                        << "failed at password: 5";
        }
    }

    void update() {
        QFETCH(int, set);
        QFETCH(bool, withPassword);
        QFETCH(QString, failure);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildSet, QString::number(set));
        QStringList args;
        if (withPassword) args << "--password-from" << imageSets().at(set).path("Pass");
        args << "--" << QCoreApplication::applicationFilePath();
        const Result r = analyzerSim(args, env);
        QVERIFY2(failure.isEmpty() ? r.out.isEmpty() : r.out.startsWith(failure),
                 qPrintable(r.out + r.err));
        QCOMPARE(r.status, failure.isEmpty() ? 0 : 1);
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        const QString ramBsl = imageSets().first().path("RAM_BSL");
        QTest::newRow("exit status comes back") << QStringList{"--", "sh", "-c", "exit 3"} << 3 << "";
        QTest::newRow("killed program") << QStringList{"--", "sh", "-c", "kill -TERM $$"} << 128 + 15 << "";
        QTest::newRow("the node is there")
            << QStringList{"--", "sh", "-c", "test -c /dev/hidraw0 && grep -q HID_ID=0003:00002047:00000200 /sys/class/hidraw/hidraw0/device/uevent"}
            << 0 << "";
        QTest::newRow("program without --") << QStringList{"true"} << 2 << "put -- before the program to run (true)";
        QTest::newRow("help") << QStringList{"--help"} << 0 << "";
        QTest::newRow("no program") << QStringList{"--"} << 2 << "no program to run";
        QTest::newRow("option without its value") << QStringList{"--password-from"} << 2 << "--password-from needs a file";
        QTest::newRow("unknown option") << QStringList{"--pasword-from", "x", "--", "true"} << 2 << "unknown option --pasword-from";
        QTest::newRow("not a password file") << QStringList{"--password-from", ramBsl, "--", "true"} << 2
                                             << "not a password file";
        QTest::newRow("missing password file") << QStringList{"--password-from", "missing.txt", "--", "true"} << 2
                                               << "missing.txt";
        QTest::newRow("missing program") << QStringList{"--", "no-such-program-here"} << 127 << "cannot run no-such-program-here";
    }

    void commandLine() {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        const Result r = analyzerSim(args);
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
    }

    void outsideTheWrapper() {
        QProcess p;
        p.start(ANALYZER_SIM_PATH, {"--", "true"});
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitCode(), 2);
        QVERIFY(p.readAllStandardError().contains("umockdev-wrapper"));
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildSet)) return updateAsChild(qEnvironmentVariableIntValue(kChildSet));
    QCoreApplication app(argc, argv);
    TestAnalyzerSim test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_analyzer_sim.moc"
