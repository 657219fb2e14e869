// The Linux world: arrivals and removals on a umockdev USB bus through the device observer,
// with the simulated analyzer, recorded devices and devices described here beside it.
#include <m.dvcList.h>
#include <m.dvcObserver.h>

#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>
#include <win/DeviceClassGuids.h>
#include <win/DeviceWorld.h>
#include <win/udev/UdevDeviceWorld.h>

#include <rtl/GUID.h>

#include <QDeadlineTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>

namespace {

const QString cDevices = QStringLiteral(DEVICE_FIXTURES);

struct TNotice {
    QString Direction;
    QStringList Lines;
};

const QString cUsbKeys = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\USB\\");

// A hub with a serial adapter behind it, as udev shows them.
const QString cHubWithAdapter = QStringLiteral(
    "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-1\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=5e3/608/6060\nE: ID_USB_INTERFACES=:090000:\n"
    "A: idVendor=05e3\nA: idProduct=0608\nA: product=USB2.0 Hub\nA: bDeviceClass=09\n\n"
    "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-1/3-1:1.0\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=09\n\n"
    "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-1/3-1.2\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=10c4/ea60/100\nE: ID_SERIAL_SHORT=0042\n"
    "E: ID_USB_INTERFACES=:ff0000:\n"
    "A: idVendor=10c4\nA: idProduct=ea60\nA: product=CP2102 USB to UART Bridge Controller\nA: serial=0042\n\n"
    "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-1/3-1.2/3-1.2:1.0\n"
    "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=ff\n\n"
    "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-1/3-1.2/3-1.2:1.0/ttyUSB3\nE: SUBSYSTEM=usb-serial\n\n"
    "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-1/3-1.2/3-1.2:1.0/ttyUSB3/tty/ttyUSB3\nE: SUBSYSTEM=tty\n");

// A usb_device of vendor 1209 on a port of the fourth bus, with its serial as sysfs holds it
// and as udev rewrote it.
QString UsbDevice(int APort, const QString& AProduct, const QString& AName, const QString& ASerial,
                  const QString& AUdevSerial)
{
    return QStringLiteral("P: /devices/pci0000:00/0000:00:1d.0/usb4/4-%1\n"
                          "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=1209/%2/100\nE: ID_SERIAL_SHORT=%5\n"
                          "A: idVendor=1209\nA: idProduct=%2\nA: product=%3\nA: serial=%4\n\n")
        .arg(QString::number(APort), AProduct, AName, ASerial, AUdevSerial);
}

// Devices added for one case; those still there when it ends early (a failed check) are taken
// away, so that the next case does not meet them on the bus.
class TAdded {
public:
    TAdded(sim::usb::UsbTestbed& ABus, std::vector<std::string> APaths) : FBus(ABus), FPaths(std::move(APaths)) {}
    TAdded(const TAdded&) = delete;
    TAdded& operator=(const TAdded&) = delete;
    ~TAdded() { Remove(); }
    void Remove() { FBus.removeDevices(std::exchange(FPaths, {})); }

private:
    sim::usb::UsbTestbed& FBus;
    std::vector<std::string> FPaths;
};

}  // namespace

class TestDvcUdev : public QObject {
    Q_OBJECT

    // The bus first: nothing may ask umockdev about the mock environment before it exists.
    std::unique_ptr<sim::usb::UsbTestbed> bus;
    std::shared_ptr<win::TUdevDeviceWorld> world;
    std::unique_ptr<TdvcObserver> observer;
    QList<TNotice> notices;
    QTemporaryDir files;

    // Adds the devices of a description in umockdev's format.
    std::unique_ptr<TAdded> Add(const QString& ADescription)
    {
        static int count = 0;
        const QString path = files.filePath(QStringLiteral("devices%1.umockdev").arg(++count));
        QFile file(path);
        std::vector<std::string> paths;
        if (file.open(QIODevice::WriteOnly) && file.write(ADescription.toUtf8()) >= 0) {
            file.close();
            paths = bus->addDevices(path.toStdString());
        }
        return std::make_unique<TAdded>(*bus, std::move(paths));
    }

