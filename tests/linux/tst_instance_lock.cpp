// One running copy per working folder, tried with real second processes: this test program
// started again as the other copy.

#include <linux/InstanceLock.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace {

constexpr int cExitAcquired = 10;
constexpr int cExitBusy = 11;
constexpr int cExitFailed = 12;

// The other copy: takes the lock in the folder named by LOCK_FOLDER, reports, and when
// LOCK_HOLD is set holds it until its standard input closes.
int RunOtherCopy()
{
    TInstanceLock::TStatus status;
    QString erMsg;
    const auto lock = TInstanceLock::Acquire(qEnvironmentVariable("LOCK_FOLDER"), status, erMsg);
    std::cout << (status == TInstanceLock::TStatus::Acquired ? "acquired" : erMsg.replace("\r\n", " ").toStdString()) << std::endl;
    if (lock && qEnvironmentVariableIsSet("LOCK_HOLD"))
        while (std::getchar() != EOF) {
        }
    switch (status) {
    case TInstanceLock::TStatus::Acquired: return cExitAcquired;
    case TInstanceLock::TStatus::Busy: return cExitBusy;
    case TInstanceLock::TStatus::Failed: break;
    }
    return cExitFailed;
}

struct TOtherCopy {
    std::unique_ptr<QProcess> Process = std::make_unique<QProcess>();
    QString Line;
};

TOtherCopy Start(const QString& AFolder, bool AHold)
{
    TOtherCopy copy;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LOCK_FOLDER", AFolder);
    if (AHold)
        env.insert("LOCK_HOLD", "1");
    copy.Process->setProcessEnvironment(env);
    copy.Process->start(QCoreApplication::applicationFilePath(), {});
    if (!copy.Process->waitForStarted(10000) || !copy.Process->waitForReadyRead(10000))
        qFatal("the other copy did not start");
    copy.Line = QString::fromUtf8(copy.Process->readLine()).trimmed();
    return copy;
}

int Finish(TOtherCopy& ACopy)
{
    ACopy.Process->closeWriteChannel();
    if (!ACopy.Process->waitForFinished(10000))
        qFatal("the other copy did not end");
    return ACopy.Process->exitCode();
}

}  // namespace

