#include "mDeviceObserver.Windows.Common.h"

#include "mRegistryHelper.h"
#include "mStringListHelper.h"

#include <rtl/RegularExpressions.h>
#include <rtl/SysUtils.h>
#include <win/Dbt.h>
#include <win/DeviceClassGuids.h>

#include <QStringList>

#include <cstring>
#include <memory>

namespace {

constexpr DWORD cNameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name);

// Records of other kinds (volumes, ports) are shorter and laid out otherwise: they carry
// no interface name and no interface class.
bool IsInterfaceRecord(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    return ADevBroadcast && ADevBroadcast->dbcc_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
}

QStringList NamePieces(const QString& AName)
{
    if (AName.isEmpty())
        return {};
    QStringList pieces = AName.split(u'#');
    if (pieces.size() > 1 && pieces.last().isEmpty())
        pieces.removeLast();
    return pieces;
}

}  // namespace

QString GetDvcName(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    if (!IsInterfaceRecord(ADevBroadcast) || ADevBroadcast->dbcc_size == 0)
        return QString();
    const DWORD size = ADevBroadcast->dbcc_size;
    const std::size_t available = size > cNameOffset ? (size - cNameOffset) / sizeof(WCHAR) : 0;
    const auto* bytes = reinterpret_cast<const char*>(ADevBroadcast) + cNameOffset;
    QString name;
    for (std::size_t i = 0; i < available; ++i) {
        char16_t c;
        std::memcpy(&c, bytes + i * sizeof(WCHAR), sizeof c);
        if (c == 0)
            break;
        name.append(QChar(c));
    }
    return name;
}

bool IsDvcNameValid(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    if (!ADevBroadcast || ADevBroadcast->dbcc_size == 0)
        return false;
    return NamePieces(GetDvcName(ADevBroadcast)).size() == 4;
}

QString GetDvcRegPath(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    const QString name = GetDvcName(ADevBroadcast);
    const QStringList pieces = NamePieces(name);
    if (name.isEmpty() || pieces.size() != 4)
        return QString();
    return Format(QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\USB\\%s\\%s\\"), {pieces.at(1), pieces.at(2)});
}

QString GetDvcVIdPId(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    const QString name = GetDvcName(ADevBroadcast);
    const QStringList pieces = NamePieces(name);
    if (name.isEmpty() || pieces.size() < 3)
        return QString();
    return pieces.at(1) + u'\\' + pieces.at(2);
}

QString GetDvcDeviceDesc(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    if (!ADevBroadcast || !IsDvcNameValid(ADevBroadcast))
        return QString();
    return ReadRegistryString(HKEY_LOCAL_MACHINE, GetDvcRegPath(ADevBroadcast), QStringLiteral("DeviceDesc"));
}

QString GetDvcFriendlyName(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    if (!ADevBroadcast || !IsDvcNameValid(ADevBroadcast))
        return QString();
    return ReadRegistryString(HKEY_LOCAL_MACHINE, GetDvcRegPath(ADevBroadcast), QStringLiteral("FriendlyName"));
}

TDeviceType GetDvcType(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    if (!ADevBroadcast || !IsDvcNameValid(ADevBroadcast))
        return dtNone;
    const QString classGuid = QStringLiteral("ClassGUID");
    if (IsRegistryGUIDEqual(HKEY_LOCAL_MACHINE, GUID_DEVCLASS_PORTS, GetDvcRegPath(ADevBroadcast), classGuid))
        return dtComport;
    if (IsRegistryGUIDEqual(HKEY_LOCAL_MACHINE, GUID_DEVCLASS_USB, GetDvcRegPath(ADevBroadcast), classGuid))
        return dtUSB;
    return dtNone;
}

bool IsRegistryGUIDEqual(HKEY ARootKey, const TGUID& AGuid, const QString& AKey, const QString& AName)
{
    const QString text = ReadRegistryString(ARootKey, AKey, AName);
    if (text.isEmpty())
        return false;
    return IsEqualGUID(StringToGUID(text), AGuid);
}

QString ExtractComPort(const QString& AText)
{
    return TRegEx::Match(AText, QStringLiteral("COM\\d*")).Value();
}

QString DeviceTypeToStr(TDeviceType AValue)
{
    switch (AValue) {
    case dtComport: return QStringLiteral("dtComport");
    case dtUSB: return QStringLiteral("dtUSB");
    case dtNone: break;
    }
    return QStringLiteral("dtNone");
}

QString DvcDirectionToStr(TDvcDirection AValue)
{
    return AValue == ddRemoved ? QStringLiteral("ddRemoved") : QStringLiteral("ddArrived");
}

TStringList* CreateDvcInfos(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    auto list = std::make_unique<TStringList>();
    const TGUID classGuid = IsInterfaceRecord(ADevBroadcast) ? ADevBroadcast->dbcc_classguid : TGUID::Empty();
    TStringListHelper::SetValueAsGUID(*list, QStringLiteral("classguid"), classGuid);
    TStringListHelper::SetValueAsString(*list, QStringLiteral("DeviceType"), DeviceTypeToStr(GetDvcType(ADevBroadcast)));
    TStringListHelper::SetValueAsString(*list, QStringLiteral("DeviceDesc"), GetDvcDeviceDesc(ADevBroadcast));
    TStringListHelper::SetValueAsString(*list, QStringLiteral("FriendlyName"), GetDvcFriendlyName(ADevBroadcast));
    TStringListHelper::SetValueAsString(*list, QStringLiteral("VIdPId"), GetDvcVIdPId(ADevBroadcast));
    TStringListHelper::SetValueAsString(
        *list, QStringLiteral("Comport"),
        ExtractComPort(TStringListHelper::GetValueAsString(*list, QStringLiteral("FriendlyName"))));
    return list.release();
}

TStringList* CreateDvcInfosWithDirection(TDvcDirection ADirection, PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)
{
    std::unique_ptr<TStringList> list(CreateDvcInfos(ADevBroadcast));
    TStringListHelper::SetValueAsString(*list, QStringLiteral("Direction"), DvcDirectionToStr(ADirection));
    return list.release();
}

HDEVNOTIFY RegisterDvcNotification(HWND AWnd, const TGUID& AClass, DWORD AFlags)
{
    DEV_BROADCAST_DEVICEINTERFACE filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    filter.dbcc_classguid = AClass;
    return RegisterDeviceNotificationW(AWnd, &filter, AFlags);
}

bool UnregisterDvcNotification(HDEVNOTIFY AHandle)
{
    return UnregisterDeviceNotification(AHandle) != 0;
}
