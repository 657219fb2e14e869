// Decoding device-interface broadcasts into device information lists.
#include "MemoryWorld.h"

#include <mDeviceObserver.Windows.Common.h>

#include <rtl/SysUtils.h>
#include <win/Dbt.h>
#include <win/DeviceNotifications.h>
#include <win/Registry.h>

#include <QTest>

#include <cstring>
#include <memory>

namespace {

const QString cPorts = "{4D36E978-E325-11CE-BFC1-08002BE10318}";
const QString cUsb = "{36FC9E60-C465-11CF-8056-444553540000}";
const QString cHid = "{745A17A0-74D3-11D0-B6FE-00A0C90F57DA}";
const QString cUsbIntf = "{A5DCBF10-6530-11D2-901F-00C04FB951ED}";

// A record as a window receives it, kept alive by the holder.
struct TRecord {
    std::shared_ptr<const QByteArray> Bytes;
    PDEV_BROADCAST_DEVICEINTERFACE Get() const
    {
        return reinterpret_cast<PDEV_BROADCAST_DEVICEINTERFACE>(const_cast<char*>(Bytes->constData()));
    }
};

TRecord RecordOf(const QString& AName, const TGUID& AClass = StringToGUID(cUsbIntf))
{
    return {win::MakeSafeBroadcastRecord(win::DeviceInterfaceRecord(AClass, AName))};
}

TRecord RawRecord(const QByteArray& ABytes)
{
    return {win::MakeSafeBroadcastRecord(ABytes)};
}

QStringList Lines(TStringList* AList)
{
    std::unique_ptr<TStringList> owned(AList);
    return owned->Lines();
}

}  // namespace

