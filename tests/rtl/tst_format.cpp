#include <rtl/SysUtils.h>

#include <QTest>

class TestFormat : public QObject {
    Q_OBJECT
private slots:
    void directives_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QVariantList>("args");
        QTest::addColumn<QString>("expected");
        QTest::newRow("string and counter") << "%s[%d]" << QVariantList{"TdvcObserverTh", 2} << "TdvcObserverTh[2]";
        QTest::newRow("two-digit seconds") << "Total programming time is %.2d.%d" << QVariantList{5, 7} << "Total programming time is 05.7";
        QTest::newRow("wide seconds untouched") << "%.2d" << QVariantList{12} << "12";
        QTest::newRow("negative padded") << "%.3d" << QVariantList{-5} << "-005";
        QTest::newRow("pointer low 32 bits") << "%p" << QVariantList{quint64(0x1234567890ABCDEFull)} << "90ABCDEF";
        QTest::newRow("pointer padded") << "%p" << QVariantList{quint64(0xBEEF)} << "0000BEEF";
        QTest::newRow("quoted string") << "AMsg: \"%s\", ASleep: %d" << QVariantList{QString(), -1} << "AMsg: \"\", ASleep: -1";
        QTest::newRow("percent") << "100%%" << QVariantList{} << "100%";
        QTest::newRow("width") << "[%5s|%-3d]" << QVariantList{"ab", 7} << "[   ab|7  ]";
        QTest::newRow("hex") << "%.4x" << QVariantList{0xAB} << "00AB";
    }
    void directives()
    {
        QFETCH(QString, format);
        QFETCH(QVariantList, args);
        QFETCH(QString, expected);
        QCOMPARE(Format(format, args), expected);
    }

    void mismatchRaisesConvertError_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QVariantList>("args");
        QTest::newRow("missing argument") << "%s %s" << QVariantList{"a"};
        QTest::newRow("string for integer") << "%d" << QVariantList{"a"};
        QTest::newRow("integer for string") << "%s" << QVariantList{1};
        QTest::newRow("dangling percent") << "50%" << QVariantList{};
        QTest::newRow("unknown directive") << "%q" << QVariantList{1};
    }
    void mismatchRaisesConvertError()
    {
        QFETCH(QString, format);
        QFETCH(QVariantList, args);
        try {
            Format(format, args);
            QFAIL("no exception");
        } catch (const EConvertError& e) {
            QCOMPARE(e.Message(), QString("Format '%1' invalid or incompatible with argument").arg(format));
        }
    }
};

QTEST_GUILESS_MAIN(TestFormat)
#include "tst_format.moc"
