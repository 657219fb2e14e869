// The observer thread's search over the Linux world's setup classes, against the simulated
// analyzer on a umockdev USB bus, with its hand-offs on a real Qt event loop.

#include "ObserverWorld.h"

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>
#include <win/udev/UdevSetupWorld.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <memory>

class TestDvcObserverThUsb : public QObject {
    Q_OBJECT

    // The bus first: nothing may ask umockdev about the mock environment before it exists.
    std::unique_ptr<sim::usb::UsbTestbed> bus;

private slots:
    void initTestCase()
    {
        bus = std::make_unique<sim::usb::UsbTestbed>();
        win::SelectDeviceWorld({nullptr, std::make_shared<win::TMemoryNotificationWorld>(),
                                std::make_shared<win::TUdevSetupWorld>()});
    }
    void cleanupTestCase()
    {
        win::SelectDeviceWorld({});
        bus.reset();
    }

    void aPluggedAnalyzerIsReportedByTheSearch()
    {
        auto analyzer = sim::Analyzer::create();
        bus->plug(analyzer);
        TObserverRun run;
        QStringList seen;
        bool onMain = true;
        run->SetOnArrived([&](TObservedInfos* AInfos) {
            onMain = onMain && QThread::currentThread() == QCoreApplication::instance()->thread();
            seen << AInfos->VID() + ':' + AInfos->PID() + ' ' + AInfos->DvcDesc();
        });
        run->ClearAndReg({GUID_DEVINTERFACE_USB_DEVICE, GUID_DEVCLASS_HIDCLASS});
        run->Search();
        QTRY_COMPARE_WITH_TIMEOUT(seen.size(), 1, 60000);
        QCOMPARE(seen, QStringList{"2047:0200 MSP430 USB HID BSL"});
        QVERIFY(onMain);

        analyzer->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(bus->nodeCount(), 0, 30000);
        run->Search();
        run.Terminate();
        QTRY_VERIFY_WITH_TIMEOUT(run.Destroyed(), 60000);
        QCOMPARE(seen.size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestDvcObserverThUsb)
#include "tst_dvcobserverth_usb.moc"
