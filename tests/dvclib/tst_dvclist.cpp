#include <support/SetupFixture.h>

#include <m.dvcList.h>

#include <rtl/SysUtils.h>
#include <win/DeviceClassGuids.h>
#include <win/ErrHandlingApi.h>
#include <win/WinError.h>

#include <QTest>

#include <vector>

Q_DECLARE_METATYPE(TGUID)
Q_DECLARE_METATYPE(std::vector<TGUID>)

namespace {

struct TDevice {
    TGUID Class;
    QString Desc;
    QString Friendly;
    QStringList HardwareIds;
};

win::TSetupDevice SetupDevice(const TDevice& ADevice)
{
    win::TSetupDevice device;
    device.ClassGuid = ADevice.Class;
    if (!ADevice.Desc.isEmpty())
        device.Properties[SPDRP_DEVICEDESC] = win::SetupSz(ADevice.Desc);
    if (!ADevice.Friendly.isEmpty())
        device.Properties[SPDRP_FRIENDLYNAME] = win::SetupSz(ADevice.Friendly);
    if (!ADevice.HardwareIds.isEmpty())
        device.Properties[SPDRP_HARDWAREID] = win::SetupMultiSz(ADevice.HardwareIds);
    device.Properties[SPDRP_CLASSGUID] = win::SetupSz(GUIDToString(ADevice.Class).toLower());
    return device;
}

// Two HID devices, a port and another HID device, in that order.
void AddDevices(TSetupFixture& AFixture)
{
    for (const TDevice& d : {
             TDevice{GUID_DEVCLASS_HIDCLASS, "USB Input Device", "", {"HID\\VID_2047&PID_0200&REV_0100", "HID\\VID_2047&PID_0200"}},
             TDevice{GUID_DEVCLASS_HIDCLASS, "Keyboard", "Front keyboard", {}},
             TDevice{GUID_DEVCLASS_PORTS, "USB Serial", "CP2102 USB to UART (COM3)", {}},
             TDevice{GUID_DEVCLASS_HIDCLASS, "", "", {}},
         })
        AFixture.Setup->AddDevice(SetupDevice(d));
}

QStringList Descriptions(TdvcList& AList)
{
    QStringList result;
    for (int i = 0; i < AList.Count(); ++i)
        result << AList.Devices(i)->Description();
    return result;
}

}  // namespace

class TestDvcList : public QObject {
    Q_OBJECT
private slots:
    void creationWithoutTheLibraryRaisesTheSystemError()
    {
        win::SelectDeviceWorld({});
        try {
            TdvcList list;
            QFAIL("created without SetupAPI");
        } catch (const EOSError& e) {
            QCOMPARE(e.ErrorCode(), int(ERROR_MOD_NOT_FOUND));
            QCOMPARE(e.Message(), QStringLiteral("System Error.  Code: 126.\nThe specified module could not be found."));
        }
        QVERIFY(!IsSetupApiLoaded());
    }

    void searchesTheGivenSetupClassesInOrder_data()
    {
        QTest::addColumn<std::vector<TGUID>>("classes");
        QTest::addColumn<QStringList>("descriptions");
        QTest::newRow("none") << std::vector<TGUID>{} << QStringList{};
        QTest::newRow("device interface class") << std::vector<TGUID>{GUID_DEVINTERFACE_USB_DEVICE} << QStringList{};
        QTest::newRow("HID") << std::vector<TGUID>{GUID_DEVCLASS_HIDCLASS}
                             << QStringList{"USB Input Device", "Keyboard", ""};
        QTest::newRow("ports, then HID") << std::vector<TGUID>{GUID_DEVCLASS_PORTS, GUID_DEVCLASS_HIDCLASS}
                                         << QStringList{"USB Serial", "USB Input Device", "Keyboard", ""};
        QTest::newRow("HID twice") << std::vector<TGUID>{GUID_DEVCLASS_HIDCLASS, GUID_DEVCLASS_HIDCLASS}
                                   << QStringList{"USB Input Device", "Keyboard", "", "USB Input Device", "Keyboard", ""};
    }
    void searchesTheGivenSetupClassesInOrder()
    {
        QFETCH(std::vector<TGUID>, classes);
        QFETCH(QStringList, descriptions);
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch(classes);
        QCOMPARE(Descriptions(list), descriptions);
        QCOMPARE(fixture.Setup->SearchCount(), int(classes.size()));
    }

