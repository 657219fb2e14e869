#include <m.crc.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryFile>
#include <QTest>

namespace {

quint16 Crc(const QByteArray& AData, quint16 AInit = 0xFFFF)
{
    quint16 crc;
    CrcInit(crc, AInit);
    for (char c : AData)
        CrcUpdate(crc, quint8(c));
    return crc;
}

// The same CRC from Python's binascii (CRC-CCITT, given start value), over a file.
quint16 PythonCrc(const QByteArray& AData, quint16 AInit)
{
    QTemporaryFile file;
    if (!file.open() || file.write(AData) != AData.size() || !file.flush())
        qFatal("cannot write the data file");
    QProcess python;
    python.start("python3", {"-c",
                             "import binascii, sys\n"
                             "data = open(sys.argv[1], 'rb').read()\n"
                             "print(binascii.crc_hqx(data, int(sys.argv[2])))",
                             file.fileName(), QString::number(AInit)});
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        qFatal("python3 failed: %s", python.readAllStandardError().constData());
    bool ok = false;
    const uint value = python.readAllStandardOutput().trimmed().toUInt(&ok);
    if (!ok || value > 0xFFFF)
        qFatal("unexpected python3 output");
    return quint16(value);
}

}  // namespace

class TestCrc : public QObject {
    Q_OBJECT
private slots:
    void checkValues_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<uint>("expected");
        QTest::newRow("no bytes") << QByteArray() << 0xFFFFu;
        QTest::newRow("digits 1 to 9") << QByteArray("123456789") << 0x29B1u;
        QTest::newRow("abc") << QByteArray("abc") << 0x514Au;
    }
    void checkValues()
    {
        QFETCH(QByteArray, data);
        QFETCH(uint, expected);
        QCOMPARE(uint(Crc(data)), expected);
    }

    // Random data of block-like sizes, and other start values, against an independent CRC.
    void matchesPython_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<uint>("init");
        QRandomGenerator random(20240611);
        auto bytes = [&random](int ACount) {
            QByteArray data(ACount, Qt::Uninitialized);
            for (char& c : data)
                c = char(random.bounded(256));
            return data;
        };
        QTest::newRow("one byte") << bytes(1) << 0xFFFFu;
        QTest::newRow("odd length") << bytes(37) << 0xFFFFu;
        QTest::newRow("erase block") << bytes(512) << 0xFFFFu;
        QTest::newRow("verification block") << bytes(5000) << 0xFFFFu;
        QTest::newRow("all 0xFF") << QByteArray(4096, char(0xFF)) << 0xFFFFu;
        QTest::newRow("all zero") << QByteArray(300, '\0') << 0xFFFFu;
        QTest::newRow("start value 0") << bytes(100) << 0x0000u;
        QTest::newRow("start value 0x1D0F") << bytes(100) << 0x1D0Fu;
    }
    void matchesPython()
    {
        QFETCH(QByteArray, data);
        QFETCH(uint, init);
        QCOMPARE(uint(Crc(data, quint16(init))), uint(PythonCrc(data, quint16(init))));
    }

    // The step only depends on the running value, however it was reached.
    void resumesFromAnyValue()
    {
        const QByteArray head("firmware "), tail("image");
        QCOMPARE(Crc(tail, Crc(head)), Crc(head + tail));
    }
};

QTEST_GUILESS_MAIN(TestCrc)
#include "tst_crc.moc"