class TestInstanceLock : public QObject {
    Q_OBJECT
private slots:
    void secondCopyIsRefusedWhileFirstRuns()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("ovk/trelmint");
        TInstanceLock::TStatus status;
        QString erMsg;
        {
            const auto lock = TInstanceLock::Acquire(folder, status, erMsg);
            QVERIFY2(lock, qPrintable(erMsg));
            QCOMPARE(status, TInstanceLock::TStatus::Acquired);
            QVERIFY(erMsg.isEmpty());

            TOtherCopy other = Start(folder, false);
            QCOMPARE(Finish(other), cExitBusy);
            QVERIFY2(other.Line.startsWith("The firmware updater is already running."), qPrintable(other.Line));
            QVERIFY(other.Line.contains(lock->Path()));
        }
        // Released with the object: the next copy gets it.
        TOtherCopy next = Start(folder, false);
        QCOMPARE(Finish(next), cExitAcquired);
    }

    void thisCopyIsRefusedWhileAnotherHoldsIt()
    {
        QTemporaryDir dir;
        TOtherCopy holder = Start(dir.path(), true);
        QCOMPARE(holder.Line, QString("acquired"));
        TInstanceLock::TStatus status;
        QString erMsg;
        QVERIFY(!TInstanceLock::Acquire(dir.path(), status, erMsg));
        QCOMPARE(status, TInstanceLock::TStatus::Busy);
        QCOMPARE(Finish(holder), cExitAcquired);
        QVERIFY(TInstanceLock::Acquire(dir.path(), status, erMsg));
        QCOMPARE(status, TInstanceLock::TStatus::Acquired);
    }

    void lockOfKilledCopyIsFree()
    {
        QTemporaryDir dir;
        TOtherCopy holder = Start(dir.path(), true);
        QCOMPARE(holder.Line, QString("acquired"));
        holder.Process->kill();
        QVERIFY(holder.Process->waitForFinished(10000));
        // The file is still there, its lock died with the process.
        QVERIFY(QFile::exists(dir.filePath(TInstanceLock::FileName())));
        TInstanceLock::TStatus status;
        QString erMsg;
        QVERIFY2(TInstanceLock::Acquire(dir.path(), status, erMsg), qPrintable(erMsg));
    }

    void missingFoldersAreMadePrivate()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath("ovk/trelmint");
        TInstanceLock::TStatus status;
        QString erMsg;
        QVERIFY(TInstanceLock::Acquire(folder, status, erMsg));
        for (const QString& path : {dir.filePath("ovk"), folder, folder + "/" + TInstanceLock::FileName()}) {
            struct stat st {};
            QCOMPARE(::lstat(QFile::encodeName(path).constData(), &st), 0);
            QCOMPARE(st.st_mode & 077, 0u);
        }
    }

    void linkInPlaceOfLockFileIsRefused_data()
    {
        QTest::addColumn<bool>("targetExists");
        QTest::newRow("link to a file of someone") << true;
        QTest::newRow("dangling link") << false;
    }

    void linkInPlaceOfLockFileIsRefused()
    {
        QFETCH(bool, targetExists);
        QTemporaryDir dir;
        const QString target = dir.filePath("victim");
        if (targetExists) {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("keep");
        }
        QVERIFY(QFile::link(target, dir.filePath(TInstanceLock::FileName())));
        TInstanceLock::TStatus status;
        QString erMsg;
        QVERIFY(!TInstanceLock::Acquire(dir.path(), status, erMsg));
        QCOMPARE(status, TInstanceLock::TStatus::Failed);
        QVERIFY2(erMsg.startsWith("Cannot open lock file"), qPrintable(erMsg));
        QCOMPARE(QFile::exists(target), targetExists);
        if (targetExists)
            QCOMPARE(QFileInfo(target).size(), 4);
    }

    // Anything but the user's own regular file at the lock's name makes the start fail with a
    // message that names the file and what to do; the entry itself is left alone.
    void unusableLockEntry_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to a file") << "link";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("folder") << "folder";
        QTest::newRow("file of another user") << "foreign";
    }

    void unusableLockEntry()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString lockPath = dir.filePath(TInstanceLock::FileName());
        const QByteArray native = QFile::encodeName(lockPath);
        const QString target = dir.filePath("victim");
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (kind == "link" || kind == "dangling") {
            if (kind == "link") {
                QFile f(target);
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write("keep");
            }
            QVERIFY(QFile::link(target, lockPath));
        } else if (kind == "folder") {
            QVERIFY(QDir().mkdir(lockPath));
        } else {
            if (::geteuid() != 0)
                QSKIP("only root can give a file to another user");
            QFile f(lockPath);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.close();
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        }
        struct stat before {};
        QCOMPARE(::lstat(native.constData(), &before), 0);

        TInstanceLock::TStatus status;
        QString erMsg;
        QVERIFY(!TInstanceLock::Acquire(dir.path(), status, erMsg));
        QCOMPARE(status, TInstanceLock::TStatus::Failed);
        QVERIFY2(erMsg.contains("\"" + lockPath + "\""), qPrintable(erMsg));
        QVERIFY2(erMsg.contains("remove \"" + lockPath + "\" and start the updater again"), qPrintable(erMsg));

        struct stat after {};
        QCOMPARE(::lstat(native.constData(), &after), 0);
        QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(after.st_mode, before.st_mode);
        if (kind == "link")
            QCOMPARE(QFileInfo(target).size(), 4);
    }

    // The working folder is judged as it is, never followed: a link in its place, a folder of
    // another user's or one that others may write to is refused, and nothing is made there.
    void unsafeWorkingFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("link to a folder of the user's") << "link" << "it is a symbolic link";
        QTest::newRow("group may write") << "group" << "others may write to it";
        QTest::newRow("others may write") << "others" << "others may write to it";
        QTest::newRow("folder of another user") << "foreign" << "it belongs to another user";
    }

    void unsafeWorkingFolder()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        const QString folder = dir.filePath("ovk/trelmint");
        const QByteArray native = QFile::encodeName(folder);
        const QString target = dir.filePath("elsewhere");
        QVERIFY(QDir().mkpath(dir.filePath("ovk")));
        if (kind == "link") {
            QVERIFY(QDir().mkdir(target));
            QVERIFY(QFile::link(target, folder));
        } else {
            QVERIFY(QDir().mkdir(folder));
            if (kind == "foreign") {
                if (::geteuid() != 0)
                    QSKIP("only root can give a folder to another user");
                QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
            } else {
                QCOMPARE(::chmod(native.constData(), kind == "group" ? 0770 : 0707), 0);
            }
        }
        TInstanceLock::TStatus status;
        QString erMsg;
        QVERIFY(!TInstanceLock::Acquire(folder, status, erMsg));
        QCOMPARE(status, TInstanceLock::TStatus::Failed);
        QVERIFY2(erMsg.startsWith("The folder \"" + folder + "\" is not private to the user: " + reason + "."), qPrintable(erMsg));
        QVERIFY2(erMsg.contains("TMPDIR"), qPrintable(erMsg));
        QVERIFY(!QFileInfo::exists(folder + "/" + TInstanceLock::FileName()));
        QVERIFY(!QFileInfo::exists(target + "/" + TInstanceLock::FileName()));
    }

    void folderThatCannotBeMade()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("plain"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        TInstanceLock::TStatus status;
        QString erMsg;
        QVERIFY(!TInstanceLock::Acquire(dir.filePath("plain/trelmint"), status, erMsg));
        QCOMPARE(status, TInstanceLock::TStatus::Failed);
        QVERIFY2(erMsg.startsWith("Cannot create folder"), qPrintable(erMsg));
        QVERIFY2(erMsg.contains("TMPDIR"), qPrintable(erMsg));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("LOCK_FOLDER"))
        return RunOtherCopy();
    QCoreApplication app(argc, argv);
    TestInstanceLock test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instance_lock.moc"