    void theSameClassTwiceHasItsOwnSetWithTheSameIndexes()
    {
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS, GUID_DEVCLASS_HIDCLASS});
        const HDEVINFO first = list.Devices(0)->DeviceListHandle();
        const ULONG_PTR firstElement = list.Devices(0)->DeviceInfoData().Reserved;
        const HDEVINFO second = list.Devices(3)->DeviceListHandle();
        QVERIFY(first != second);
        QCOMPARE(list.Devices(3)->DeviceInfoData().Reserved, firstElement);
    }

    void setsOfEarlierSearchesStayOpenUntilDestruction()
    {
        TSetupFixture fixture;
        AddDevices(fixture);
        HDEVINFO earlier = nullptr;
        {
            TdvcList list;
            list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
            earlier = list.Devices(0)->DeviceListHandle();
            list.ClearAndSearch({GUID_DEVCLASS_PORTS});
            QCOMPARE(list.Count(), 1);
            list.Clear();
            QCOMPARE(list.Count(), 0);
            SP_DEVINFO_DATA data{};
            data.cbSize = sizeof data;
            QVERIFY(SetupDiEnumDeviceInfo(earlier, 0, &data));
            QVERIFY(LoadSetupApi());  // the list's own reference goes with it
        }
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        QVERIFY(!SetupDiEnumDeviceInfo(earlier, 0, &data));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        UnloadSetupApi();
        QVERIFY(IsSetupApiLoaded());  // the fixture's
    }

    void aClassThatCannotBeListedRaisesAndKeepsTheEarlierItems()
    {
        TSetupFixture fixture;
        AddDevices(fixture);
        fixture.Setup->SetSearchError(GUID_DEVCLASS_USB, ERROR_GEN_FAILURE);
        TdvcList list;
        try {
            list.ClearAndSearch({GUID_DEVCLASS_PORTS, GUID_DEVCLASS_USB, GUID_DEVCLASS_HIDCLASS});
            QFAIL("no error");
        } catch (const EOSError& e) {
            QCOMPARE(e.ErrorCode(), int(ERROR_GEN_FAILURE));
        }
        QCOMPARE(Descriptions(list), QStringList{"USB Serial"});
        QCOMPARE(fixture.Setup->SearchCount(), 2);
    }

    void devicesRepointsTheOneSharedObject()
    {
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        TWinDevice* first = list.Devices(0);
        QCOMPARE(first->Description(), QStringLiteral("USB Input Device"));
        TWinDevice* second = list.Devices(1);
        QCOMPARE(second, first);
        QCOMPARE(first->Description(), QStringLiteral("Keyboard"));
    }

    void anIndexOutOfRangeRaises_data()
    {
        QTest::addColumn<int>("index");
        QTest::newRow("-1") << -1;
        QTest::newRow("Count") << 3;
    }
    void anIndexOutOfRangeRaises()
    {
        QFETCH(int, index);
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        for (const auto& read : std::vector<std::function<void()>>{
                 [&] { list.Devices(index); },
                 [&] {
                     TStringList infos;
                     infos.Add(QStringLiteral("Direction=ddArrived"));
                     try {
                         list.AsInfos(index, &infos);
                     } catch (...) {
                         QCOMPARE(infos.Count(), 0);  // cleared before the look-up
                         throw;
                     }
                 }}) {
            try {
                read();
                QFAIL("no range error");
            } catch (const EArgumentOutOfRangeException& e) {
                QCOMPARE(e.Message(), QStringLiteral("Argument out of range"));
            }
        }
    }

    void asInfosWritesTheKeysOfPresentDevices_data()
    {
        QTest::addColumn<TGUID>("setupClass");
        QTest::addColumn<int>("index");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("analyzer") << GUID_DEVCLASS_HIDCLASS << 0
            << QStringList{"classguid={745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "DeviceDesc=USB Input Device",
                           "VIdPId=HID\\VID_2047&PID_0200&REV_0100, HID\\VID_2047&PID_0200"};
        QTest::newRow("friendly name without port") << GUID_DEVCLASS_HIDCLASS << 1
            << QStringList{"classguid={745A17A0-74D3-11D0-B6FE-00A0C90F57DA}", "DeviceDesc=Keyboard",
                           "FriendlyName=Front keyboard"};
        QTest::newRow("port") << GUID_DEVCLASS_PORTS << 0
            << QStringList{"classguid={4D36E978-E325-11CE-BFC1-08002BE10318}", "DeviceDesc=USB Serial",
                           "FriendlyName=CP2102 USB to UART (COM3)", "Comport=COM3"};
        QTest::newRow("nothing but the class") << GUID_DEVCLASS_HIDCLASS << 2
            << QStringList{"classguid={745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"};
    }
    void asInfosWritesTheKeysOfPresentDevices()
    {
        QFETCH(TGUID, setupClass);
        QFETCH(int, index);
        QFETCH(QStringList, lines);
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({setupClass});
        TStringList infos;
        infos.Add(QStringLiteral("Direction=ddArrived"));
        QVERIFY(list.AsInfos(index, &infos));
        QCOMPARE(infos.Lines(), lines);
        QVERIFY(!list.AsInfos(index, nullptr));
    }

    void aClassGuidTextThatIsNoGuidRaisesWithTheListEmpty()
    {
        TSetupFixture fixture;
        win::TSetupDevice device;
        device.ClassGuid = GUID_DEVCLASS_HIDCLASS;
        device.Properties[SPDRP_CLASSGUID] = win::SetupSz(QStringLiteral("HIDClass"));
        fixture.Setup->AddDevice(device);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        TStringList infos;
        QVERIFY_THROWS_EXCEPTION(EConvertError, list.AsInfos(0, &infos));
        QCOMPARE(infos.Count(), 0);
    }

    void aDeviceThatCannotBeSelectedIsSkipped()
    {
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_PORTS, GUID_DEVCLASS_HIDCLASS});
        QCOMPARE(list.AsStringArray(), QStringList{"COM3"});
        // The port's set goes behind the list's back: its one device can no longer be selected.
        QVERIFY(SetupDiDestroyDeviceInfoList(list.Devices(0)->DeviceListHandle()));
        QVERIFY(!list.Devices(0));
        TStringList infos;
        QVERIFY(!list.AsInfos(0, &infos));
        QCOMPARE(infos.Count(), 0);
        QCOMPARE(list.AsStringArray(), QStringList{});
        QList<bool> seenNull;
        QVERIFY(!list.Exists([&](TWinDevice* ADevice, std::int32_t) {
            seenNull << (ADevice == nullptr);
            return false;
        }));
        QCOMPARE(seenNull, (QList<bool>{true, false, false, false}));
    }

    void existsStopsAtTheFirstMatch_data()
    {
        QTest::addColumn<int>("match");
        QTest::addColumn<bool>("byClass");
        QTest::addColumn<QList<int>>("called");
        QTest::addColumn<bool>("result");
        QTest::newRow("second") << 1 << false << QList<int>{0, 1} << true;
        QTest::newRow("none") << -1 << false << QList<int>{0, 1, 2, 3} << false;
        QTest::newRow("HID only, second") << 2 << true << QList<int>{1, 2} << true;
        QTest::newRow("HID only, none") << -1 << true << QList<int>{1, 2, 3} << false;
    }
    void existsStopsAtTheFirstMatch()
    {
        QFETCH(int, match);
        QFETCH(bool, byClass);
        QFETCH(QList<int>, called);
        QFETCH(bool, result);
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_PORTS, GUID_DEVCLASS_HIDCLASS});
        QList<int> seen;
        bool allSelected = true;
        const TDvcExistsFunc func = [&](TWinDevice* ADevice, std::int32_t AIndex) {
            allSelected = allSelected && ADevice;
            seen << AIndex;
            return AIndex == match;
        };
        QCOMPARE(byClass ? list.Exists(GUID_DEVCLASS_HIDCLASS, func) : list.Exists(func), result);
        QCOMPARE(seen, called);
        QVERIFY(allSelected);
    }

    void existsOnAnEmptyListCallsNothing()
    {
        TSetupFixture fixture;
        TdvcList list;
        int calls = 0;
        QVERIFY(!list.Exists([&](TWinDevice*, std::int32_t) { return ++calls, true; }));
        QCOMPARE(calls, 0);
    }

    void anUnassignedFunctionFindsNothing()
    {
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        QVERIFY(!list.Exists(TDvcExistsFunc()));
        QVERIFY(!list.Exists(GUID_DEVCLASS_HIDCLASS, TDvcExistsFunc()));
    }

    void existsOfSeveralFunctionsCallsTheProcOncePerFinder()
    {
        TSetupFixture fixture;
        AddDevices(fixture);
        TdvcList list;
        list.ClearAndSearch({GUID_DEVCLASS_HIDCLASS});
        const TDvcExistsFunc keyboard = [](TWinDevice* D, std::int32_t) { return D->Description() == "Keyboard"; };
        const TDvcExistsFunc mouse = [](TWinDevice* D, std::int32_t) { return D->Description() == "Mouse"; };
        for (const auto& [funcs, expected] : std::vector<std::pair<std::vector<TDvcExistsFunc>, int>>{
                 {{keyboard, keyboard}, 2}, {{keyboard, mouse}, 1}, {{}, 0}}) {
            int calls = 0;
            list.Exists(funcs, [&] { ++calls; });
            QCOMPARE(calls, expected);
        }
    }
};

QTEST_GUILESS_MAIN(TestDvcList)
#include "tst_dvclist.moc"
