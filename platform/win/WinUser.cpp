#include "WinUser.h"

#include <win/Dbt.h>
#include <win/DeviceWorld.h>
#include <win/HiddenWindow.h>
#include <win/NotificationWorld.h>

#include <cstring>

HDEVNOTIFY RegisterDeviceNotificationW(HANDLE ARecipient, const void* ANotificationFilter, DWORD AFlags)
{
    if (!ANotificationFilter || !win::IsWindow(ARecipient))
        return nullptr;
    if ((AFlags & ~DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != DEVICE_NOTIFY_WINDOW_HANDLE)
        return nullptr;
    DEV_BROADCAST_HDR header;
    std::memcpy(&header, ANotificationFilter, sizeof header);
    // A device-interface filter: header, class GUID and at least the declared name field.
    if (header.dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE || header.dbch_size < 32)
        return nullptr;
    const win::TDeviceWorld world = win::DeviceWorld();
    if (!world.Notifications)
        return nullptr;
    return world.Notifications->RegisterDeviceNotification(ARecipient, ANotificationFilter, AFlags);
}

BOOL UnregisterDeviceNotification(HDEVNOTIFY AHandle)
{
    if (!AHandle)
        return 0;
    const win::TDeviceWorld world = win::DeviceWorld();
    if (!world.Notifications)
        return 0;
    return world.Notifications->UnregisterDeviceNotification(AHandle);
}
