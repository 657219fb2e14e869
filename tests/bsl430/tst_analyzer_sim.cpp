// analyzer-sim: the shipped BSL library in a program of its own finds the simulated analyzer
// on the umockdev bus and updates it, with the password given on the command line; the
// program's exit status comes back; bad command lines are refused.
//
// The program run inside the mock environment is this test executable itself, in its update
// mode (kChildSet names the image set).

#include "BslApi.h"
#include "Srecord.h"
#include "TestData.h"
#include "UpdateSequence.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
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

// Nanoseconds the threads of a process have been runnable (on a CPU or waiting for one): a
// thread that never sleeps counts all the time that passes, however busy the machine is.
qint64 runnableNanos(qint64 APid) {
    qint64 sum = 0;
    const QString tasks = QString("/proc/%1/task").arg(APid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile f(tasks + "/" + task + "/schedstat");
        if (!f.open(QIODevice::ReadOnly)) continue;
        const QList<QByteArray> fields = f.readAll().simplified().split(' ');
        if (fields.size() >= 2) sum += fields[0].toLongLong() + fields[1].toLongLong();
    }
    return sum;
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

    // --real-time: the whole update takes at least the datasheet's time for what the device
    // does (its second off the bus when the RAM BSL starts, which the program's own pause
    // before reopening overlaps; an erase per block of at most 512 image bytes and one for the
    // reset vector; every image word programmed), and not absurdly more.
    void realTime_data() {
        QTest::addColumn<int>("set");
        const auto sets = imageSets();
        for (int i = 0; i < sets.size(); ++i) QTest::newRow(qPrintable(sets[i].name)) << i;
    }

    void realTime() {
        QFETCH(int, set);
        const ImageSet images = imageSets().at(set);
        QTemporaryDir tmp;
        const MemoryMap map = srecordMap(images.path("BinVorel"), tmp.path());
        qint64 bytes = 0;
        QSet<int> words;
        for (int a = 0; a < MemoryMap::kSpace; ++a)
            if (map.given.testBit(a)) {
                ++bytes;
                words.insert(a >> 1);
            }
        QVERIFY(bytes > 0);
        const qint64 erases = 1 + (bytes + 511) / 512;
        const double bound = 1.0 + double(erases) * 25e-3 + double(words.size()) * 75e-6;

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(kChildSet, QString::number(set));
        QElapsedTimer wall;
        wall.start();
        const Result r = analyzerSim({"--real-time", "--password-from", images.path("Pass"), "--",
                                      QCoreApplication::applicationFilePath()},
                                     env);
        const double seconds = double(wall.nsecsElapsed()) / 1e9;
        QVERIFY2(r.status == 0 && r.out.isEmpty(), qPrintable(r.out + r.err));
        qInfo("whole update %.2f s, datasheet bound %.2f s (%lld erases, %lld words)", seconds, bound,
              erases, static_cast<long long>(words.size()));
        QVERIFY2(seconds >= bound, qPrintable(QString("%1 s < %2 s").arg(seconds).arg(bound)));
        QVERIFY2(seconds <= 3 * bound + 10, qPrintable(QString("%1 s against %2 s").arg(seconds).arg(bound)));
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

    // Attached, with nobody holding its node open: the simulator sleeps until something
    // happens instead of polling round and round.
    void idleWhileNobodyHasTheNodeOpen() {
        QProcess p;
        p.start("umockdev-wrapper", {ANALYZER_SIM_PATH, "--", "sh", "-c", "echo plugged; exec sleep 30"});
        QVERIFY(p.waitForReadyRead(30000));  // the bus is up and the program runs
        QCOMPARE(p.readAllStandardOutput(), QByteArray("plugged\n"));
        QElapsedTimer wall;
        const qint64 before = runnableNanos(p.processId());
        wall.start();
        QThread::msleep(2000);
        const double share = double(runnableNanos(p.processId()) - before) / double(wall.nsecsElapsed());
        p.terminate();  // passed on to the program; then the bus goes
        QVERIFY(p.waitForFinished(30000));
        QVERIFY2(share < 0.2, qPrintable(QString("runnable %1 % of the time").arg(share * 100, 0, 'f', 1)));
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
