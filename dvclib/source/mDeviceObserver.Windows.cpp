#include "mDeviceObserver.Windows.h"

#include <win/Dbt.h>

TWinDeviceObserver::TWinDeviceObserver(TComponent* AOwner) : TComponent(AOwner)
{
    FHandle = AllocateHWnd([this](TMessage& AMessage) { WndProc(AMessage); });
}

TWinDeviceObserver::~TWinDeviceObserver()
{
    for (const auto& [deviceInterface, handle] : FRegHandles)
        UnregisterDvcNotification(handle);
    DeallocateHWnd(FHandle);
    FRegHandles.clear();
}

bool TWinDeviceObserver::AddNotifycation(const TGUID& ADeviceInterface)
{
    const HDEVNOTIFY handle = RegisterDvcNotification(FHandle, ADeviceInterface, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE)
        return false;
    FRegHandles[ADeviceInterface] = handle;
    return true;
}

void TWinDeviceObserver::RemoveNotification(const TGUID& ADeviceInterface)
{
    const auto it = FRegHandles.find(ADeviceInterface);
    if (it != FRegHandles.end() && UnregisterDvcNotification(it->second))
        FRegHandles.erase(it);
}

bool TWinDeviceObserver::ExistsNotifycation(const TGUID& ADeviceInterface) const
{
    return FRegHandles.count(ADeviceInterface) != 0;
}

std::vector<TGUID> TWinDeviceObserver::RegNotifications() const
{
    std::vector<TGUID> result;
    result.reserve(FRegHandles.size());
    for (const auto& [deviceInterface, handle] : FRegHandles)
        result.push_back(deviceInterface);
    return result;
}

void TWinDeviceObserver::WndProc(TMessage& AMessage)
{
    Dispatch(AMessage);
}

void TWinDeviceObserver::Dispatch(TMessage& AMessage)
{
    switch (AMessage.Msg) {
    case WM_DEVICECHANGE:
        WMDeviceChange(AMessage);
        break;
    default:
        break;
    }
}

void TWinDeviceObserver::WMDeviceChange(TMessage& AMessage)
{
    const auto record = reinterpret_cast<PDEV_BROADCAST_DEVICEINTERFACE>(AMessage.LParam);
    switch (AMessage.WParam) {
    case DBT_DEVNODES_CHANGED:
        if (FOnNodeChange)
            FOnNodeChange(this, DBT_DEVNODES_CHANGED);
        else if (FOnNodeChangeProc)
            FOnNodeChangeProc();
        break;
    case DBT_DEVICEARRIVAL:
        if (FOnArrived)
            FOnArrived(this, record);
        if (FOnArrivedProc)
            FOnArrivedProc(record);
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        if (FOnRemoved)
            FOnRemoved(this, record);
        if (FOnRemovedProc)
            FOnRemovedProc(record);
        break;
    default:
        break;
    }
}
