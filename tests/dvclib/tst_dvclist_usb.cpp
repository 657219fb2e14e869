// The present-device list over the Linux world, against the simulated analyzer on a
// umockdev USB bus.

#include <m.dvcList.h>
#include <m.dvcObserver.h>

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>
#include <win/DeviceClassGuids.h>
#include <win/DeviceWorld.h>
#include <win/ErrHandlingApi.h>
#include <win/WinError.h>
#include <win/udev/UdevSetupWorld.h>

#include <QTest>

#include <memory>

class TestDvcListUsb : public QObject {
    Q_OBJECT

    // The bus first: nothing may ask umockdev about the mock environment before it exists.
    std::unique_ptr<sim::usb::UsbTestbed> bus;

private slots:
    void initTestCase()
    {
        bus = std::make_unique<sim::usb::UsbTestbed>();
        win::SelectDeviceWorld({nullptr, nullptr, std::make_shared<win::TUdevSetupWorld>()});
    }
    void cleanupTestCase()
    {
        win::SelectDeviceWorld({});
        bus.reset();
    }

    void aPluggedAnalyzerIsListedInTheHidClass()
    {
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        QCOMPARE(list.Count(), 0);

        auto analyzer = sim::Analyzer::create();
        bus->plug(analyzer);
        list.ClearAndSearch({GUID_DEVINTERFACE_USB_DEVICE, GUID_DEVCLASS_HIDCLASS});
        QCOMPARE(list.Count(), 1);
        TObservedInfos infos;
        QVERIFY(list.AsInfos(0, &infos));
        QCOMPARE(infos.Lines(), (QStringList{"classguid={745A17A0-74D3-11D0-B6FE-00A0C90F57DA}",
                                             "DeviceDesc=MSP430 USB HID BSL",
                                             "VIdPId=HID\\VID_2047&PID_0200&REV_0100, HID\\VID_2047&PID_0200"}));
        QCOMPARE(infos.VID(), QStringLiteral("2047"));
        QCOMPARE(infos.PID(), QStringLiteral("0200"));
        QVERIFY(infos.ClassGUID() == GUID_DEVCLASS_HIDCLASS);

        TWinDevice* device = list.Devices(0);
        QCOMPARE(device->DeviceClassName(), QStringLiteral("HIDClass"));
        QCOMPARE(device->Manufacturer(), QStringLiteral("Texas Instruments"));
        QCOMPARE(device->Enumerator(), QStringLiteral("HID"));
        QCOMPARE(device->DeviceClassDescription(), QStringLiteral("Human Interface Devices"));
        // A property the device does not have answers as the platform does.
        SP_DEVINFO_DATA element = device->DeviceInfoData();
        DWORD type = 0, required = 0;
        QVERIFY(!SetupDiGetDeviceRegistryPropertyW(device->DeviceListHandle(), &element, SPDRP_FRIENDLYNAME, &type,
                                                   nullptr, 0, &required));
        QCOMPARE(GetLastError(), ERROR_INVALID_DATA);

        analyzer->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(bus->nodeCount(), 0, 30000);
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        QCOMPARE(list.Count(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDvcListUsb)
#include "tst_dvclist_usb.moc"
