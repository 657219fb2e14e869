// The initialisation fails: with a damaged package, or with a library file that does not
// load. Either way one error box, and the window keeps its start state for the whole run.

#include "WindowHarness.h"

class TestInitFailure : public QObject {
    Q_OBJECT
private slots:
    void failure()
    {
        TWindowHarness harness;
        // An analyzer is attached: detection is never wired after a failure.
        harness.World().AddHidDevice(cAnalyzerIds);
        harness.Create();
        QVERIFY(QTest::qWaitFor([&] { return !harness.Boxes().Shown.isEmpty(); }, 30000));
        QVERIFY(QTest::qWaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, 30000));
        QCoreApplication::processEvents();
        QCOMPARE(harness.Boxes().Shown.size(), 1);
        const TShownBox box = harness.Boxes().Shown.first();
        QCOMPARE(box.Icon, QMessageBox::Critical);
        QString expected = QStringLiteral(EXPECTED_MESSAGE);
        expected.replace("{library}", GetSvcResMng()->BSL430Path());
        QCOMPARE(box.Text, "Fatal error during initailization.\n" + expected);
        QCOMPARE(GetSvcResMng()->Initialized(), PACKAGE_INITIALIZED);
        QVERIFY(!GetSvcBsl430()->Initialized());
        QCOMPARE(vMain->Caption(), QString(" Firmware Updater"));
        QCOMPARE(vMain->LabelBinVersion->Caption(), QString("..."));
        QVERIFY(!vMain->LabelBinVersion->isEnabled());
        QCOMPARE(vMain->LabelCanUpdate->Caption(), cNotDetectedText);
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QCOMPARE(harness.World().Setup->SearchCount(), 0);
        QVERIFY(harness.World().Notifications->RegistrationAttempts().isEmpty());
        // Closing works: no task is left.
        QVERIFY(vMain->Close());
    }
};

QTEST_MAIN(TestInitFailure)
#include "tst_init_failure.moc"
