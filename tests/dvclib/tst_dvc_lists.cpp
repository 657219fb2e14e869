// Name=value lists, GUID texts, regular expressions and the registry reader.
#include "MemoryWorld.h"

#include <mRegistryHelper.h>
#include <mStringListHelper.h>

#include <rtl/GUID.h>
#include <rtl/RegularExpressions.h>
#include <rtl/StringList.h>
#include <win/Registry.h>

#include <QTest>

Q_DECLARE_METATYPE(TGUID)

namespace {

TStringList ListOf(const QStringList& ALines)
{
    TStringList list;
    for (const QString& line : ALines)
        list.Add(line);
    return list;
}

const TGUID cUsbDevice{0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

}  // namespace

class TestDvcLists : public QObject {
    Q_OBJECT
private slots:
    void setValueAsString_data()
    {
        QTest::addColumn<QStringList>("before");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("after");
        QTest::newRow("empty value, name absent: unchanged")
            << QStringList{"a=1", "b=2"} << "c" << "" << QStringList{"a=1", "b=2"};
        QTest::newRow("empty value deletes, order kept")
            << QStringList{"a=1", "b=2", "c=3"} << "b" << "" << QStringList{"a=1", "c=3"};
        QTest::newRow("second set replaces in place")
            << QStringList{"a=1", "b=2", "c=3"} << "b" << "9" << QStringList{"a=1", "b=9", "c=3"};
        QTest::newRow("other case finds it, rewritten with the new name")
            << QStringList{"DeviceDesc=x", "b=2"} << "DEVICEDESC" << "y" << QStringList{"DEVICEDESC=y", "b=2"};
        QTest::newRow("first match only")
            << QStringList{"a=1", "A=2"} << "a" << "3" << QStringList{"a=3", "A=2"};
        QTest::newRow("appended at the end")
            << QStringList{"a=1"} << "b" << "x=y" << QStringList{"a=1", "b=x=y"};
        QTest::newRow("line without = is no entry")
            << QStringList{"a", "b=2"} << "a" << "1" << QStringList{"a", "b=2", "a=1"};
    }
    void setValueAsString()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QFETCH(QStringList, after);
        TStringList list = ListOf(before);
        TStringListHelper::SetValueAsString(list, name, value);
        QCOMPARE(list.Lines(), after);
    }

    void getValueAsString()
    {
        const TStringList list = ListOf({"VIdPId=VID_2047&PID_0200\\X", "Empty=", "VIdPId=second", "x=a=b"});
        QCOMPARE(TStringListHelper::GetValueAsString(list, "vidpid"), QString("VID_2047&PID_0200\\X"));
        QCOMPARE(TStringListHelper::GetValueAsString(list, "x"), QString("a=b"));
        QCOMPARE(TStringListHelper::GetValueAsString(list, "Empty"), QString());
        QCOMPARE(TStringListHelper::GetValueAsString(list, "missing"), QString());
    }

