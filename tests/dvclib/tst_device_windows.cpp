#include <support/SetupFixture.h>

#include <mDevice.Windows.Common.h>
#include <mDevice.Windows.h>

#include <rtl/SysUtils.h>
#include <win/DeviceClassGuids.h>

#include <QTest>

#include <cstring>
#include <functional>
#include <optional>

namespace {

using win::TSetupProperty;

QByteArray Utf16(const QString& AText)
{
    return QByteArray(reinterpret_cast<const char*>(AText.utf16()), AText.size() * 2);
}

QByteArray PowerDataWith(DWORD ACapabilities, int ASize = 56)
{
    QByteArray data(ASize, '\0');
    std::memcpy(data.data() + 8, &ACapabilities, sizeof ACapabilities);
    return data;
}

const TGUID kRawGuid{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};

QByteArray RawGuid()
{
    return QByteArray(reinterpret_cast<const char*>(&kRawGuid), 16);
}

struct TReadCase {
    const char* Name;
    DWORD Code;
    std::optional<TSetupProperty> Stored;
    std::function<QString(TWinDevice&)> Read;
    QString Expected;
};

QString Hex(const TGUID& AGuid)
{
    return GUIDToString(AGuid);
}

const QString kEmptyGuid = GUIDToString(TGUID());

const std::vector<TReadCase>& ReadCases()
{
    using namespace win;
    static const std::vector<TReadCase> cases = {
        {"multi-string of two", SPDRP_HARDWAREID, SetupMultiSz({"A", "B"}), &TWinDevice::HardwareID, "A, B"},
        {"multi-string of none", SPDRP_HARDWAREID, SetupMultiSz({}), &TWinDevice::HardwareID, ""},
        {"multi-string of one", SPDRP_COMPATIBLEIDS, SetupMultiSz({"A"}), &TWinDevice::CompatibleIDS, "A"},
        {"multi-string without closing NULs", SPDRP_UPPERFILTERS,
         TSetupProperty{REG_MULTI_SZ, Utf16("A") + QByteArray(2, '\0') + Utf16("BC")}, &TWinDevice::UpperFilters,
         "A, BC"},
        {"text without its NUL", SPDRP_DEVICEDESC, SetupSz("Input Device"), &TWinDevice::Description,
         "Input Device"},
        {"text cut at the first NUL", SPDRP_MFG, TSetupProperty{REG_SZ, Utf16("TI") + QByteArray(2, '\0') + Utf16("x")},
         &TWinDevice::Manufacturer, "TI"},
        {"text data not NUL-ended", SPDRP_SERVICE, TSetupProperty{REG_SZ, Utf16("HidUsb")}, &TWinDevice::Service,
         "HidUsb"},
        {"text of an odd byte count", SPDRP_CLASS, TSetupProperty{REG_SZ, Utf16("HID") + QByteArray(1, 'x')},
         &TWinDevice::DeviceClassName, "HID"},
        {"device type as a number", SPDRP_DEVTYPE, SetupDWord(0x22), &TWinDevice::DeviceType, ""},
        {"expandable text", SPDRP_DRIVER, SetupSz("x", REG_EXPAND_SZ), &TWinDevice::DriverName, ""},
        {"binary data as text", SPDRP_LOCATION_INFORMATION, SetupBinary("ab"), &TWinDevice::Location, ""},
        {"missing text", SPDRP_FRIENDLYNAME, std::nullopt, &TWinDevice::FriendlyName, ""},
        {"class GUID in lower case", SPDRP_CLASSGUID, SetupSz("{4d36e978-e325-11ce-bfc1-08002be10318}"),
         [](TWinDevice& d) { return Hex(d.ClassGUID()); }, "{4D36E978-E325-11CE-BFC1-08002BE10318}"},
        {"bus type GUID as 16 bytes", SPDRP_BUSTYPEGUID, SetupBinary(RawGuid()),
         [](TWinDevice& d) { return Hex(d.BusTypeGUID()); }, GUIDToString(kRawGuid)},
        {"bus type GUID of 17 bytes", SPDRP_BUSTYPEGUID, SetupBinary(RawGuid() + "x"),
         [](TWinDevice& d) { return Hex(d.BusTypeGUID()); }, kEmptyGuid},
        {"bus type GUID of 4 bytes", SPDRP_BUSTYPEGUID, SetupBinary(RawGuid().left(4)),
         [](TWinDevice& d) { return Hex(d.BusTypeGUID()); }, "{01020304-0000-0000-0000-000000000000}"},
        {"missing GUID", SPDRP_CLASSGUID, std::nullopt, [](TWinDevice& d) { return Hex(d.ClassGUID()); }, kEmptyGuid},
        {"number", SPDRP_UI_NUMBER, SetupDWord(7), [](TWinDevice& d) { return QString::number(d.UINumber()); }, "7"},
        {"number of 8 bytes", SPDRP_ADDRESS, SetupBinary(QByteArray(8, '\1')),
         [](TWinDevice& d) { return QString::number(d.Address()); }, "0"},
        {"missing number", SPDRP_BUSNUMBER, std::nullopt,
         [](TWinDevice& d) { return QString::number(d.BusNumber()); }, "0"},
        {"capabilities none", SPDRP_CAPABILITIES, SetupDWord(0), &TWinDevice::Capabilities, ""},
        {"capabilities without row", SPDRP_CAPABILITIES, SetupDWord(0x0400), &TWinDevice::Capabilities, ""},
        {"capabilities two", SPDRP_CAPABILITIES, SetupDWord(0x0084), &TWinDevice::Capabilities,
         "CM_DEVCAP_REMOVABLE, CM_DEVCAP_SURPRISEREMOVALOK"},
        {"config flags", SPDRP_CONFIGFLAGS, SetupDWord(0x0401), &TWinDevice::ConfigFlags,
         "CONFIGFLAG_DISABLED, CONFIGFLAG_FINISH_INSTALL"},
        {"config flags all", SPDRP_CONFIGFLAGS, SetupDWord(0xFFFFFFFF), &TWinDevice::ConfigFlags,
         "CONFIGFLAG_DISABLED, CONFIGFLAG_REMOVED, CONFIGFLAG_MANUAL_INSTALL, CONFIGFLAG_IGNORE_BOOT_LC, "
         "CONFIGFLAG_NET_BOOT, CONFIGFLAG_REINSTALL, CONFIGFLAG_FAILEDINSTALL, CONFIGFLAG_CANTSTOPACHILD, "
         "CONFIGFLAG_OKREMOVEROM, CONFIGFLAG_NOREMOVEEXIT, CONFIGFLAG_FINISH_INSTALL, "
         "CONFIGFLAG_NEEDS_FORCED_CONFIG, CONFIGFLAG_NETBOOT_CARD, CONFIGFLAG_PARTIAL_LOG_CONF, "
         "CONFIGFLAG_SUPPRESS_SURPRISE, CONFIGFLAG_VERIFY_HARDWARE"},
        {"power data missing", SPDRP_DEVICE_POWER_DATA, std::nullopt, &TWinDevice::PowerData, ""},
        {"power data", SPDRP_DEVICE_POWER_DATA, SetupBinary(PowerDataWith(0x0009)), &TWinDevice::PowerData,
         "PDCAP_D0_SUPPORTED, PDCAP_D3_SUPPORTED"},
        {"power data too long", SPDRP_DEVICE_POWER_DATA, SetupBinary(PowerDataWith(0x0009, 60)),
         &TWinDevice::PowerData, ""},
        {"install state 4", SPDRP_INSTALL_STATE, SetupDWord(4), &TWinDevice::InstallState, "unknown 0x00000004"},
        {"install state 2", SPDRP_INSTALL_STATE, SetupDWord(2), &TWinDevice::InstallState,
         "CM_INSTALL_STATE_FAILED_INSTALL"},
        {"install state missing", SPDRP_INSTALL_STATE, std::nullopt, &TWinDevice::InstallState,
         "CM_INSTALL_STATE_INSTALLED"},
        {"legacy bus 17", SPDRP_LEGACYBUSTYPE, SetupDWord(17), &TWinDevice::LegacyBusType, "unknown 0x00000011"},
        {"legacy bus -2", SPDRP_LEGACYBUSTYPE, SetupDWord(DWORD(-2)), &TWinDevice::LegacyBusType,
         "unknown 0xFFFFFFFE"},
        {"legacy bus -1", SPDRP_LEGACYBUSTYPE, SetupDWord(DWORD(-1)), &TWinDevice::LegacyBusType,
         "InterfaceTypeUndefined"},
        {"legacy bus 5", SPDRP_LEGACYBUSTYPE, SetupDWord(5), &TWinDevice::LegacyBusType, "PCIBus"},
        {"legacy bus 16", SPDRP_LEGACYBUSTYPE, SetupDWord(16), &TWinDevice::LegacyBusType, "MaximumInterfaceType"},
        {"legacy bus missing", SPDRP_LEGACYBUSTYPE, std::nullopt, &TWinDevice::LegacyBusType, "Internal"},
        {"removal policy 0", SPDRP_REMOVAL_POLICY, SetupDWord(0), &TWinDevice::RemovalPolicy, ""},
        {"removal policy 255", SPDRP_REMOVAL_POLICY, SetupDWord(255), &TWinDevice::RemovalPolicy,
         "unknown 0x000000FF"},
        {"removal policy default 2", SPDRP_REMOVAL_POLICY_HW_DEFAULT, SetupDWord(2),
         &TWinDevice::RemovalPolicyHWDefault, "CM_REMOVAL_POLICY_EXPECT_ORDERLY_REMOVAL"},
        {"removal policy override 3", SPDRP_REMOVAL_POLICY_OVERRIDE, SetupDWord(3),
         &TWinDevice::RemovalPolicyOverride, "CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL"},
        {"characteristics", SPDRP_CHARACTERISTICS, SetupDWord(0x100), &TWinDevice::Characteristics, "0x00000100"},
        {"characteristics none", SPDRP_CHARACTERISTICS, std::nullopt, &TWinDevice::Characteristics, ""},
        {"class description", SPDRP_CLASSGUID, SetupSz("{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}"),
         [](TWinDevice& d) { return d.DeviceClassDescription(); }, "Human Interface Devices"},
        {"class description of no class", SPDRP_CLASSGUID, SetupSz("{4D36E978-E325-11CE-BFC1-08002BE10318}"),
         [](TWinDevice& d) { return d.DeviceClassDescription(); }, ""},
    };
    return cases;
}

// Points a device at the one element of a fresh set; the set lives as long as the object.
class TPointedDevice {
public:
    TPointedDevice(TSetupFixture& AFixture, win::TSetupDevice ADevice)
    {
        ADevice.ClassGuid = GUID_DEVCLASS_USB;
        AFixture.Setup->AddDevice(std::move(ADevice));
        FSet = SetupDiGetClassDevsExW(&GUID_DEVCLASS_USB, nullptr, nullptr, DIGCF_PRESENT, nullptr, nullptr, nullptr);
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        SetupDiEnumDeviceInfo(FSet, 0, &data);
        Device.SetDeviceListHandle(FSet);
        Device.SetDeviceInfoData(data);
    }
    ~TPointedDevice() { SetupDiDestroyDeviceInfoList(FSet); }

