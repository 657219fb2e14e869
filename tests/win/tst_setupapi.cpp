#include <support/SetupFixture.h>

#include <win/DeviceClassGuids.h>
#include <win/ErrHandlingApi.h>
#include <win/WinError.h>

#include <QTest>

#include <cstring>

namespace {

SP_DEVINFO_DATA Element()
{
    SP_DEVINFO_DATA data{};
    data.cbSize = sizeof data;
    return data;
}

HDEVINFO Open(const TGUID& AClass)
{
    return SetupDiGetClassDevsExW(&AClass, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
}

win::TSetupDevice Device(const QString& ADescription)
{
    win::TSetupDevice device;
    device.ClassGuid = GUID_DEVCLASS_HIDCLASS;
    device.Properties[SPDRP_DEVICEDESC] = win::SetupSz(ADescription);
    return device;
}

}  // namespace

class TestSetupApi : public QObject {
    Q_OBJECT
private slots:
    void aWorldWithoutSetupFacetHasNoLibrary()
    {
        win::SelectDeviceWorld({});
        SetLastError(ERROR_SUCCESS);
        QVERIFY(!LoadSetupApi());
        QCOMPARE(GetLastError(), ERROR_MOD_NOT_FOUND);
        QVERIFY(!IsSetupApiLoaded());
        QCOMPARE(Open(GUID_DEVCLASS_HIDCLASS), INVALID_HANDLE_VALUE);
        QCOMPARE(GetLastError(), ERROR_INVALID_FUNCTION);
    }

    void loadsCountReferences()
    {
        TSetupFixture fixture;
        QVERIFY(fixture.Loaded());
        QVERIFY(LoadSetupApi());
        UnloadSetupApi();
        QVERIFY(IsSetupApiLoaded());
        UnloadSetupApi();
        QVERIFY(!IsSetupApiLoaded());
        QVERIFY(LoadSetupApi());  // the fixture's unload balances this one
    }

    void searchesOnlyThePresentDevicesOfTheSetupClass_data()
    {
        QTest::addColumn<DWORD>("flags");
        QTest::addColumn<DWORD>("error");
        QTest::newRow("present") << DIGCF_PRESENT << ERROR_SUCCESS;
        QTest::newRow("device interface") << (DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) << ERROR_INVALID_FLAGS;
        QTest::newRow("all classes") << (DIGCF_PRESENT | DIGCF_ALLCLASSES) << ERROR_INVALID_FLAGS;
        QTest::newRow("none") << DWORD(0) << ERROR_INVALID_FLAGS;
    }
    void searchesOnlyThePresentDevicesOfTheSetupClass()
    {
        QFETCH(DWORD, flags);
        QFETCH(DWORD, error);
        TSetupFixture fixture;
        fixture.Setup->AddDevice(Device(QStringLiteral("hid")));
        win::TSetupDevice port = Device(QStringLiteral("port"));
        port.ClassGuid = GUID_DEVCLASS_PORTS;
        fixture.Setup->AddDevice(port);
        SetLastError(ERROR_SUCCESS);
        const HDEVINFO set =
            SetupDiGetClassDevsExW(&GUID_DEVCLASS_HIDCLASS, nullptr, nullptr, flags, nullptr, nullptr, nullptr);
        QCOMPARE(GetLastError(), error);
        if (error != ERROR_SUCCESS) {
            QCOMPARE(set, INVALID_HANDLE_VALUE);
            return;
        }
        SP_DEVINFO_DATA data = Element();
        QVERIFY(SetupDiEnumDeviceInfo(set, 0, &data));
        QVERIFY(data.ClassGuid == GUID_DEVCLASS_HIDCLASS);
        QVERIFY(!SetupDiEnumDeviceInfo(set, 1, &data));
        QCOMPARE(GetLastError(), ERROR_NO_MORE_ITEMS);
        QVERIFY(SetupDiDestroyDeviceInfoList(set));
    }

