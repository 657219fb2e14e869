#include "SetupApi.h"

#include "DeviceWorld.h"
#include "ErrHandlingApi.h"
#include "HandleTable.h"
#include "SetupWorld.h"
#include "WinError.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

using TDeviceSet = std::vector<win::TSetupDevice>;

struct TSetupApiState {
    std::mutex Lock;  // for LoadCount
    int LoadCount = 0;
    win::THandleTable<HDEVINFO, std::shared_ptr<const TDeviceSet>> Sets{0x100};
};

TSetupApiState& State()
{
    static TSetupApiState state;
    return state;
}

bool Fail(DWORD AError)
{
    SetLastError(AError);
    return false;
}

HDEVINFO FailSet(DWORD AError)
{
    SetLastError(AError);
    return INVALID_HANDLE_VALUE;
}

bool Bound()
{
    TSetupApiState& state = State();
    std::lock_guard guard(state.Lock);
    return state.LoadCount > 0;
}

std::shared_ptr<const TDeviceSet> FindSet(HDEVINFO ASet)
{
    return State().Sets.Find(ASet).value_or(nullptr);
}

}  // namespace

bool LoadSetupApi()
{
    // A world without a setup facet is a system without the library.
    if (!win::DeviceWorld().Setup)
        return Fail(ERROR_MOD_NOT_FOUND);
    TSetupApiState& state = State();
    std::lock_guard guard(state.Lock);
    ++state.LoadCount;
    return true;
}

bool IsSetupApiLoaded()
{
    return Bound();
}

void UnloadSetupApi()
{
    TSetupApiState& state = State();
    std::lock_guard guard(state.Lock);
    if (state.LoadCount > 0)
        --state.LoadCount;
}

HDEVINFO SetupDiGetClassDevsExW(const TGUID* ClassGuid, LPCWSTR Enumerator, HWND hwndParent, DWORD Flags,
                                HDEVINFO DeviceInfoSet, LPCWSTR MachineName, void* Reserved)
{
    Q_UNUSED(hwndParent);
    if (!Bound())
        return FailSet(ERROR_INVALID_FUNCTION);
    if (Flags != DIGCF_PRESENT)
        return FailSet(ERROR_INVALID_FLAGS);
    if (!ClassGuid || (Enumerator && *Enumerator) || (DeviceInfoSet && DeviceInfoSet != INVALID_HANDLE_VALUE) ||
        (MachineName && *MachineName) || Reserved)
        return FailSet(ERROR_INVALID_PARAMETER);
    const std::shared_ptr<win::ISetupWorld> world = win::DeviceWorld().Setup;
    if (!world)
        return FailSet(ERROR_MOD_NOT_FOUND);
    auto devices = std::make_shared<TDeviceSet>();
    DWORD error = ERROR_SUCCESS;
    // Asked outside the lock: the world may read the system's device tree.
    if (!world->PresentDevices(*ClassGuid, *devices, error))
        return FailSet(error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error);
    return State().Sets.Add(std::move(devices));
}

BOOL SetupDiEnumDeviceInfo(HDEVINFO DeviceInfoSet, DWORD MemberIndex, PSP_DEVINFO_DATA DeviceInfoData)
{
    if (!Bound())
        return Fail(ERROR_INVALID_FUNCTION);
    const auto set = FindSet(DeviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA))
        return Fail(ERROR_INVALID_USER_BUFFER);
    if (MemberIndex >= set->size())
        return Fail(ERROR_NO_MORE_ITEMS);
    const win::TSetupDevice& device = (*set)[MemberIndex];
    DeviceInfoData->ClassGuid = device.ClassGuid;
    DeviceInfoData->DevInst = device.DevInst;
    DeviceInfoData->Reserved = ULONG_PTR(MemberIndex) + 1;
    return true;
}

BOOL SetupDiGetDeviceRegistryPropertyW(HDEVINFO DeviceInfoSet, PSP_DEVINFO_DATA DeviceInfoData, DWORD Property,
                                       PDWORD PropertyRegDataType, PBYTE PropertyBuffer,
                                       DWORD PropertyBufferSize, PDWORD RequiredSize)
{
    if (!Bound())
        return Fail(ERROR_INVALID_FUNCTION);
    const auto set = FindSet(DeviceInfoSet);
    if (!set)
        return Fail(ERROR_INVALID_HANDLE);
    if (!DeviceInfoData || DeviceInfoData->cbSize != sizeof(SP_DEVINFO_DATA) || DeviceInfoData->Reserved == 0 ||
        DeviceInfoData->Reserved > set->size())
        return Fail(ERROR_INVALID_PARAMETER);
    const win::TSetupDevice& device = (*set)[DeviceInfoData->Reserved - 1];
    const auto it = device.Properties.find(Property);
    if (it == device.Properties.end())
        return Fail(ERROR_INVALID_DATA);
    const win::TSetupProperty& property = it->second;
    const DWORD size = DWORD(property.Data.size());
    if (PropertyRegDataType)
        *PropertyRegDataType = property.Type;
    if (RequiredSize)
        *RequiredSize = size;
    if (!PropertyBuffer || PropertyBufferSize < size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    if (size)
        std::memcpy(PropertyBuffer, property.Data.constData(), size);
    return true;
}

BOOL SetupDiGetClassDescriptionW(const TGUID* ClassGuid, LPWSTR ClassDescription, DWORD ClassDescriptionSize,
                                 PDWORD RequiredSize)
{
    if (!Bound())
        return Fail(ERROR_INVALID_FUNCTION);
    if (!ClassGuid)
        return Fail(ERROR_INVALID_PARAMETER);
    const std::shared_ptr<win::ISetupWorld> world = win::DeviceWorld().Setup;
    const std::optional<QString> description = world ? world->ClassDescription(*ClassGuid) : std::nullopt;
    if (!description)
        return Fail(ERROR_INVALID_CLASS);
    const DWORD size = DWORD(description->size()) + 1;
    if (RequiredSize)
        *RequiredSize = size;
    if (!ClassDescription || ClassDescriptionSize < size)
        return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(ClassDescription, description->utf16(), size * sizeof(WCHAR));
    return true;
}

BOOL SetupDiDestroyDeviceInfoList(HDEVINFO DeviceInfoSet)
{
    if (!State().Sets.Release(DeviceInfoSet))
        return Fail(ERROR_INVALID_HANDLE);
    return true;
}
