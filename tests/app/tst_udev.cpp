// The window over the Linux device world, under umockdev: an analyzer plugged in after the
// start arrives through the udev monitor, is updated through hidapi, and leaves at the reset.

#include "WindowHarness.h"

#include <sim/usb/UsbTestbed.h>
#include <win/udev/UdevDeviceWorld.h>

class TestUdev : public QObject {
    Q_OBJECT

    // The bus first: nothing may ask umockdev about the mock environment before it exists.
    std::unique_ptr<sim::usb::UsbTestbed> bus;

private slots:
    void initTestCase() { bus = std::make_unique<sim::usb::UsbTestbed>(); }
    void cleanupTestCase() { bus.reset(); }

    void pluggedAfterStart()
    {
        const win::TDeviceWorld world = win::LinuxDeviceWorld();
        QVERIFY(std::static_pointer_cast<win::TUdevDeviceWorld>(world.Registry)->Monitoring());
        TWindowHarness harness(world);
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        QCOMPARE(vMain->LabelCanUpdate->Caption(), cNotDetectedText);
        auto analyzer = sim::Analyzer::create(sim::Options{sim::Timing::Instant, {}});
        analyzer->load(0xFFE0, PackagePassword());
        bus->plug(analyzer);
        QVERIFY(QTest::qWaitFor([] { return vMain->ButtonUpdate->isEnabled(); }, 60000));
        QCOMPARE(vMain->LabelCanUpdate->Caption(), cDetectedText);
        QTest::mouseClick(vMain->ButtonUpdate, Qt::LeftButton);
        QVERIFY(QTest::qWaitFor([] { return vMain->ProgressBar->Position() == 100; }, 120000));
        QVERIFY(QTest::qWaitFor([] { return vMain->Memo->Lines.Count() > 0 && vMain->Memo->Lines.Strings(vMain->Memo->Lines.Count() - 1) == "Done!"; }, 60000));
        QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
        // The forced reset takes the boot loader off the bus: its removal is heard.
        QVERIFY(QTest::qWaitFor([] { return vMain->LabelCanUpdate->Caption() == cNotDetectedText; }, 60000));
        QVERIFY(harness.Boxes().Shown.isEmpty());
    }
};

QTEST_MAIN(TestUdev)
#include "tst_udev.moc"
