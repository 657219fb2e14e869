// The Linux world: arrivals and removals on a umockdev USB bus through the device observer,
// with the simulated analyzer and recorded devices beside it.
#include <m.dvcObserver.h>

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>
#include <win/DeviceClassGuids.h>
#include <win/DeviceWorld.h>
#include <win/udev/UdevDeviceWorld.h>

#include <QTest>

#include <memory>

namespace {

const QString cDevices = QStringLiteral(DEVICE_FIXTURES);

struct TNotice {
    QString Direction;
    QStringList Lines;
};

}  // namespace

class TestDvcUdev : public QObject {
    Q_OBJECT

    // The bus first: nothing may ask umockdev about the mock environment before it exists.
    std::unique_ptr<sim::usb::UsbTestbed> bus;
    std::shared_ptr<win::TUdevDeviceWorld> world;
    std::unique_ptr<TdvcObserver> observer;
    QList<TNotice> notices;

private slots:
    void initTestCase()
    {
        bus = std::make_unique<sim::usb::UsbTestbed>();
        const win::TDeviceWorld linux = win::LinuxDeviceWorld();
        world = std::dynamic_pointer_cast<win::TUdevDeviceWorld>(linux.Notifications);
        QVERIFY(world && world->Monitoring());
        win::SelectDeviceWorld(linux);
    }
    void init()
    {
        notices.clear();
        observer = std::make_unique<TdvcObserver>();
        observer->RegClasses({GUID_DEVINTERFACE_USB_DEVICE});
        observer->SetOnArrived([this](TStringList* AInfos) { notices.append({"arrived", AInfos->Lines()}); });
        observer->SetOnRemoved([this](TStringList* AInfos) { notices.append({"removed", AInfos->Lines()}); });
    }
    void cleanup() { observer.reset(); }
    void cleanupTestCase()
    {
        win::SelectDeviceWorld({});
        world.reset();
        bus.reset();
    }

    void analyzerArrivesAndLeaves()
    {
        auto analyzer = sim::Analyzer::create();
        bus->plug(analyzer);
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        const QStringList expected{"classguid={A5DCBF10-6530-11D2-901F-00C04FB951ED}", "DeviceType=dtNone",
                                   "DeviceDesc=MSP430 USB HID BSL", "VIdPId=VID_2047&PID_0200\\1-1"};
        QCOMPARE(notices.at(0).Direction, QString("arrived"));
        QCOMPARE(notices.at(0).Lines, expected + QStringList{"Direction=ddArrived"});
        TObservedInfos infos;
        for (const QString& line : notices.at(0).Lines)
            infos.Add(line);
        QCOMPARE(infos.VID(), QString("2047"));
        QCOMPARE(infos.PID(), QString("0200"));
        // The key's class: the analyzer's boot loader is a HID device.
        QCOMPARE(win::DeviceWorld().Registry->Value(HKEY_LOCAL_MACHINE,
                     "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2047&PID_0200\\1-1", "ClassGUID")
                     .has_value(), true);

        analyzer->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 30000);
        QCOMPARE(notices.at(1).Direction, QString("removed"));
        QCOMPARE(notices.at(1).Lines, expected + QStringList{"Direction=ddRemoved"});
    }

    void recordedDevicesBesideIt_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("serial adapter") << "usb-serial-cp2102.umockdev"
            << QStringList{"classguid={A5DCBF10-6530-11D2-901F-00C04FB951ED}", "DeviceType=dtComport",
                           "DeviceDesc=CP2102 USB to UART Bridge Controller",
                           "FriendlyName=CP2102 USB to UART Bridge Controller (ttyUSB0)",
                           "VIdPId=VID_10C4&PID_EA60\\0001"};
        QTest::newRow("mouse") << "usb-mouse.umockdev"
            << QStringList{"classguid={A5DCBF10-6530-11D2-901F-00C04FB951ED}", "DeviceType=dtNone",
                           "DeviceDesc=USB Optical Mouse", "VIdPId=VID_046D&PID_C077\\1-7"};
    }
    void recordedDevicesBesideIt()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, expected);
        const auto paths = bus->addDevices((cDevices + u'/' + file).toStdString());
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        QCOMPARE(notices.at(0).Lines, expected + QStringList{"Direction=ddArrived"});
        bus->removeDevices(paths);
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 30000);
        QCOMPARE(notices.at(1).Lines, expected + QStringList{"Direction=ddRemoved"});
    }

    // The description filter lets only the serial adapter through.
    void descriptionFilter()
    {
        observer->SetCheckDvcDesc(true);
        observer->SetNotifyCP210(true);
        auto analyzer = sim::Analyzer::create();
        bus->plug(analyzer);
        const auto mouse = bus->addDevices((cDevices + "/usb-mouse.umockdev").toStdString());
        const auto serial = bus->addDevices((cDevices + "/usb-serial-cp2102.umockdev").toStdString());
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        QVERIFY(notices.at(0).Lines.contains("DeviceDesc=CP2102 USB to UART Bridge Controller"));
        bus->removeDevices(mouse);
        bus->removeDevices(serial);
        analyzer->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 30000);
        QCOMPARE(notices.at(1).Direction, QString("removed"));
        QVERIFY(notices.at(1).Lines.contains("DeviceDesc=CP2102 USB to UART Bridge Controller"));
        // Nothing else comes after the last removal was heard.
        QTRY_COMPARE_WITH_TIMEOUT(bus->nodeCount(), 0, 30000);
        QCoreApplication::processEvents();
        QCOMPARE(notices.size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestDvcUdev)
#include "tst_dvc_udev.moc"
