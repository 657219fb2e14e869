#include <vcl/Fonts.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QTest>

class TestFonts : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { RegisterPlatformFonts(); }

    // Tahoma travels with the program, regular and bold, whatever the desktop has installed.
    void tahoma()
    {
        QCOMPARE(QFontDatabase::styles("Tahoma"), QStringList({"Regular", "Bold"}));
        const QFont font = PlatformFont({"Tahoma"}, 13);
        QCOMPARE(QFontInfo(font).family(), QString("Tahoma"));
        QCOMPARE(QFontInfo(font).pixelSize(), 13);
        const QFont bold = PlatformFont({"Tahoma"}, 19, true);
        QVERIFY(QFontInfo(bold).bold());
        QCOMPARE(QFontInfo(bold).family(), QString("Tahoma"));
        QCOMPARE(QFontInfo(bold).styleName(), QString("Bold"));
    }

    // A family that is not installed: the next one named, else the desktop's sans font.
    void fallback()
    {
        const QString sans = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        QCOMPARE(PlatformFont({"No Such Family"}, 11).family(), sans);
        if (QFontDatabase::hasFamily("Tahoma"))
            QCOMPARE(PlatformFont({"Segoe UI", "Tahoma"}, 11).family(), QString("Tahoma"));
        QCOMPARE(PlatformFont({"No Such Family"}, 11).pixelSize(), 11);
    }
};

QTEST_MAIN(TestFonts)
#include "tst_fonts.moc"
