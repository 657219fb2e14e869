#pragma once
// The present-device list's interface, its item key and the callable that tests an item.

#include <rtl/GUID.h>
#include <rtl/System.h>
#include <win/SetupApi.h>

#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

class TWinDevice;

// Tests one listed device (null when it can no longer be selected) at its index.
using TDvcExistsFunc = std::function<bool(TWinDevice* ADevice, std::int32_t AIndex)>;

// Where a listed device is found again: the set its search opened, its index there, and the
// class GUID whose search found it.
struct TWinDvcItemKey {
    HDEVINFO HDevList = INVALID_HANDLE_VALUE;
    std::int32_t IdxOfList = 0;
    TGUID GUID;

    static TWinDvcItemKey Create(HDEVINFO AHDevList, const TGUID& AGUID, std::int32_t AIdxOfList)
    {
        return {AHDevList, AIdxOfList, AGUID};
    }
};

class IDeviceList : public virtual IInterface {
public:
    // {9F77C1E9-0380-41AE-AB19-0C4ADB034379}
    static constexpr TGUID IID{0x9F77C1E9, 0x0380, 0x41AE, {0xAB, 0x19, 0x0C, 0x4A, 0xDB, 0x03, 0x43, 0x79}};

    virtual TWinDevice* GetDevices(std::int32_t Index) = 0;
    virtual std::int32_t GetCount() = 0;
    virtual bool Exists(TDvcExistsFunc AFunc) = 0;
    virtual bool Exists(const TGUID& AGUID, TDvcExistsFunc AFunc) = 0;
    virtual void ClearAndSearch(const std::vector<TGUID>& AGUIDs) = 0;
    virtual void Clear() = 0;
    virtual QStringList AsStringArray() = 0;

    TWinDevice* Devices(std::int32_t Index) { return GetDevices(Index); }
    std::int32_t Count() { return GetCount(); }

protected:
    ~IDeviceList() = default;
};