    TWinDevice Device;

private:
    HDEVINFO FSet;
};

// A reader replaced in a descendant reaches every operation built on it.
class TFixedDWordDevice : public TWinDevice {
public:
    DWORD GetDWordProperty(DWORD) override { return 3; }
};

}  // namespace

class TestDeviceWindows : public QObject {
    Q_OBJECT
private slots:
    void readsProperties_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(ReadCases().size()); ++i)
            QTest::newRow(ReadCases()[i].Name) << i;
    }
    void readsProperties()
    {
        QFETCH(int, row);
        const TReadCase& c = ReadCases()[row];
        TSetupFixture fixture;
        fixture.Setup->SetClassDescription(GUID_DEVCLASS_HIDCLASS, QStringLiteral("Human Interface Devices"));
        win::TSetupDevice device;
        if (c.Stored)
            device.Properties[c.Code] = *c.Stored;
        TPointedDevice pointed(fixture, device);
        QCOMPARE(c.Read(pointed.Device), c.Expected);
    }

    void aTextThatIsNoGuidRaises_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("short") << QStringLiteral("abc");
        QTest::newRow("without braces") << QStringLiteral("4D36E978-E325-11CE-BFC1-08002BE10318");
        QTest::newRow("hyphen out of place") << QStringLiteral("{4D36E978E-325-11CE-BFC1-08002BE10318}");
    }
    void aTextThatIsNoGuidRaises()
    {
        QFETCH(QString, text);
        TSetupFixture fixture;
        win::TSetupDevice device;
        device.Properties[SPDRP_CLASSGUID] = win::SetupSz(text);
        TPointedDevice pointed(fixture, device);
        for (const auto& read : std::vector<std::function<void()>>{
                 [&] { pointed.Device.ClassGUID(); }, [&] { pointed.Device.DeviceClassDescription(); }}) {
            try {
                read();
                QFAIL("no conversion error");
            } catch (const EConvertError& e) {
                QCOMPARE(e.Message(), QStringLiteral("'%1' is not a valid GUID value").arg(text));
            }
        }
    }

    void anUnpointedDeviceReadsEmptyValues()
    {
        TSetupFixture fixture;
        TWinDevice device;
        QCOMPARE(device.DeviceListHandle(), HDEVINFO(nullptr));
        QCOMPARE(device.DeviceInfoData().cbSize, DWORD(0));
        QCOMPARE(device.Description(), QString());
        QVERIFY(device.ClassGUID() == TGUID::Empty());
        QCOMPARE(device.UINumber(), DWORD(0));
        QCOMPARE(device.Capabilities(), QString());
        QCOMPARE(device.PowerData(), QString());
        QCOMPARE(device.RemovalPolicy(), QString());
        QCOMPARE(device.InstallState(), QStringLiteral("CM_INSTALL_STATE_INSTALLED"));
        QCOMPARE(device.LegacyBusType(), QStringLiteral("Internal"));
        QCOMPARE(device.DeviceClassDescription(), QString());
    }

    void operationsGoThroughTheReplaceableReaders()
    {
        TSetupFixture fixture;
        TFixedDWordDevice device;
        QCOMPARE(device.InstallState(), QStringLiteral("CM_INSTALL_STATE_FINISH_INSTALL"));
        QCOMPARE(device.LegacyBusType(), QStringLiteral("MicroChannel"));
        QCOMPARE(device.RemovalPolicy(), QStringLiteral("CM_REMOVAL_POLICY_EXPECT_SURPRISE_REMOVAL"));
        QCOMPARE(device.Capabilities(), QStringLiteral("CM_DEVCAP_LOCKSUPPORTED, CM_DEVCAP_EJECTSUPPORTED"));
        QCOMPARE(device.ConfigFlags(), QStringLiteral("CONFIGFLAG_DISABLED, CONFIGFLAG_REMOVED"));
    }

    void flagTablesNameOneBitEachInAscendingOrder()
    {
        const auto check = [](const auto& ATable, DWORD ALast) {
            DWORD expected = 1;
            for (const TFlagName& row : ATable) {
                QCOMPARE(row.Flag, expected);
                expected <<= 1;
            }
            QCOMPARE(ATable.back().Flag, ALast);
        };
        check(cDevCapNames, 0x0200);
        check(cConfigFlagNames, 0x8000);
        check(cPowerCapNames, 0x0100);
    }

    void commonHelpers()
    {
        QVERIFY(IsFlagSet(0x0084, 0x0004));
        QVERIFY(!IsFlagSet(0x0004, 0x0084));
        QString text;
        AppendDelimited(text, QStringLiteral("A"));
        AppendDelimited(text, QStringLiteral("B"));
        QCOMPARE(text, QStringLiteral("A, B"));
        const char16_t data[] = u"X\0Y\0\0Z";
        QString joined;
        MultiSzToDelimited(reinterpret_cast<const WCHAR*>(data), 7, joined);
        QCOMPARE(joined, QStringLiteral("X, Y"));
    }
};

QTEST_GUILESS_MAIN(TestDeviceWindows)
#include "tst_device_windows.moc"
