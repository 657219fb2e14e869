#pragma once
// The device world's facet for device notifications: what RegisterDeviceNotificationW and
// UnregisterDeviceNotification ask of it.

#include <win/WinUser.h>

namespace win {

class INotificationWorld {
public:
    virtual ~INotificationWorld() = default;
    // ARecipient is a live hidden window and AFilter a device-interface record whose size the
    // caller has checked; null when the world refuses.
    virtual HDEVNOTIFY RegisterDeviceNotification(HWND ARecipient, const void* AFilter, DWORD AFlags) = 0;
    virtual BOOL UnregisterDeviceNotification(HDEVNOTIFY AHandle) = 0;
};

}  // namespace win
