#pragma once
// Device-interface broadcast records and their decoding into device information lists.

#include <rtl/GUID.h>
#include <rtl/StringList.h>
#include <rtl/System.h>
#include <win/WinReg.h>
#include <win/WinUser.h>

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

// A device-interface broadcast; the name runs on past the declared size, up to dbcc_size.
struct DEV_BROADCAST_DEVICEINTERFACE {
    DWORD dbcc_size;
    DWORD dbcc_devicetype;
    DWORD dbcc_reserved;
    TGUID dbcc_classguid;
    WCHAR dbcc_name[2];
};
using PDEV_BROADCAST_DEVICEINTERFACE = DEV_BROADCAST_DEVICEINTERFACE*;
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE) == 32);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_devicetype) == 4);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_reserved) == 8);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_classguid) == 12);
static_assert(offsetof(DEV_BROADCAST_DEVICEINTERFACE, dbcc_name) == 28);

enum TDeviceType : std::uint8_t { dtNone, dtComport, dtUSB };
enum TDvcDirection : std::uint8_t { ddArrived, ddRemoved };

using TNotifyInteger = std::function<void(TObject* Sender, std::int32_t AValue)>;
using TNotifyDevBroadcastDeviceInterface =
    std::function<void(TObject* Sender, PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)>;
using TNotifyDevBroadcastDeviceInterfaceProc = std::function<void(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast)>;

// The interface name: empty when dbcc_size is 0 or the record is not a device-interface
// record; otherwise the text from dbcc_name up to its first zero, never past dbcc_size.
QString GetDvcName(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
// True exactly when the name has four "#"-separated pieces.
bool IsDvcNameValid(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
// SYSTEM\CurrentControlSet\Enum\USB\<second piece>\<third piece>\ for a four-piece name,
// else empty.
QString GetDvcRegPath(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
// <second piece>\<third piece> for a name of at least three pieces, else empty.
QString GetDvcVIdPId(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
// The device key's values; empty for a null record or an invalid name.
QString GetDvcDeviceDesc(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
QString GetDvcFriendlyName(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
// From the device key's ClassGUID: dtComport for Ports, dtUSB for USB, else dtNone. A
// ClassGUID that is not a GUID text raises EConvertError.
TDeviceType GetDvcType(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
bool IsRegistryGUIDEqual(HKEY ARootKey, const TGUID& AGuid, const QString& AKey, const QString& AName);
// The first "COM\d*" in AText, case-sensitive; empty without one.
QString ExtractComPort(const QString& AText);
QString DeviceTypeToStr(TDeviceType AValue);
QString DvcDirectionToStr(TDvcDirection AValue);

// A new device information list ("classguid", "DeviceType", "DeviceDesc", "FriendlyName",
// "VIdPId", "Comport"; empty values absent) that the caller owns.
TStringList* CreateDvcInfos(PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);
// The same with "Direction" last.
TStringList* CreateDvcInfosWithDirection(TDvcDirection ADirection, PDEV_BROADCAST_DEVICEINTERFACE ADevBroadcast);

// Registers AWnd for AClass's device-interface broadcasts; null on failure.
HDEVNOTIFY RegisterDvcNotification(HWND AWnd, const TGUID& AClass, DWORD AFlags);
bool UnregisterDvcNotification(HDEVNOTIFY AHandle);
