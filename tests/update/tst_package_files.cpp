// The update package files in resources/: exact sizes and texts, the images as srec_info and
// srec_cat read them, and their origin in tools/gen-package.

#include <support/PackageTestSupport.h>

#include <QDir>
#include <QRegularExpression>
#include <QTest>

using namespace PackageTest;

namespace {

QString Resource(const QString& AName)
{
    return QStringLiteral(RESOURCES_DIR "/") + AName;
}

// Runs a tool; its standard output, or a null array when it failed.
QByteArray Run(const QString& AProgram, const QStringList& AArgs)
{
    QProcess process;
    process.start(AProgram, AArgs);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        qWarning() << AProgram << AArgs << process.readAllStandardError();
        return QByteArray();
    }
    QByteArray out = process.readAllStandardOutput();
    return out.isNull() ? QByteArray("") : out;
}

// The bytes of a TI-TXT image in [AFrom, ATo).
QByteArray Bytes(const QString& AImage, uint AFrom, uint ATo)
{
    return Run(QStringLiteral("srec_cat"), {AImage, "-ti-txt", "-crop", QString::number(AFrom), QString::number(ATo),
                                            "-offset", QStringLiteral("-%1").arg(AFrom), "-o", "-", "-binary"});
}

// The 32 bytes of the password block.
QByteArray PassBytes()
{
    const QStringList lines = QString::fromLatin1(ReadAll(Resource("Pass"))).split(QStringLiteral("\r\n"));
    QString hex = lines.value(1) + lines.value(2);
    return QByteArray::fromHex(hex.remove(u' ').toLatin1());
}

}  // namespace

class TestPackageFiles : public QObject {
    Q_OBJECT
private slots:
    void sizes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<qint64>("size");
        QTest::newRow("BinVorel") << "BinVorel" << qint64(805233);
        QTest::newRow("BinInfo") << "BinInfo" << qint64(55);
        QTest::newRow("Pass") << "Pass" << qint64(108);
        QTest::newRow("RAM_BSL") << "RAM_BSL" << qint64(9610);
        QTest::newRow("RAM_BSL_Version") << "RAM_BSL_Version" << qint64(11);
        QTest::newRow("ForcedBOR") << "ForcedBOR" << qint64(16);
    }
    void sizes()
    {
        QFETCH(QString, name);
        QFETCH(qint64, size);
        QCOMPARE(QFileInfo(Resource(name)).size(), size);
    }

    void texts()
    {
        QCOMPARE(ReadAll(Resource("ForcedBOR")), QByteArray("@0120\r\n04 A5 \r\nq"));
        QCOMPARE(ReadAll(Resource("RAM_BSL_Version")), QByteArray("00.07.08.38"));
        QCOMPARE(ReadAll(Resource("BinInfo")), QByteArray("FileName=Q452_2.04.0.txt\r\nTarget=Q452\r\nVersion=2.04.0\r\n"));
        const QRegularExpression pass(QStringLiteral("^@FFE0\r\n((?:[0-9A-F]{2} ){16}\r\n){2}q$"));
        QVERIFY(pass.match(QString::fromLatin1(ReadAll(Resource("Pass")))).hasMatch());
    }

    void imageLayout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("firstLine");
        QTest::newRow("BinVorel") << "BinVorel" << "@8000";
        QTest::newRow("RAM_BSL") << "RAM_BSL" << "@2500";
    }
    void imageLayout()
    {
        QFETCH(QString, name);
        QFETCH(QString, firstLine);
        const QString text = QString::fromLatin1(ReadAll(Resource(name)));
        QVERIFY(text.endsWith(QStringLiteral("\r\nq\r\n")));
        QCOMPARE(text.count(u'\n'), text.count(QStringLiteral("\r\n")));
        QCOMPARE(text.count(u'\r'), text.count(QStringLiteral("\r\n")));
        const QStringList lines = text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.first(), firstLine);
        const QRegularExpression address(QStringLiteral("^@[0-9A-F]{4,5}$"));
        const QRegularExpression data(QStringLiteral("^([0-9A-F]{2} ){16}$"));
        for (const QString& line : lines.mid(0, lines.size() - 2))
            QVERIFY2(address.match(line).hasMatch() || data.match(line).hasMatch(), qPrintable(line));
    }

    void srecInfoReadsTheImages_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("ranges");
        // srec_info joins the adjacent sections 0xFF80-0xFFFF and 0x10000-0x2FFFF.
        QTest::newRow("BinVorel") << "BinVorel" << QStringList{"008000 - 00FDFF", "00FF80 - 02FFFF", "031000 - 047FFF"};
        QTest::newRow("RAM_BSL") << "RAM_BSL" << QStringList{"2500 - 30FF"};
    }
    void srecInfoReadsTheImages()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, ranges);
        const QString info = QString::fromLatin1(Run(QStringLiteral("srec_info"), {Resource(name), "-ti-txt"}));
        QVERIFY(info.contains(QStringLiteral("Format: ti-txt")));
        QStringList found;
        const QRegularExpression range(QStringLiteral("([0-9A-F]+ - [0-9A-F]+)"));
        for (auto it = range.globalMatch(info.mid(info.indexOf(QStringLiteral("Data:")))); it.hasNext();)
            found << it.next().captured(1);
        QCOMPARE(found, ranges);
    }

    void ramBslStartsWithItsVersion()
    {
        QCOMPARE(Bytes(Resource("RAM_BSL"), 0x2500, 0x2504), QByteArray::fromHex("00070838"));
    }

    void passwordIsTheOldFirmwaresVectors()
    {
        const QString folder = qEnvironmentVariable("TMPDIR") + "/old";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!Run(QStringLiteral(GEN_PACKAGE), {"--out", folder, "--old-image", folder + "/old.txt"}).isNull());
        const QByteArray old = Bytes(folder + "/old.txt", 0xFFE0, 0x10000);
        QCOMPARE(old.size(), 32);
        QCOMPARE(PassBytes(), old);
        // The new firmware brings the password of the next update.
        const QByteArray next = Bytes(Resource("BinVorel"), 0xFFE0, 0x10000);
        QCOMPARE(next.size(), 32);
        QVERIFY(next != old);
        QCOMPARE(next.right(2), QByteArray::fromHex("0080"));  // reset vector: 0x8000
    }

    void scriptGivesTheSameFiles()
    {
        const QString folder = qEnvironmentVariable("TMPDIR") + "/again";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(!Run(QStringLiteral(GEN_PACKAGE), {"--out", folder}).isNull());
        const QStringList names{"BinVorel", "BinInfo", "Pass", "RAM_BSL", "RAM_BSL_Version", "ForcedBOR"};
        QStringList sorted = names;
        sorted.sort();
        QCOMPARE(Entries(folder), sorted);
        for (const QString& name : names)
            QVERIFY2(ReadAll(folder + "/" + name) == ReadAll(Resource(name)), qPrintable(name));
    }
};

QTEST_GUILESS_MAIN(TestPackageFiles)
#include "tst_package_files.moc"
