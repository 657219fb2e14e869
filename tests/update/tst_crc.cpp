#include <m.crc.h>
#include <svc.bsl430.h>

#include <QProcess>
#include <QRandomGenerator>
#include <QTest>

#include <cstring>
#include <memory>

namespace {

quint16 Crc(const QByteArray& AData, quint16 AInit = 0xFFFF)
{
    quint16 crc;
    CrcInit(crc, AInit);
    for (char c : AData)
        CrcUpdate(crc, quint8(c));
    return crc;
}

// The same CRCs from Python's binascii (CRC-CCITT from a given start value), all in one run:
// one "start hex-bytes" line per case on its standard input, one CRC per line back.
QList<quint16> PythonCrcs(const QList<QPair<QByteArray, quint16>>& ACases)
{
    QByteArray input;
    for (const auto& [data, init] : ACases)
        input += QByteArray::number(init) + ' ' + data.toHex() + '\n';
    QProcess python;
    python.start("python3", {"-c",
                             "import binascii, sys\n"
                             "for line in sys.stdin:\n"
                             "    init, _, data = line.strip().partition(' ')\n"
                             "    print(binascii.crc_hqx(bytes.fromhex(data), int(init)))"});
    if (!python.waitForStarted(30000))
        qFatal("python3 did not start");
    python.write(input);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000) || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0)
        qFatal("python3 failed: %s", python.readAllStandardError().constData());
    QList<quint16> crcs;
    for (const QByteArray& line : python.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            crcs << quint16(line.trimmed().toUInt());
    if (crcs.size() != ACases.size())
        qFatal("unexpected python3 output");
    return crcs;
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
        QTest::addColumn<uint>("expected");
        QRandomGenerator random(20240611);
        auto bytes = [&random](int ACount) {
            QByteArray data(ACount, Qt::Uninitialized);
            for (char& c : data)
                c = char(random.bounded(256));
            return data;
        };
        const QList<std::tuple<const char*, QByteArray, quint16>> cases{
            {"one byte", bytes(1), 0xFFFF},
            {"odd length", bytes(37), 0xFFFF},
            {"erase block", bytes(512), 0xFFFF},
            {"verification block", bytes(5000), 0xFFFF},
            {"all 0xFF", QByteArray(4096, char(0xFF)), 0xFFFF},
            {"all zero", QByteArray(300, '\0'), 0xFFFF},
            {"start value 0", bytes(100), 0x0000},
            {"start value 0x1D0F", bytes(100), 0x1D0F},
        };
        QList<QPair<QByteArray, quint16>> inputs;
        for (const auto& [name, data, init] : cases)
            inputs << qMakePair(data, init);
        const QList<quint16> expected = PythonCrcs(inputs);
        for (qsizetype i = 0; i < cases.size(); ++i)
            QTest::newRow(std::get<0>(cases[i])) << std::get<1>(cases[i]) << uint(std::get<2>(cases[i])) << uint(expected[i]);
    }
    void matchesPython()
    {
        QFETCH(QByteArray, data);
        QFETCH(uint, init);
        QFETCH(uint, expected);
        QCOMPARE(uint(Crc(data, quint16(init))), expected);
    }

    // A block's CRC covers its valid bytes only, and never reads past its data.
    void blockCrc()
    {
        auto block = std::make_unique<DataBlock>();
        std::memset(block->data, 0x5A, sizeof block->data);
        block->numberOfBytes = 0;
        QCOMPARE(uint(CalcBlockCRC(*block)), 0xFFFFu);
        std::memcpy(block->data, "abc", 3);
        block->numberOfBytes = 3;
        QCOMPARE(uint(CalcBlockCRC(*block)), 0x514Au);
        block->numberOfBytes = sizeof block->data;
        const quint16 whole = CalcBlockCRC(*block);
        block->numberOfBytes = 0xFFFFFFFF;
        QCOMPARE(CalcBlockCRC(*block), whole);
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