    // Serves the monitor until ACount notices are in, without polling pauses.
    bool WaitForNotices(qsizetype ACount)
    {
        const QDeadlineTimer deadline(60000);
        while (notices.size() < ACount && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        return notices.size() == ACount;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(files.isValid());
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

    // A hub's key describes the hub and its own interfaces, not the devices behind it, whether
    // it arrives or is learnt at start.
    void hubDescribedByItself_data()
    {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("arrives") << false;
        QTest::newRow("present at start") << true;
    }
    void hubDescribedByItself()
    {
        QFETCH(bool, atStart);
        const auto added = Add(cHubWithAdapter);
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 30000);
        const QString classguid = QStringLiteral("classguid=") + GUIDToString(GUID_DEVINTERFACE_USB_DEVICE);
        QCOMPARE(notices.at(0).Lines, (QStringList{classguid, "DeviceType=dtUSB", "DeviceDesc=USB2.0 Hub",
                                                   "VIdPId=VID_05E3&PID_0608\\3-1", "Direction=ddArrived"}));
        QCOMPARE(notices.at(1).Lines,
                 (QStringList{classguid, "DeviceType=dtComport", "DeviceDesc=CP2102 USB to UART Bridge Controller",
                              "FriendlyName=CP2102 USB to UART Bridge Controller (ttyUSB3)",
                              "VIdPId=VID_10C4&PID_EA60\\0042", "Direction=ddArrived"}));
        // What a world made now learns of them by its enumeration.
        const win::TDeviceWorld learnt = atStart ? win::LinuxDeviceWorld() : win::DeviceWorld();
        auto value = [&](const QString& AKey, const QString& AName) {
            const auto stored = learnt.Registry->Value(HKEY_LOCAL_MACHINE, cUsbKeys + AKey, AName);
            return stored ? stored->Data : QByteArray();
        };
        auto text = [](const QString& AText) { return win::RegistryString(AText).Data; };
        QCOMPARE(value("VID_05E3&PID_0608\\3-1", "ClassGUID"), text(GUIDToString(GUID_DEVCLASS_USB)));
        QCOMPARE(value("VID_05E3&PID_0608\\3-1", "FriendlyName"), QByteArray());
        QCOMPARE(value("VID_10C4&PID_EA60\\0042", "ClassGUID"), text(GUIDToString(GUID_DEVCLASS_PORTS)));
        QCOMPARE(value("VID_10C4&PID_EA60\\0042", "FriendlyName"),
                 text("CP2102 USB to UART Bridge Controller (ttyUSB3)"));
        added->Remove();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 4, 30000);
    }

