#pragma once
// The device-setup library: device information sets of the devices present in a setup class
// and their Plug and Play properties, answered from the device world's setup facet.
//
// As on the platform, the entry points are bound on demand: LoadSetupApi binds them (and
// counts a reference), UnloadSetupApi drops one. The library is missing when the device world
// has no setup facet. A call while nothing is bound fails with ERROR_INVALID_FUNCTION.
// Every failure leaves its code (win/WinError.h) as the calling thread's last error.
//
// A set is a snapshot taken by SetupDiGetClassDevsExW: the same index of the same open set
// always names the same device, whatever the world does meanwhile.

#include "WinDef.h"

#include <rtl/GUID.h>

#include <cstdint>

using HDEVINFO = void*;
using HWND = HANDLE;
using PBYTE = std::uint8_t*;
using PDWORD = DWORD*;
using ULONG_PTR = std::uintptr_t;

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    TGUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

constexpr DWORD DIGCF_DEFAULT = 0x01;
constexpr DWORD DIGCF_PRESENT = 0x02;
constexpr DWORD DIGCF_ALLCLASSES = 0x04;
constexpr DWORD DIGCF_PROFILE = 0x08;
constexpr DWORD DIGCF_DEVICEINTERFACE = 0x10;

constexpr DWORD SPDRP_DEVICEDESC = 0x00;
constexpr DWORD SPDRP_HARDWAREID = 0x01;
constexpr DWORD SPDRP_COMPATIBLEIDS = 0x02;
constexpr DWORD SPDRP_SERVICE = 0x04;
constexpr DWORD SPDRP_CLASS = 0x07;
constexpr DWORD SPDRP_CLASSGUID = 0x08;
constexpr DWORD SPDRP_DRIVER = 0x09;
constexpr DWORD SPDRP_CONFIGFLAGS = 0x0A;
constexpr DWORD SPDRP_MFG = 0x0B;
constexpr DWORD SPDRP_FRIENDLYNAME = 0x0C;
constexpr DWORD SPDRP_LOCATION_INFORMATION = 0x0D;
constexpr DWORD SPDRP_PHYSICAL_DEVICE_OBJECT_NAME = 0x0E;
constexpr DWORD SPDRP_CAPABILITIES = 0x0F;
constexpr DWORD SPDRP_UI_NUMBER = 0x10;
constexpr DWORD SPDRP_UPPERFILTERS = 0x11;
constexpr DWORD SPDRP_LOWERFILTERS = 0x12;
constexpr DWORD SPDRP_BUSTYPEGUID = 0x13;
constexpr DWORD SPDRP_LEGACYBUSTYPE = 0x14;
constexpr DWORD SPDRP_BUSNUMBER = 0x15;
constexpr DWORD SPDRP_ENUMERATOR_NAME = 0x16;
constexpr DWORD SPDRP_DEVTYPE = 0x19;
constexpr DWORD SPDRP_CHARACTERISTICS = 0x1B;
constexpr DWORD SPDRP_ADDRESS = 0x1C;
constexpr DWORD SPDRP_UI_NUMBER_DESC_FORMAT = 0x1D;
constexpr DWORD SPDRP_DEVICE_POWER_DATA = 0x1E;
constexpr DWORD SPDRP_REMOVAL_POLICY = 0x1F;
constexpr DWORD SPDRP_REMOVAL_POLICY_HW_DEFAULT = 0x20;
constexpr DWORD SPDRP_REMOVAL_POLICY_OVERRIDE = 0x21;
constexpr DWORD SPDRP_INSTALL_STATE = 0x22;

// Binds the entry points; false (ERROR_MOD_NOT_FOUND) when the library is missing.
bool LoadSetupApi();
bool IsSetupApiLoaded();
// Drops one reference of a successful load.
void UnloadSetupApi();

// A new set of the devices present now in the setup class ClassGuid. Only DIGCF_PRESENT is
// served (ERROR_INVALID_FLAGS otherwise), on the local machine, without an enumerator or an
// existing set. INVALID_HANDLE_VALUE on failure.
HDEVINFO SetupDiGetClassDevsExW(const TGUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent, DWORD Flags,
                                HDEVINFO DeviceInfoSet, LPCWSTR MachineName, void* Reserved);
// Fills DeviceInfoData (whose cbSize the caller set) for the set's element MemberIndex;
// ERROR_NO_MORE_ITEMS past the last.
BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData);
// Reads one property of an element. A buffer that is absent or too small fails with
// ERROR_INSUFFICIENT_BUFFER and reports the type and the size needed; a property the device
// does not have fails with ERROR_INVALID_DATA.
BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                       DWORD PropertyBufferSize, PDWORD RequiredSize);
// The description of a setup class, sizes in characters with the closing NUL;
// ERROR_INVALID_CLASS for a GUID that names no setup class.
BOOL SetupDiGetClassDescriptionW(const TGUID* ClassGuid, LPWSTR ClassDescription, DWORD ClassDescriptionSize,
                                 PDWORD RequiredSize);
BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet);
