#pragma once
// The devices present now in given setup classes, each described on request through one
// shared property reader that every look-up re-points. Every set a search opened stays open
// until the list is destroyed. One thread at a time.
//
// Held and freed as an object by its owner; an interface reference would hand its lifetime
// to the reference count.

#include "mDevice.Windows.h"
#include "mDeviceList.Windows.Common.h"

#include <rtl/StringList.h>
#include <rtl/SysUtils.h>

#include <QString>

#include <memory>
#include <vector>

class TdvcList : public TInterfacedObject, public IDeviceList {
public:
    // Binds SetupAPI; EOSError for the last system error when it cannot be loaded.
    TdvcList();
    ~TdvcList() override;
    TdvcList(const TdvcList&) = delete;
    TdvcList& operator=(const TdvcList&) = delete;

    std::int32_t AddRef() override { return TInterfacedObject::AddRef(); }
    std::int32_t Release() override { return TInterfacedObject::Release(); }

    // The device at Index, re-pointed; null when it can no longer be selected.
    // EArgumentOutOfRangeException "Argument out of range" outside 0..Count-1.
    TWinDevice* GetDevices(std::int32_t Index) override;
    std::int32_t GetCount() override;
    bool Exists(TDvcExistsFunc AFunc) override;
    bool Exists(const TGUID& AGUID, TDvcExistsFunc AFunc) override;
    // Calls AExistsProc once for each function that finds a device.
    void Exists(const std::vector<TDvcExistsFunc>& AFuncs, const TProc& AExistsProc);
    // Lists the present devices of each setup class in turn; EOSError when one cannot be
    // listed (the devices of the classes before it stay listed).
    void ClearAndSearch(const std::vector<TGUID>& AGUIDs) override;
    void Clear() override;
    QStringList AsStringArray() override;

    // Writes the device's information list into AInfos (cleared first); false for a null
    // AInfos or a device that can no longer be selected.
    bool AsInfos(const std::int32_t AIdx, TStringList* AInfos);

    std::int32_t Count() { return GetCount(); }
    TWinDevice* Devices(std::int32_t Index) { return GetDevices(Index); }

private:
    struct TItem {
        TWinDvcItemKey Key;
        QString Value;
    };

    std::unique_ptr<std::vector<TItem>> FList;
    HDEVINFO FhDevice = INVALID_HANDLE_VALUE;
    std::unique_ptr<TWinDevice> FCurrentDevice;
    // Every set opened so far, FhDevice among them.
    std::vector<HDEVINFO> FOpenedSets;
};