    // The arrival reads the serial where udev keeps it; the removal, whose sysfs is gone, must
    // name the same key, whatever udev made of the serial ("/" and blanks).
    void arrivalAndRemovalNameOneKey()
    {
        const auto added = Add(UsbDevice(9000, "0001", "Probe Board", "SN/1 2", "SN_1_2"));
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        added->Remove();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 30000);
        const QStringList expected{QStringLiteral("classguid=") + GUIDToString(GUID_DEVINTERFACE_USB_DEVICE),
                                   "DeviceType=dtUSB", "DeviceDesc=Probe Board", "VIdPId=VID_1209&PID_0001\\SN_1_2"};
        QCOMPARE(notices.at(0).Lines, expected + QStringList{"Direction=ddArrived"});
        QCOMPARE(notices.at(1).Lines, expected + QStringList{"Direction=ddRemoved"});
    }

    // A device's texts are cleaned the same way whether the monitor hears it or the HID-class
    // search lists it: at most 256 characters, control characters blanked.
    void textsCleanedOnBothPaths()
    {
        const QByteArray product = "Probe\nBoard" + QByteArray(4000, 'x');
        const auto added = Add(QStringLiteral(
            "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-4\n"
            "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: PRODUCT=1209/3/100\n"
            "A: idVendor=1209\nA: idProduct=0003\nA: bcdDevice=0100\nH: product=%1\nH: manufacturer=%2\n\n"
            "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-4/3-4:1.0\n"
            "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nA: bInterfaceClass=03\n\n"
            "P: /devices/pci0000:00/0000:00:1d.0/usb3/3-4/3-4:1.0/0003:1209:0003.0100\n"
            "E: SUBSYSTEM=hid\nE: HID_ID=0003:00001209:00000003\nE: HID_NAME=Probe\n")
            .arg(QString::fromLatin1(product.toHex()), QString::fromLatin1(QByteArray("ACME\tLtd\r").toHex())));
        const QString cleaned = QStringLiteral("Probe Board") + QString(245, u'x');
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        QVERIFY(notices.at(0).Lines.contains("DeviceDesc=" + cleaned));
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        bool listed = false;
        for (std::int32_t i = 0; i < list.Count(); ++i) {
            TObservedInfos infos;
            QVERIFY(list.AsInfos(i, &infos));
            if (infos.PID() != QLatin1String("0003"))
                continue;
            listed = true;
            QCOMPARE(infos.DvcDesc(), cleaned);
            QCOMPARE(list.Devices(i)->Manufacturer(), QString("ACME Ltd"));
        }
        QVERIFY(listed);
        added->Remove();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 30000);
    }

    // Thousands of distinct devices come and go in one run (a service bench, a device with a
    // new serial at every plug): new ones are still heard and described, the keys of present
    // devices stay, and those of devices that left go, oldest first.
    void manyDevicesComeAndGo()
    {
        const auto keeper = Add(UsbDevice(0, "0011", "Keeper", "KEEP", "KEEP"));
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        // More than the 4096 keys kept, in batches that the monitor's socket holds at once (ten
        // datagrams by default).
        constexpr int cRounds = 516, cPerRound = 8;
        for (int round = 0; round < cRounds; ++round) {
            notices.clear();
            QString description;
            for (int i = 1; i <= cPerRound; ++i) {
                const int port = round * cPerRound + i;
                const QString serial = QStringLiteral("P%1").arg(port);
                description += UsbDevice(port, "0010", "Passing", serial, serial);
            }
            const auto added = Add(description);
            QVERIFY(WaitForNotices(cPerRound));
            added->Remove();
            QVERIFY(WaitForNotices(2 * cPerRound));
            for (const TNotice& notice : std::as_const(notices))
                QVERIFY2(notice.Lines.contains("DeviceDesc=Passing"), qPrintable(notice.Lines.join(u',')));
        }
        auto known = [&](const QString& AKey) {
            return world->KeyAccess(HKEY_LOCAL_MACHINE, cUsbKeys + AKey) == win::TRegistryKeyAccess::Readable;
        };
        QVERIFY(!known("VID_1209&PID_0010\\P1"));
        QVERIFY(known(QStringLiteral("VID_1209&PID_0010\\P%1").arg(cRounds * cPerRound)));
        // The device present all along leaves: its key still describes it (its removal alone
        // would say "USB Input Device").
        notices.clear();
        keeper->Remove();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        QVERIFY(notices.at(0).Lines.contains("DeviceDesc=Keeper"));
        QVERIFY(notices.at(0).Lines.contains("VIdPId=VID_1209&PID_0011\\KEEP"));
    }

    // device-probe lists what is present when it starts, as the window's first search does.
    void probeListsPresentDevices()
    {
        auto analyzer = sim::Analyzer::create();
        bus->plug(analyzer);
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 1, 30000);
        QProcess probe;
        probe.start(QStringLiteral(DEVICE_PROBE), {"--count", "1"});
        const bool ended = probe.waitForFinished(60000);
        const QString output = QString::fromLocal8Bit(probe.readAllStandardOutput());
        QVERIFY2(ended, qPrintable(output));
        QCOMPARE(probe.exitCode(), 0);
        QVERIFY2(output.contains("present\n  classguid={745A17A0-74D3-11D0-B6FE-00A0C90F57DA}\n"
                                 "  DeviceDesc=MSP430 USB HID BSL\n"
                                 "  VIdPId=HID\\VID_2047&PID_0200&REV_0100, HID\\VID_2047&PID_0200\n"),
                 qPrintable(output));
        analyzer->unplug();
        QTRY_COMPARE_WITH_TIMEOUT(notices.size(), 2, 30000);
    }
};

QTEST_GUILESS_MAIN(TestDvcUdev)
#include "tst_dvc_udev.moc"
