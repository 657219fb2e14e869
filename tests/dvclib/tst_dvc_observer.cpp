// Observed-device information, the description list and the device observer.
#include "MemoryWorld.h"

#include <m.dvcObserver.h>

#include <codesite/Capture.h>
#include <mCodeSite.h>
#include <mCodeSiteHelper.h>
#include <rtl/Units.h>
#include <win/DeviceClassGuids.h>

#include <win/Dbt.h>

#include <QTest>

#include <algorithm>

#include <optional>

Q_DECLARE_METATYPE(TGUID)

namespace {

const QString cPorts = "{4D36E978-E325-11CE-BFC1-08002BE10318}";

TObservedInfos InfosOf(const QStringList& ALines)
{
    TObservedInfos infos;
    for (const QString& line : ALines)
        infos.Add(line);
    return infos;
}

}  // namespace

class TestDvcObserver : public QObject {
    Q_OBJECT

    std::optional<TUnits> FUnits;

private slots:
    void init()
    {
        FUnits.emplace(std::initializer_list<TUnitInit>{
            {mCodeSite::Initialization, mCodeSite::Finalization},
            {mCodeSiteHelper::Initialization, mCodeSiteHelper::Finalization},
        });
    }
    void cleanup() { FUnits.reset(); }

    void vidAndPid_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("vid");
        QTest::addColumn<QString>("pid");
        QTest::newRow("broadcast") << QStringList{"VIdPId=VID_2047&PID_0200\\6&2C3A1B&0&1"} << "2047" << "0200";
        QTest::newRow("hardware identifiers, first match")
            << QStringList{"VIdPId=HID\\VID_2047&PID_0200&REV_0200, HID\\VID_2047&PID_0200"} << "2047" << "0200";
        QTest::newRow("lower-case markers") << QStringList{"VIdPId=vid_2047&pid_0200"} << "" << "";
        QTest::newRow("digits keep their case") << QStringList{"VIdPId=VID_1a2B&PID_00ff"} << "1a2B" << "00ff";
        QTest::newRow("no vendor digits") << QStringList{"VIdPId=VID_&PID_0200"} << "" << "0200";
        QTest::newRow("missing") << QStringList{"DeviceDesc=x"} << "" << "";
        QTest::newRow("key in other case") << QStringList{"vidpid=VID_0001&PID_0002"} << "0001" << "0002";
    }
    void vidAndPid()
    {
        QFETCH(QStringList, lines);
        QFETCH(QString, vid);
        QFETCH(QString, pid);
        const TObservedInfos infos = InfosOf(lines);
        QCOMPARE(infos.VID(), vid);
        QCOMPARE(infos.PID(), pid);
    }

    void portAsInteger_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("port");
        QTest::newRow("COM3") << QStringList{"Comport=COM3"} << 3;
        QTest::newRow("COM12") << QStringList{"Comport=COM12"} << 12;
        QTest::newRow("COM007") << QStringList{"Comport=COM007"} << 7;
        QTest::newRow("COM") << QStringList{"Comport=COM"} << -1;
        QTest::newRow("missing") << QStringList{} << -1;
        QTest::newRow("empty") << QStringList{"Comport="} << -1;
        QTest::newRow("largest") << QStringList{"Comport=COM2147483647"} << 2147483647;
        QTest::newRow("too large") << QStringList{"Comport=COM2147483648"} << -1;
        QTest::newRow("far too large") << QStringList{"Comport=COM99999999999999999999"} << -1;
        QTest::newRow("first run") << QStringList{"Comport=A1B22"} << 1;
    }
    void portAsInteger()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, port);
        QCOMPARE(InfosOf(lines).PortAsInteger(), port);
    }

    void textPropertiesAndClass()
    {
        const TObservedInfos infos = InfosOf({"classguid={A5DCBF10-6530-11D2-901F-00C04FB951ED}", "DeviceType=dtUSB",
                                              "DEVICEDESC=Analyzer", "FriendlyName=F (COM4)", "Comport=COM4",
                                              "Direction=ddArrived", "DeviceDesc=second"});
        QVERIFY(infos.ClassGUID() == GUID_DEVINTERFACE_USB_DEVICE);
        QCOMPARE(infos.DvcType(), QString("dtUSB"));
        QCOMPARE(infos.DvcDesc(), QString("Analyzer"));
        QCOMPARE(infos.FriendlyName(), QString("F (COM4)"));
        QCOMPARE(infos.Port(), QString("COM4"));
        QVERIFY(InfosOf({"classguid=A5DCBF10-6530-11D2-901F-00C04FB951ED"}).ClassGUID() == TGUID());
        QVERIFY(InfosOf({}).ClassGUID() == TGUID());
        TObservedInfos copy;
        copy.Assign(infos);
        QCOMPARE(copy.DvcDesc(), QString("Analyzer"));
        copy.Clear();
        QCOMPARE(copy.DvcDesc(), QString());
    }

    void descList()
    {
        TDvcDescList list;
        QVERIFY(!list.Exists("CP210x USB bridge"));
        QCOMPARE(list.AddOrSetValue("CP210"), 0);
        QVERIFY(list.Exists("CP210x USB bridge"));
        QCOMPARE(list.AddOrSetValue("cp210"), 0);
        QCOMPARE(list.Count(), 1);
        QCOMPARE(list.Descs(0), QString("cp210"));
        QVERIFY(!list.Exists("CP210x USB bridge"));
        QVERIFY(!list.Exists(""));
        QCOMPARE(list.AddOrSetValue("Osprey"), 1);
        QVERIFY(list.Exists("Osprey"));
        list.SetDescs(1, "");
        QVERIFY(!list.Exists("Osprey"));
        QVERIFY_THROWS_EXCEPTION(EListError, list.Descs(2));
        QVERIFY_THROWS_EXCEPTION(EListError, list.SetDescs(-1, "x"));
    }

    void freshObserver()
    {
        TTestWorld world;
        TdvcObserver observer;
        QVERIFY(observer.RegClassesArray().empty());
        QVERIFY(!observer.RegDvcIntfComport() && !observer.RegDvcIntfUsb() && !observer.RegDvcSetupPort());
        QVERIFY(!observer.NotifyCP210() && !observer.NotifyProlificUSB() && !observer.NotifyOsprey());
        QVERIFY(!observer.CheckDvcDesc());
        QVERIFY(!observer.OnArrived() && !observer.OnRemoved() && !observer.OnChange());
        QVERIFY(observer.Log() == CodeSite());
    }

    void regClasses()
    {
        TTestWorld world;
        auto& notifications = *world.Notifications;
        TdvcObserver observer;
        const TGUID a = GUID_DEVINTERFACE_USB_DEVICE, b = GUID_DEVCLASS_HIDCLASS, c = GUID_DEVINTERFACE_COMPORT;
        observer.RegClasses({a, a, b});
        QCOMPARE(notifications.RegistrationAttempts(), (QList<TGUID>{a, b}));
        observer.RegClasses({b});
        QCOMPARE(notifications.RegistrationAttempts().size(), 2);
        notifications.RefuseRegistration(c);
        observer.RegClasses({c, a, c});
        QCOMPARE(notifications.RegistrationAttempts(), (QList<TGUID>{a, b, c, c}));
        auto classes = observer.RegClassesArray();
        std::sort(classes.begin(), classes.end());
        auto expected = std::vector<TGUID>{a, b};
        std::sort(expected.begin(), expected.end());
        QCOMPARE(classes, expected);
        QVERIFY(!observer.RegDvcIntfComport());
        QVERIFY(observer.RegDvcIntfUsb());

        observer.UnregClasses({c});
        QVERIFY(notifications.Withdrawals().isEmpty());
        observer.UnregClasses({b, b});
        QCOMPARE(notifications.Withdrawals().size(), 1);
        QCOMPARE(observer.RegClassesArray(), std::vector<TGUID>{a});
    }

    void registrationProperties()
    {
        TTestWorld world;
        auto& notifications = *world.Notifications;
        TdvcObserver observer;
        observer.SetRegDvcIntfUsb(true);
        observer.SetRegDvcIntfUsb(true);
        QCOMPARE(notifications.RegistrationCount(), 1);
        QVERIFY(observer.RegDvcIntfUsb());
        observer.SetRegDvcIntfUsb(false);
        QVERIFY(!observer.RegDvcIntfUsb());
        observer.SetRegDvcIntfUsb(false);
        QCOMPARE(notifications.Withdrawals().size(), 1);
        notifications.RefuseRegistration(GUID_DEVCLASS_PORTS);
        observer.SetRegDvcSetupPort(true);
        QVERIFY(!observer.RegDvcSetupPort());
        observer.SetRegDvcIntfComport(true);
        QVERIFY(observer.RegDvcIntfComport());
        QVERIFY(observer.RegClassesArray() == std::vector<TGUID>{GUID_DEVINTERFACE_COMPORT});
    }

    void descriptionProperties()
    {
        TTestWorld world;
        TdvcObserver observer;
        observer.SetNotifyProlificUSB(true);
        QVERIFY(observer.NotifyProlificUSB());
        QVERIFY(!observer.NotifyCP210() && !observer.NotifyOsprey());
        observer.SetNotifyProlificUSB(false);  // the list has no removal
        QVERIFY(observer.NotifyProlificUSB());
        observer.SetNotifyOsprey(true);
        observer.SetNotifyCP210(true);
        QVERIFY(observer.NotifyOsprey() && observer.NotifyCP210());
    }

    void filters_data()
    {
        QTest::addColumn<QString>("desc");
        QTest::addColumn<bool>("check");
        QTest::addColumn<bool>("cp210");
        QTest::addColumn<bool>("delivered");
        QTest::newRow("no description, no filter") << "" << false << false << false;
        QTest::newRow("no filter") << "Analyzer" << false << false << true;
        QTest::newRow("filter on, empty list") << "CP210x USB bridge" << true << false << false;
        QTest::newRow("filter on, CP210 listed") << "CP210x USB bridge" << true << true << true;
        QTest::newRow("filter on, case differs") << "cp210x usb bridge" << true << true << false;
        QTest::newRow("listed but filter off") << "Mouse" << false << true << true;
    }
    void filters()
    {
        QFETCH(QString, desc);
        QFETCH(bool, check);
        QFETCH(bool, cp210);
        QFETCH(bool, delivered);
        TTestWorld world;
        world.AddUsbDevice("VID_10C4&PID_EA60", "0001", desc, "Bridge (COM5)", cPorts);
        const QString name = UsbInterfaceName("VID_10C4&PID_EA60", "0001");
        TdvcObserver observer;
        observer.SetCheckDvcDesc(check);
        observer.SetNotifyCP210(cp210);
        observer.RegClasses({GUID_DEVINTERFACE_USB_DEVICE});
        QStringList arrived, removed;
        observer.SetOnArrived([&](TStringList* AInfos) { arrived = AInfos->Lines(); });
        observer.SetOnRemoved([&](TStringList* AInfos) { removed = AInfos->Lines(); });
        world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, name);
        QCOMPARE(!arrived.isEmpty(), delivered);
        QVERIFY(removed.isEmpty());
        world.Notifications->Remove(GUID_DEVINTERFACE_USB_DEVICE, name);
        QCOMPARE(!removed.isEmpty(), delivered);
        if (delivered) {
            QCOMPARE(arrived.last(), QString("Direction=ddArrived"));
            QCOMPARE(removed.last(), QString("Direction=ddRemoved"));
            arrived.removeLast();
            removed.removeLast();
            QCOMPARE(arrived, removed);
            QVERIFY(arrived.contains("Comport=COM5"));
        }
    }

    void unassignedCallbacksAndNodeChanges()
    {
        TTestWorld world;
        world.AddUsbDevice("VID_2047&PID_0200", "X", "Analyzer");
        TdvcObserver observer;
        observer.RegClasses({GUID_DEVINTERFACE_USB_DEVICE});
        world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, UsbInterfaceName("VID_2047&PID_0200", "X"));
        int changes = 0;
        world.Notifications->DevNodesChanged();
        observer.SetOnChange([&] { ++changes; });
        world.Notifications->DevNodesChanged();
        QCOMPARE(changes, 1);
        // A volume announced to every window: set aside without a description.
        int arrivals = 0;
        observer.SetOnArrived([&](TStringList*) { ++arrivals; });
        QByteArray volume(18, '\0');
        volume[0] = 18;
        volume[4] = 2;
        world.Notifications->BroadcastToAll(DBT_DEVICEARRIVAL, volume);
        QCOMPARE(arrivals, 0);
    }

    void callbackRaises()
    {
        TTestWorld world;
        world.AddUsbDevice("VID_2047&PID_0200", "X", "Analyzer");
        const QString name = UsbInterfaceName("VID_2047&PID_0200", "X");
        TdvcObserver observer;
        observer.RegClasses({GUID_DEVINTERFACE_USB_DEVICE});
        TStringList* borrowed = nullptr;
        observer.SetOnArrived([&](TStringList* AInfos) {
            borrowed = AInfos;
            throw Exception("receiver failed");
        });
        QVERIFY_THROWS_EXCEPTION(Exception, world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, name));
        QVERIFY(borrowed);  // freed by now: the sanitizer run would see a leak or a later use
        // A ClassGUID that is no GUID leaves the builder before any callback.
        world.AddUsbDevice("VID_2047&PID_0200", "X", "Analyzer", "", "{bad}");
        borrowed = nullptr;
        QVERIFY_THROWS_EXCEPTION(EConvertError, world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, name));
        QVERIFY(!borrowed);
    }

    void indexAssertions_data()
    {
        QTest::addColumn<int>("accessor");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("line");
        QTest::newRow("reading a description property") << 0 << 3 << 281;
        QTest::newRow("reading a registration property") << 1 << 3 << 287;
        QTest::newRow("writing a description property") << 2 << 3 << 337;
        QTest::newRow("writing a registration property") << 3 << 100 << 344;
        QTest::newRow("below 0") << 1 << -1 << 287;
    }
    void indexAssertions()
    {
        QFETCH(int, accessor);
        QFETCH(int, index);
        QFETCH(int, line);
        TTestWorld world;
        TdvcObserver observer;
        TCodeSiteCapture capture;
        try {
            switch (accessor) {
            case 0: observer.GetNotifyDesc(index); break;
            case 1: observer.GetRegDvcIntf(index); break;
            case 2: observer.SetNotifyDesc(index, true); break;
            default: observer.SetRegDvcIntf(index, true); break;
            }
            QFAIL("no assertion");
        } catch (const EAssertionFailed& e) {
            const QString expected = QString("AssertionFiled - File: m.dvcObserver, Line: %1, Addr: ").arg(line);
            QVERIFY2(e.Message().startsWith(expected), qPrintable(e.Message()));
            QVERIFY(e.Message().endsWith(", Msg: Assertion failure"));
            const auto records = capture.Records();
            QCOMPARE(records.size(), 1);
            QCOMPARE(records.first().Text, e.Message());
        }
        QVERIFY(observer.RegClassesArray().empty());
        QCOMPARE(world.Notifications->RegistrationAttempts().size(), 0);
    }

    void destructionOrder()
    {
        TTestWorld world;
        auto& notifications = *world.Notifications;
        {
            TdvcObserver observer;
            observer.RegClasses({GUID_DEVCLASS_HIDCLASS, GUID_DEVINTERFACE_COMPORT, GUID_DEVINTERFACE_USB_DEVICE});
        }
        const auto withdrawals = notifications.Withdrawals();
        QCOMPARE(withdrawals.size(), 3);
        QVERIFY(withdrawals.at(0).Class == GUID_DEVINTERFACE_USB_DEVICE);
        QVERIFY(withdrawals.at(1).Class == GUID_DEVINTERFACE_COMPORT);
        QVERIFY(withdrawals.at(2).Class == GUID_DEVCLASS_HIDCLASS);
        for (const auto& withdrawal : withdrawals)
            QVERIFY(withdrawal.WindowAlive);
        QCOMPARE(notifications.RegistrationCount(), 0);
        const int windows = int(win::HiddenWindows().size());
        {
            TdvcObserver observer;
            QCOMPARE(int(win::HiddenWindows().size()), windows + 1);
        }
        QCOMPARE(int(win::HiddenWindows().size()), windows);
        QCOMPARE(notifications.Withdrawals().size(), 3);
    }
};

QTEST_GUILESS_MAIN(TestDvcObserver)
#include "tst_dvc_observer.moc"
