// The window over the Linux device world, under umockdev: an analyzer plugged in after the
// start arrives through the udev monitor, and its unplugging is heard as a removal.

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
        // Taken off the bus: its removal is heard.
        analyzer->unplug();
        QVERIFY(QTest::qWaitFor([] { return vMain->LabelCanUpdate->Caption() == cNotDetectedText; }, 60000));
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QVERIFY(harness.Boxes().Shown.isEmpty());
    }
};

QTEST_MAIN(TestUdev)
#include "tst_udev.moc"
