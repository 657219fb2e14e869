#pragma once
// Device-change event codes (the wParam of WM_DEVICECHANGE) and broadcast record kinds.

#include <win/WinDef.h>

constexpr DWORD DBT_DEVNODES_CHANGED = 0x0007;
constexpr DWORD DBT_DEVICEARRIVAL = 0x8000;
constexpr DWORD DBT_DEVICEQUERYREMOVE = 0x8001;
constexpr DWORD DBT_DEVICEREMOVEPENDING = 0x8003;
constexpr DWORD DBT_DEVICEREMOVECOMPLETE = 0x8004;

constexpr DWORD DBT_DEVTYP_OEM = 0;
constexpr DWORD DBT_DEVTYP_VOLUME = 2;
constexpr DWORD DBT_DEVTYP_PORT = 3;
constexpr DWORD DBT_DEVTYP_DEVICEINTERFACE = 5;
constexpr DWORD DBT_DEVTYP_HANDLE = 6;

// The header every broadcast record starts with.
struct DEV_BROADCAST_HDR {
    DWORD dbch_size;
    DWORD dbch_devicetype;
    DWORD dbch_reserved;
};
static_assert(sizeof(DEV_BROADCAST_HDR) == 12);