    void aFailedSearchLeavesItsError()
    {
        TSetupFixture fixture;
        fixture.Setup->SetSearchError(GUID_DEVCLASS_HIDCLASS, ERROR_GEN_FAILURE);
        QCOMPARE(Open(GUID_DEVCLASS_HIDCLASS), INVALID_HANDLE_VALUE);
        QCOMPARE(GetLastError(), ERROR_GEN_FAILURE);
    }

    void aSetIsASnapshotUntilDestroyed()
    {
        TSetupFixture fixture;
        const DWORD first = fixture.Setup->AddDevice(Device(QStringLiteral("first")));
        fixture.Setup->AddDevice(Device(QStringLiteral("second")));
        const HDEVINFO set = Open(GUID_DEVCLASS_HIDCLASS);
        fixture.Setup->RemoveDevice(first);
        SP_DEVINFO_DATA data = Element();
        QVERIFY(SetupDiEnumDeviceInfo(set, 0, &data));
        QCOMPARE(data.DevInst, first);
        QVERIFY(SetupDiDestroyDeviceInfoList(set));
        QVERIFY(!SetupDiEnumDeviceInfo(set, 0, &data));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
        QVERIFY(!SetupDiDestroyDeviceInfoList(set));
    }

    void anElementNeedsItsSize()
    {
        TSetupFixture fixture;
        fixture.Setup->AddDevice(Device(QStringLiteral("hid")));
        const HDEVINFO set = Open(GUID_DEVCLASS_HIDCLASS);
        SP_DEVINFO_DATA data = Element();
        data.cbSize = 28;
        QVERIFY(!SetupDiEnumDeviceInfo(set, 0, &data));
        QCOMPARE(GetLastError(), ERROR_INVALID_USER_BUFFER);
        SetupDiDestroyDeviceInfoList(set);
    }

    void propertiesAnswerWithSizeQueryAndTheirErrors()
    {
        TSetupFixture fixture;
        fixture.Setup->AddDevice(Device(QStringLiteral("abc")));
        const HDEVINFO set = Open(GUID_DEVCLASS_HIDCLASS);
        SP_DEVINFO_DATA data = Element();
        QVERIFY(SetupDiEnumDeviceInfo(set, 0, &data));
        DWORD type = 0, required = 0;
        QVERIFY(!SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_DEVICEDESC, &type, nullptr, 0, &required));
        QCOMPARE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(type, REG_SZ);
        QCOMPARE(required, DWORD(8));
        char16_t text[4] = {};
        QVERIFY(SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_DEVICEDESC, &type,
                                                  reinterpret_cast<PBYTE>(text), sizeof text, &required));
        QCOMPARE(QString::fromUtf16(text), QStringLiteral("abc"));
        type = 99;
        QVERIFY(!SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_FRIENDLYNAME, &type, nullptr, 0, &required));
        QCOMPARE(GetLastError(), ERROR_INVALID_DATA);
        QCOMPARE(type, DWORD(99));
        SetupDiDestroyDeviceInfoList(set);
        QVERIFY(!SetupDiGetDeviceRegistryPropertyW(set, &data, SPDRP_DEVICEDESC, &type, nullptr, 0, &required));
        QCOMPARE(GetLastError(), ERROR_INVALID_HANDLE);
    }

    void classDescriptionsCountCharacters()
    {
        TSetupFixture fixture;
        fixture.Setup->SetClassDescription(GUID_DEVCLASS_HIDCLASS, QStringLiteral("Human Interface Devices"));
        DWORD required = 0;
        QVERIFY(!SetupDiGetClassDescriptionW(&GUID_DEVCLASS_HIDCLASS, nullptr, 0, &required));
        QCOMPARE(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        QCOMPARE(required, DWORD(24));
        QVERIFY(!SetupDiGetClassDescriptionW(&GUID_DEVCLASS_PORTS, nullptr, 0, &required));
        QCOMPARE(GetLastError(), ERROR_INVALID_CLASS);
    }
};

QTEST_GUILESS_MAIN(TestSetupApi)
#include "tst_setupapi.moc"