class TestDvcBroadcast : public QObject {
    Q_OBJECT
private slots:
    void nameRules_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QString>("regPath");
        QTest::addColumn<QString>("vidPid");
        QTest::newRow("four pieces")
            << UsbInterfaceName("VID_2047&PID_0200", "X") << true
            << "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_2047&PID_0200\\X\\" << "VID_2047&PID_0200\\X";
        QTest::newRow("five pieces") << "\\\\?\\USB#VID_1#I#{G}#more" << false << "" << "VID_1\\I";
        QTest::newRow("three pieces and a final #") << "\\\\?\\USB#VID_1#I#" << false << "" << "VID_1\\I";
        QTest::newRow("three pieces") << "\\\\?\\USB#VID_1#I" << false << "" << "VID_1\\I";
        QTest::newRow("four pieces and a final #") << "A#B#C#D#" << true << "SYSTEM\\CurrentControlSet\\Enum\\USB\\B\\C\\" << "B\\C";
        QTest::newRow("empty second piece")
            << "\\\\?\\USB##I#{G}" << true << "SYSTEM\\CurrentControlSet\\Enum\\USB\\\\I\\" << "\\I";
        QTest::newRow("other enumerator, looked up under USB")
            << "\\\\?\\HID#VID_046D&PID_C077#7&1&0#{4D1E55B2-F16F-11CF-88CB-001111000030}" << true
            << "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_046D&PID_C077\\7&1&0\\" << "VID_046D&PID_C077\\7&1&0";
        QTest::newRow("two pieces") << "A#B" << false << "" << "";
        QTest::newRow("no #") << "ACPI" << false << "" << "";
        QTest::newRow("empty") << "" << false << "" << "";
        QTest::newRow("only #") << "####" << true << "SYSTEM\\CurrentControlSet\\Enum\\USB\\\\\\" << "\\";
        QTest::newRow("long pieces")
            << (QString(3000, 'a') + "#" + QString(5000, 'b') + "#c#d") << true
            << ("SYSTEM\\CurrentControlSet\\Enum\\USB\\" + QString(5000, 'b') + "\\c\\") << (QString(5000, 'b') + "\\c");
        QTest::newRow("other script kept as text")
            << QString::fromUtf8("\\\\?\\USB#VID_1#Ger\xc3\xa4t\xe2\x84\xa2#{G}") << true
            << QString::fromUtf8("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1\\Ger\xc3\xa4t\xe2\x84\xa2\\")
            << QString::fromUtf8("VID_1\\Ger\xc3\xa4t\xe2\x84\xa2");
    }
    void nameRules()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QFETCH(QString, regPath);
        QFETCH(QString, vidPid);
        const TRecord record = RecordOf(name);
        QCOMPARE(GetDvcName(record.Get()), name);
        QCOMPARE(IsDvcNameValid(record.Get()), valid);
        QCOMPARE(GetDvcRegPath(record.Get()), regPath);
        QCOMPARE(GetDvcVIdPId(record.Get()), vidPid);
    }

    void deviceInformationList_data()
    {
        QTest::addColumn<QString>("classGuid");
        QTest::addColumn<QString>("friendlyName");
        QTest::addColumn<QStringList>("expected");
        const QString head = "classguid=" + cUsbIntf;
        QTest::newRow("Ports class, port in brackets") << cPorts << "CP2102 USB to UART (COM7)"
            << QStringList{head, "DeviceType=dtComport", "DeviceDesc=Desc", "FriendlyName=CP2102 USB to UART (COM7)",
                           "VIdPId=VID_10C4&PID_EA60\\0001", "Comport=COM7", "Direction=ddArrived"};
        QTest::newRow("USB class") << cUsb << ""
            << QStringList{head, "DeviceType=dtUSB", "DeviceDesc=Desc", "VIdPId=VID_10C4&PID_EA60\\0001", "Direction=ddArrived"};
        QTest::newRow("other class, port in lower case") << cHid << "Bridge (com7)"
            << QStringList{head, "DeviceType=dtNone", "DeviceDesc=Desc", "FriendlyName=Bridge (com7)",
                           "VIdPId=VID_10C4&PID_EA60\\0001", "Direction=ddArrived"};
        QTest::newRow("class in lower case digits, COM in an earlier word") << cPorts.toLower() << "COMtrol port (COM9)"
            << QStringList{head, "DeviceType=dtComport", "DeviceDesc=Desc", "FriendlyName=COMtrol port (COM9)",
                           "VIdPId=VID_10C4&PID_EA60\\0001", "Comport=COM", "Direction=ddArrived"};
        QTest::newRow("no class") << "" << ""
            << QStringList{head, "DeviceType=dtNone", "DeviceDesc=Desc", "VIdPId=VID_10C4&PID_EA60\\0001", "Direction=ddArrived"};
    }
    void deviceInformationList()
    {
        QFETCH(QString, classGuid);
        QFETCH(QString, friendlyName);
        QFETCH(QStringList, expected);
        TTestWorld world;
        world.AddUsbDevice("VID_10C4&PID_EA60", "0001", "Desc", friendlyName, classGuid);
        const TRecord record = RecordOf(UsbInterfaceName("VID_10C4&PID_EA60", "0001"));
        QCOMPARE(Lines(CreateDvcInfosWithDirection(ddArrived, record.Get())), expected);
        // The same record again, and as a removal: the same entries but the direction.
        expected.removeLast();
        QCOMPARE(Lines(CreateDvcInfos(record.Get())), expected);
        expected.append("Direction=ddRemoved");
        QCOMPARE(Lines(CreateDvcInfosWithDirection(ddRemoved, record.Get())), expected);
    }

    void noRegistryLookUpWithoutFourPieces_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("five pieces") << "\\\\?\\USB#VID_1#I#{G}#x"
            << QStringList{"classguid=" + cUsbIntf, "DeviceType=dtNone", "VIdPId=VID_1\\I", "Direction=ddArrived"};
        QTest::newRow("other enumerator without a USB key") << "\\\\?\\ACPI#PNP0501#1#{G}"
            << QStringList{"classguid=" + cUsbIntf, "DeviceType=dtNone", "VIdPId=PNP0501\\1", "Direction=ddArrived"};
    }
    void noRegistryLookUpWithoutFourPieces()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        TTestWorld world;
        // Keys that a careless look-up would find.
        world.AddUsbDevice("VID_1", "I", "Desc", "F (COM1)", cPorts);
        QCOMPARE(Lines(CreateDvcInfosWithDirection(ddArrived, RecordOf(name).Get())), expected);
    }

    void malformedRegistryDataLeavesTheBuilder()
    {
        TTestWorld world;
        world.AddUsbDevice("VID_1", "I", "Desc", "", "{4D36E978-E325-11CE-BFC1-08002BE1031}");
        const TRecord record = RecordOf(UsbInterfaceName("VID_1", "I"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, delete CreateDvcInfos(record.Get()));
        world.Registry->SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1\\I", "ClassGUID",
                                 {REG_BINARY, QByteArray(16, '\0')});
        QVERIFY_THROWS_EXCEPTION(ERegistryException, delete CreateDvcInfos(record.Get()));
        world.AddUsbDevice("VID_1", "I", "", "", cUsb);
        world.Registry->SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1\\I", "DeviceDesc",
                                 {REG_DWORD, QByteArray(4, '\0')});
        QVERIFY_THROWS_EXCEPTION(ERegistryException, delete CreateDvcInfos(record.Get()));
    }

    void nullRecord()
    {
        QCOMPARE(GetDvcDeviceDesc(nullptr), QString());
        QCOMPARE(GetDvcFriendlyName(nullptr), QString());
        QCOMPARE(GetDvcType(nullptr), dtNone);
    }

    void enumerationTexts()
    {
        QCOMPARE(DeviceTypeToStr(dtNone), QString("dtNone"));
        QCOMPARE(DeviceTypeToStr(dtComport), QString("dtComport"));
        QCOMPARE(DeviceTypeToStr(dtUSB), QString("dtUSB"));
        QCOMPARE(DvcDirectionToStr(ddArrived), QString("ddArrived"));
        QCOMPARE(DvcDirectionToStr(ddRemoved), QString("ddRemoved"));
        QCOMPARE(ExtractComPort("Port (COM12) and COM3"), QString("COM12"));
        QCOMPARE(ExtractComPort(""), QString());
    }

    // Records from outside: never read past what exists, never crash; empty fields at worst.
    void badRecords_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("expected");
        const QByteArray good = win::DeviceInterfaceRecord(StringToGUID(cUsbIntf), UsbInterfaceName("VID_1", "I"));
        const QString head = "classguid=" + cUsbIntf;
        const QString empty = "classguid={00000000-0000-0000-0000-000000000000}";
        QByteArray sizeZero = good;
        std::memset(sizeZero.data(), 0, 4);
        QTest::newRow("dbcc_size 0") << sizeZero << "" << QStringList{head, "DeviceType=dtNone", "Direction=ddArrived"};
        QByteArray tooBig = good;
        const DWORD big = 0xFFFFFFF0u;
        std::memcpy(tooBig.data(), &big, 4);
        QTest::newRow("dbcc_size past the record") << tooBig << UsbInterfaceName("VID_1", "I")
            << QStringList{head, "DeviceType=dtUSB", "DeviceDesc=Desc", "VIdPId=VID_1\\I", "Direction=ddArrived"};
        QByteArray noZero = good;
        noZero.chop(2);
        const DWORD shorter = DWORD(noZero.size());
        std::memcpy(noZero.data(), &shorter, 4);
        QTest::newRow("name without its zero") << noZero << UsbInterfaceName("VID_1", "I")
            << QStringList{head, "DeviceType=dtUSB", "DeviceDesc=Desc", "VIdPId=VID_1\\I", "Direction=ddArrived"};
        QByteArray cut = good.left(40);
        QTest::newRow("record cut inside the name") << cut << "\\\\?\\US"
            << QStringList{head, "DeviceType=dtNone", "Direction=ddArrived"};
        QByteArray oddSize = good.left(33);
        QTest::newRow("odd size") << oddSize << "\\\\"
            << QStringList{head, "DeviceType=dtNone", "Direction=ddArrived"};
        QTest::newRow("header only") << good.left(12) << ""
            << QStringList{empty, "DeviceType=dtNone", "Direction=ddArrived"};
        QTest::newRow("three bytes") << QByteArray("\x20\0\0", 3) << "" << QStringList{empty, "DeviceType=dtNone", "Direction=ddArrived"};
        QTest::newRow("nothing") << QByteArray() << "" << QStringList{empty, "DeviceType=dtNone", "Direction=ddArrived"};
        // A volume: size, type 2, reserved, unit mask, flags.
        QByteArray volume(18, '\0');
        const DWORD volumeHeader[4] = {18, DBT_DEVTYP_VOLUME, 0, 0x4};
        std::memcpy(volume.data(), volumeHeader, 16);
        QTest::newRow("volume") << volume << "" << QStringList{empty, "DeviceType=dtNone", "Direction=ddArrived"};
        // A port: size, type 3, reserved, then the port name in place.
        QByteArray port(12, '\0');
        port.append(reinterpret_cast<const char*>(u"COM3#A#B#C"), 22);
        const DWORD portHeader[3] = {DWORD(port.size()), DBT_DEVTYP_PORT, 0};
        std::memcpy(port.data(), portHeader, 12);
        QTest::newRow("port") << port << "" << QStringList{empty, "DeviceType=dtNone", "Direction=ddArrived"};
        const QString lone = UsbInterfaceName("VID_1", QString(QChar(0xD800)));
        QTest::newRow("lone surrogate") << win::DeviceInterfaceRecord(StringToGUID(cUsbIntf), lone) << lone
            << QStringList{head, "DeviceType=dtNone", "VIdPId=VID_1\\" + QString(QChar(0xD800)), "Direction=ddArrived"};
    }
    void badRecords()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(QStringList, expected);
        TTestWorld world;
        world.AddUsbDevice("VID_1", "I", "Desc", "", cUsb);
        const TRecord record = RawRecord(bytes);
        QCOMPARE(GetDvcName(record.Get()), name);
        QCOMPARE(Lines(CreateDvcInfosWithDirection(ddArrived, record.Get())), expected);
    }

    void safeRecordNeverClaimsMoreThanItHas()
    {
        QByteArray bytes(30, '\x7f');
        const auto record = win::MakeSafeBroadcastRecord(bytes);
        DWORD size = 0;
        std::memcpy(&size, record->constData(), 4);
        QCOMPARE(size, DWORD(30));
        QVERIFY(record->size() >= 32 + 2);
        QCOMPARE(record->mid(30, 2), QByteArray(2, '\0'));
    }
};

QTEST_GUILESS_MAIN(TestDvcBroadcast)
#include "tst_dvc_broadcast.moc"
