// The file utilities: digest and size of real files, cross-checked with md5sum, and free
// names beside existing files.

#include <support/PackageTestSupport.h>

#include <mIOUtils.h>
#include <rtl/IOUtils.h>
#include <rtl/SysUtils.h>
#include <win/ErrHandlingApi.h>

#include <QDir>
#include <QRandomGenerator>
#include <QTest>

#include <sys/stat.h>

using namespace PackageTest;

namespace {

QString Temp()
{
    return qEnvironmentVariable("TMPDIR");
}

QByteArray Content(qint64 ASize)
{
    QByteArray bytes(ASize, Qt::Uninitialized);
    QRandomGenerator generator{quint32(ASize)};
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

}  // namespace

class TestMIOUtils : public QObject {
    Q_OBJECT
private slots:
    void digestMatchesMd5sum_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::newRow("empty") << qint64(0);
        QTest::newRow("one byte") << qint64(1);
        QTest::newRow("one block less one") << qint64(4095);
        QTest::newRow("one block") << qint64(4096);
        QTest::newRow("one block and one") << qint64(4097);
        QTest::newRow("library size: 20 blocks and 3,584 bytes") << qint64(85504);
        QTest::newRow("firmware size") << qint64(805233);
    }
    void digestMatchesMd5sum()
    {
        QFETCH(qint64, size);
        const QString path = Temp() + "/digest-" + QString::number(size);
        QVERIFY(WriteAll(path, Content(size)));
        const QString digest = GetFileMD5(path);
        QCOMPARE(digest, Md5Sum(path));
        QCOMPARE(digest, digest.toLower());
        QCOMPARE(digest.size(), 32);
    }

    void digestOfLink()
    {
        const QString path = Temp() + "/digest-target";
        QVERIFY(WriteAll(path, "linked"));
        QVERIFY(QFile::link(path, Temp() + "/digest-link"));
        QCOMPARE(GetFileMD5(Temp() + "/digest-link"), Md5Sum(path));
    }

    void digestOfNoFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("folder") << "folder";
        QTest::newRow("missing") << "missing";
        QTest::newRow("dangling link") << "dangling";
    }
    void digestOfNoFile()
    {
        QFETCH(QString, name);
        QDir().mkpath(Temp() + "/folder");
        QFile::link(Temp() + "/missing", Temp() + "/dangling");
        QCOMPARE(GetFileMD5(Temp() + "/" + name), QString());
    }

    void digestOfFileInUse()
    {
        const QString path = Temp() + "/digest-held";
        QVERIFY(WriteAll(path, "held"));
        TFileStream holder(path);
        try {
            GetFileMD5(path);
            QFAIL("no exception");
        } catch (const EFOpenError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot open file \"%1\". Resource temporarily unavailable").arg(path));
        }
    }

    // Only regular files are read: a FIFO nobody writes to would block the digest forever.
    void digestOfFifo()
    {
        const QString path = Temp() + "/digest-fifo";
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        try {
            GetFileMD5(path);
            QFAIL("no exception");
        } catch (const EFOpenError& e) {
            QCOMPARE(e.Message(), QStringLiteral("Cannot open file \"%1\". Not a regular file").arg(path));
        }
    }

    void size_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("expected");
        QTest::newRow("empty") << "empty" << qint64(0);
        QTest::newRow("library size") << "library" << qint64(85504);
        QTest::newRow("link counts as its target") << "link" << qint64(85504);
        QTest::newRow("over 4 GiB") << "huge" << 5LL * 1024 * 1024 * 1024 + 17;
        QTest::newRow("folder") << "folder" << qint64(-1);
        QTest::newRow("missing") << "missing" << qint64(-1);
        QTest::newRow("dangling link") << "dangling" << qint64(-1);
    }
    void size()
    {
        QFETCH(QString, name);
        QFETCH(qint64, expected);
        const QString t = Temp() + "/size-";
        if (!QFile::exists(t + "empty")) {
            QVERIFY(WriteAll(t + "empty", QByteArray()));
            QVERIFY(WriteAll(t + "library", Content(85504)));
            QVERIFY(QFile::link(t + "library", t + "link"));
            QFile huge(t + "huge");
            QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(5LL * 1024 * 1024 * 1024 + 17));  // sparse
            QVERIFY(QDir().mkpath(t + "folder"));
            QVERIFY(QFile::link(t + "missing", t + "dangling"));
        }
        QCOMPARE(GetFileSizeOf(t + name), expected);
    }

    void sizeKeepsErrorMode()
    {
        const QString path = Temp() + "/sized";
        QVERIFY(WriteAll(path, "x"));
        const UINT original = SetErrorMode(0x8003);
        QCOMPARE(GetFileSizeOf(path), qint64(1));
        QCOMPARE(GetFileSizeOf(Temp()), qint64(-1));
        QCOMPARE(SetErrorMode(original), UINT(0x8003));
    }

    void uniqueName_data()
    {
        QTest::addColumn<QString>("present");  // what is at the path: "", "file" or "folder"
        QTest::addColumn<bool>("renamed");
        QTest::newRow("nothing there") << "" << false;
        QTest::newRow("a folder there") << "folder" << false;
        QTest::newRow("a file there") << "file" << true;
    }
    void uniqueName()
    {
        QFETCH(QString, present);
        QFETCH(bool, renamed);
        const QString folder = Temp() + "/unique-" + (present.isEmpty() ? QStringLiteral("none") : present);
        QVERIFY(QDir().mkpath(folder));
        const QString path = folder + "/Q452_2.04.0.txt";
        if (present == u"file")
            QVERIFY(WriteAll(path, "old image"));
        else if (present == u"folder")
            QVERIFY(QDir().mkdir(path));
        const QStringList before = Entries(folder);
        const QString unique = MakeUniqueFileName(folder + "/./Q452_2.04.0.txt");
        QCOMPARE(Entries(folder), before);
        if (!renamed) {
            QCOMPARE(unique, path);
            return;
        }
        QCOMPARE(unique, folder + "/Q452_2.04.0 (2).txt");
        QVERIFY(!QFileInfo::exists(unique));
        QCOMPARE(ReadAll(path), QByteArray("old image"));
        QVERIFY(WriteAll(unique, "second image"));
        QCOMPARE(MakeUniqueFileName(path), folder + "/Q452_2.04.0 (3).txt");
    }

    void uniqueNameOfRelativePath()
    {
        const QString cwd = QDir::currentPath();
        QCOMPARE(MakeUniqueFileName(QStringLiteral("sub/../image.txt")), cwd + "/image.txt");
        QVERIFY(WriteAll(cwd + "/image.txt", "x"));
        QCOMPARE(MakeUniqueFileName(QStringLiteral("image.txt")), cwd + "/image (2).txt");
    }

    void uniqueNameChecks()
    {
        const QString nul(QChar(u'\0'));
        try {
            MakeUniqueFileName(Temp() + "/a" + nul + ".txt");
            QFAIL("no exception");
        } catch (const EArgumentException& e) {
            QCOMPARE(e.Message(), QStringLiteral("Invalid characters in path"));
        }
        try {
            MakeUniqueFileName(Temp() + "/" + QString(4096, u'a'));
            QFAIL("no exception");
        } catch (const EPathTooLongException& e) {
            QCOMPARE(e.Message(), QStringLiteral("The specified path is too long"));
        }
    }
};

QTEST_GUILESS_MAIN(TestMIOUtils)
#include "tst_mioutils.moc"