    void getValueAsGUID_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<TGUID>("expected");
        QTest::newRow("missing") << QStringList{} << TGUID();
        QTest::newRow("empty text") << QStringList{"classguid="} << TGUID();
        QTest::newRow("36 characters, no braces") << QStringList{"classguid=A5DCBF10-6530-11D2-901F-00C04FB951ED"} << TGUID();
        QTest::newRow("lower-case digits") << QStringList{"classguid={a5dcbf10-6530-11d2-901f-00c04fb951ed}"} << cUsbDevice;
        QTest::newRow("upper-case digits") << QStringList{"CLASSGUID={A5DCBF10-6530-11D2-901F-00C04FB951ED}"} << cUsbDevice;
        QTest::newRow("hyphen out of place") << QStringList{"classguid={A5DCBF1-06530-11D2-901F-00C04FB951ED}"} << TGUID();
        QTest::newRow("not a hex digit") << QStringList{"classguid={A5DCBF10-6530-11D2-901F-00C04FB951EG}"} << TGUID();
        QTest::newRow("missing brace") << QStringList{"classguid={A5DCBF10-6530-11D2-901F-00C04FB951ED "} << TGUID();
        QTest::newRow("39 characters") << QStringList{"classguid={A5DCBF10-6530-11D2-901F-00C04FB951ED}}"} << TGUID();
        QTest::newRow("sign in a group") << QStringList{"classguid={+5DCBF10-6530-11D2-901F-00C04FB951ED}"} << TGUID();
    }
    void getValueAsGUID()
    {
        QFETCH(QStringList, lines);
        QFETCH(TGUID, expected);
        QVERIFY(TStringListHelper::GetValueAsGUID(ListOf(lines), "classguid") == expected);
    }

    void guidRoundTripWritesUpperCase()
    {
        TStringList list;
        TStringListHelper::SetValueAsGUID(list, "classguid", StringToGUID("{86e0d1e0-8089-11d0-9ce4-08003e301f73}"));
        QCOMPARE(list.Lines(), QStringList{"classguid={86E0D1E0-8089-11D0-9CE4-08003E301F73}"});
        QVERIFY(TStringListHelper::GetValueAsGUID(list, "classguid")
                == StringToGUID("{86E0D1E0-8089-11D0-9CE4-08003E301F73}"));
        TStringListHelper::SetValueAsGUID(list, "classguid", TGUID());
        QCOMPARE(list.Lines(), QStringList{"classguid={00000000-0000-0000-0000-000000000000}"});
    }

    void guidByteLayoutIsWindows()
    {
        const TGUID guid = StringToGUID("{00112233-4455-6677-8899-AABBCCDDEEFF}");
        const QByteArray bytes(reinterpret_cast<const char*>(&guid), 16);
        QCOMPARE(bytes.toHex(), QByteArray("33221100554477668899aabbccddeeff"));
        QVERIFY_THROWS_EXCEPTION(EConvertError, StringToGUID("{00112233-4455-6677-8899-AABBCCDDEEF}"));
        try {
            StringToGUID("nope");
        } catch (const EConvertError& e) {
            QCOMPARE(e.Message(), QString("'nope' is not a valid GUID value"));
        }
    }

    void regexMatch_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("expected");
        QTest::newRow("look-behind left out") << "VID_2047&PID_0200" << "(?<=PID_)([0-9a-fA-F]+)" << "0200";
        QTest::newRow("first match") << "COM3 COM4" << "COM\\d*" << "COM3";
        QTest::newRow("case-sensitive") << "com3" << "COM\\d*" << "";
        QTest::newRow("bad pattern matches nothing") << "abc" << "(" << "";
    }
    void regexMatch()
    {
        QFETCH(QString, input);
        QFETCH(QString, pattern);
        QFETCH(QString, expected);
        QCOMPARE(TRegEx::Match(input, pattern).Value(), expected);
    }

    void stringListIndexErrors()
    {
        TStringList list = ListOf({"a"});
        QVERIFY_THROWS_EXCEPTION(EListError, list.Strings(1));
        QVERIFY_THROWS_EXCEPTION(EListError, list.SetStrings(-1, "x"));
        QCOMPARE(list.IndexOf("A"), 0);
        QCOMPARE(list.IndexOf("b"), -1);
        TObject* asObject = new TStringList(list);
        delete asObject;
    }

    void readRegistryString_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("text value") << "SYSTEM\\Dev\\K\\" << "DeviceDesc" << "Analyzer";
        QTest::newRow("key path and name without regard to case") << "system\\dev\\k" << "DEVICEDESC" << "Analyzer";
        QTest::newRow("missing key") << "SYSTEM\\Dev\\Nope\\" << "DeviceDesc" << "";
        QTest::newRow("missing value") << "SYSTEM\\Dev\\K\\" << "FriendlyName" << "";
        QTest::newRow("expandable text as stored") << "SYSTEM\\Dev\\K" << "Path" << "%SystemRoot%\\x";
        QTest::newRow("up to the first zero") << "SYSTEM\\Dev\\K" << "Zero" << "ab";
        QTest::newRow("empty data") << "SYSTEM\\Dev\\K" << "Nothing" << "";
        QTest::newRow("odd byte count") << "SYSTEM\\Dev\\K" << "Odd" << "a";
        QTest::newRow("key that cannot be read") << "SYSTEM\\Dev\\Locked" << "DeviceDesc" << "";
        QTest::newRow("key above a key") << "SYSTEM\\Dev" << "DeviceDesc" << "";
    }
    void readRegistryString()
    {
        QFETCH(QString, key);
        QFETCH(QString, name);
        QFETCH(QString, expected);
        TTestWorld world;
        world.Registry->SetString(HKEY_LOCAL_MACHINE, "SYSTEM\\Dev\\K", "DeviceDesc", "Analyzer");
        world.Registry->SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Dev\\K", "Path", win::RegistryString("%SystemRoot%\\x", REG_EXPAND_SZ));
        world.Registry->SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Dev\\K", "Zero", {REG_SZ, QByteArray("a\0b\0\0\0c\0", 8)});
        world.Registry->SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Dev\\K", "Nothing", {REG_SZ, QByteArray()});
        world.Registry->SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\Dev\\K", "Odd", {REG_SZ, QByteArray("a\0b", 3)});
        world.Registry->SetString(HKEY_LOCAL_MACHINE, "SYSTEM\\Dev\\Locked", "DeviceDesc", "Hidden");
        world.Registry->DenyKey(HKEY_LOCAL_MACHINE, "SYSTEM\\Dev\\Locked");
        QCOMPARE(ReadRegistryString(HKEY_LOCAL_MACHINE, key, name), expected);
        QCOMPARE(ReadRegistryString(HKEY_CURRENT_USER, key, name), QString());
    }

    void readRegistryStringRaisesOnOtherTypes_data()
    {
        QTest::addColumn<uint>("type");
        QTest::newRow("REG_DWORD") << uint(REG_DWORD);
        QTest::newRow("REG_BINARY") << uint(REG_BINARY);
        QTest::newRow("REG_MULTI_SZ") << uint(REG_MULTI_SZ);
        QTest::newRow("REG_NONE") << uint(REG_NONE);
    }
    void readRegistryStringRaisesOnOtherTypes()
    {
        QFETCH(uint, type);
        TTestWorld world;
        world.Registry->SetValue(HKEY_LOCAL_MACHINE, "SYSTEM\\K", "ClassGUID", {type, QByteArray("\1\0\0\0", 4)});
        try {
            ReadRegistryString(HKEY_LOCAL_MACHINE, "SYSTEM\\K", "ClassGUID");
            QFAIL("no error");
        } catch (const ERegistryException& e) {
            QCOMPARE(e.Message(), QString("Invalid data type for 'ClassGUID'"));
        }
    }

    void noWorldNoKeys()
    {
        win::SelectDeviceWorld({});
        QCOMPARE(ReadRegistryString(HKEY_LOCAL_MACHINE, "SYSTEM", "x"), QString());
    }
};

QTEST_GUILESS_MAIN(TestDvcLists)
#include "tst_dvc_lists.moc"
