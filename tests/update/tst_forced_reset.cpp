// Built once per test package: FORCED_RESET_SENDS is how often a package with the RAM BSL
// version text PACKAGE_RAM_BSL_VERSION sends the forced-reset image.

#include "FlashingHarness.h"

#include <QTest>

namespace {

const QString cForcedReset = "BSL_RX_TXT(\"@0120\\r\\n04 A5 \\r\\nq\",1)";

}  // namespace

class TestForcedReset : public QObject {
    Q_OBJECT
private slots:
    void sentAsTheVersionAsks()
    {
        TFlashingHarness h;
        QCOMPARE(h.ResMng().RamBSLVersion(), QString(PACKAGE_RAM_BSL_VERSION));
        auto analyzer = h.Plug();
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        QCOMPARE(r.Calls.count(cForcedReset), FORCED_RESET_SENDS);
        // The reset follows the verification, the report of the time and comes before "Done!".
        QVERIFY(r.Calls.indexOf(cForcedReset) > r.Calls.lastIndexOf(QRegularExpression("^BSL_CRC_Check\\(.*")));
        QVERIFY(r.Reports.contains("20|Sending RAM BSL v" PACKAGE_RAM_BSL_VERSION));
        QVERIFY(r.Reports.contains("30|Done RAM BSL v" PACKAGE_RAM_BSL_VERSION));
        QCOMPARE(r.Reports.last(), QString("100|Done!"));
        QCOMPARE(analyzer->stats().resets, std::uint64_t(1));
        QCOMPARE(analyzer->mode(), sim::Mode::Application);
        QString where;
        QVERIFY2(h.FlashHoldsImage(*analyzer, where), qPrintable("differs at 0x" + where));
    }

    // A first sending that fails is not repeated and not reported; the update still succeeds.
    void failedFirstSending()
    {
        TFlashingHarness h;
        auto analyzer = h.Plug();
        h.OnCall([&analyzer](const QString& AName, const QString& AArgs) {
            if (AName == "BSL_RX_TXT" && AArgs.startsWith("\"@0120"))
                analyzer->unplug();
        });
        const TRunResult r = h.Run();
        QVERIFY(r.Result);
        QCOMPARE(r.Calls.count(cForcedReset), 1);
        QCOMPARE(r.Reports.mid(r.Reports.size() - 2), (QStringList{"90|Total programming time is 00.0", "100|Done!"}));
        QCOMPARE(r.Exits.last(), QString("CustomSelectedFirmware=True"));
        QCOMPARE(analyzer->stats().resets, std::uint64_t(0));
    }
};

QTEST_GUILESS_MAIN(TestForcedReset)
#include "tst_forced_reset.moc"
