#pragma once
// Window messages and device notifications, as the system's code spells them.

#include <win/WinDef.h>

#include <cstdint>

using HWND = HANDLE;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using HDEVNOTIFY = HANDLE;

constexpr UINT WM_DEVICECHANGE = 0x0219;

// Recipient kinds and options of RegisterDeviceNotificationW.
constexpr DWORD DEVICE_NOTIFY_WINDOW_HANDLE = 0x00000000;
constexpr DWORD DEVICE_NOTIFY_ALL_INTERFACE_CLASSES = 0x00000004;

// A window message as a window method receives it.
struct TMessage {
    UINT Msg = 0;
    WPARAM WParam = 0;
    LPARAM LParam = 0;
    LRESULT Result = 0;
};

// Registers ARecipient (a window of AllocateHWnd) for the device-interface broadcasts that
// ANotificationFilter (a device-interface record) selects. Null when refused: an unknown
// window, a filter that is not a device-interface record, flags other than the two above, or
// a device world that refuses.
HDEVNOTIFY RegisterDeviceNotificationW(HANDLE ARecipient, const void* ANotificationFilter, DWORD AFlags);
// Nonzero when the registration existed and is withdrawn.
BOOL UnregisterDeviceNotification(HDEVNOTIFY AHandle);
