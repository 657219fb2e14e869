// The observer thread in the program's Linux world, against the simulated analyzer on a
// umockdev USB bus: arrivals and removals heard by the udev monitor reach the callbacks on
// the main thread.

#include "ObserverWorld.h"

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>
#include <win/udev/UdevDeviceWorld.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <memory>

class TestDvcObserverThUdev : public QObject {
    Q_OBJECT

    // The bus first: nothing may ask umockdev about the mock environment before it exists.
    std::unique_ptr<sim::usb::UsbTestbed> bus;

private slots:
    void initTestCase()
    {
        bus = std::make_unique<sim::usb::UsbTestbed>();
        win::SelectDeviceWorld(win::LinuxDeviceWorld());
    }
    void cleanupTestCase()
    {
        win::SelectDeviceWorld({});
        bus.reset();
    }

    void anAnalyzerPluggedLaterArrivesAndItsUnplugIsARemoval()
    {
        TObserverRun run;
        QStringList seen;
        bool onMain = true;
        const auto note = [&](const char* AWhat, TObservedInfos* AInfos) {
            onMain = onMain && QThread::currentThread() == QCoreApplication::instance()->thread();
            seen << QString::fromLatin1(AWhat) + ' ' + AInfos->VID() + ':' + AInfos->PID();
        };
        run->SetOnArrived([&](TObservedInfos* AInfos) { note("arrived", AInfos); });
        run->SetOnRemoved([&](TObservedInfos* AInfos) { note("removed", AInfos); });
        run->ClearAndReg({GUID_DEVINTERFACE_USB_DEVICE, GUID_DEVCLASS_HIDCLASS});
        run->Search();  // nothing on the bus yet

        auto analyzer = sim::Analyzer::create();
        bus->plug(analyzer);
        QTRY_VERIFY_WITH_TIMEOUT(seen.contains(QStringLiteral("arrived 2047:0200")), 60000);
        analyzer->unplug();
        QTRY_VERIFY_WITH_TIMEOUT(seen.contains(QStringLiteral("removed 2047:0200")), 60000);
        QCOMPARE(seen, (QStringList{"arrived 2047:0200", "removed 2047:0200"}));
        QVERIFY(onMain);
    }
};

QTEST_GUILESS_MAIN(TestDvcObserverThUdev)
#include "tst_dvcobserverth_udev.moc"
