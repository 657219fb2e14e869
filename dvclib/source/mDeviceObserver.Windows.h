#pragma once
// A non-visual component with a hidden window that registers for device-interface
// notifications per interface class and turns WM_DEVICECHANGE into events.
//
// The window belongs to the creating thread; all six events run there, inside its message
// loop. The component may be destroyed on another thread: no message reaches it afterwards.

#include "mDeviceObserver.Windows.Common.h"

#include <rtl/Classes.h>
#include <rtl/GUID.h>
#include <rtl/SysUtils.h>
#include <win/HiddenWindow.h>

#include <map>
#include <vector>

class TWinDeviceObserver : public TComponent {
public:
    explicit TWinDeviceObserver(TComponent* AOwner);
    ~TWinDeviceObserver() override;

    // Registers the window for the class; false when refused. Not checked first: a second
    // call registers again and keeps only the newer handle.
    bool AddNotifycation(const TGUID& ADeviceInterface);
    // Withdraws the stored registration; the class is forgotten only when that succeeds.
    void RemoveNotification(const TGUID& ADeviceInterface);
    bool ExistsNotifycation(const TGUID& ADeviceInterface) const;
    // The classes with a stored registration; no order is promised.
    std::vector<TGUID> RegNotifications() const;

    const TNotifyInteger& OnNodeChange() const { return FOnNodeChange; }
    void SetOnNodeChange(TNotifyInteger AValue) { FOnNodeChange = std::move(AValue); }
    const TProc& OnNodeChangePorc() const { return FOnNodeChangeProc; }
    void SetOnNodeChangePorc(TProc AValue) { FOnNodeChangeProc = std::move(AValue); }
    const TNotifyDevBroadcastDeviceInterface& OnArrived() const { return FOnArrived; }
    void SetOnArrived(TNotifyDevBroadcastDeviceInterface AValue) { FOnArrived = std::move(AValue); }
    const TNotifyDevBroadcastDeviceInterfaceProc& OnArrivedProc() const { return FOnArrivedProc; }
    void SetOnArrivedProc(TNotifyDevBroadcastDeviceInterfaceProc AValue) { FOnArrivedProc = std::move(AValue); }
    const TNotifyDevBroadcastDeviceInterface& OnRemoved() const { return FOnRemoved; }
    void SetOnRemoved(TNotifyDevBroadcastDeviceInterface AValue) { FOnRemoved = std::move(AValue); }
    const TNotifyDevBroadcastDeviceInterfaceProc& OnRemovedProc() const { return FOnRemovedProc; }
    void SetOnRemovedProc(TNotifyDevBroadcastDeviceInterfaceProc AValue) { FOnRemovedProc = std::move(AValue); }

    // The hidden window (for the device world and tests).
    HWND Handle() const { return FHandle; }

protected:
    // Hands every message to the message dispatch; unhandled messages keep the result 0.
    virtual void WndProc(TMessage& AMessage);

private:
    void Dispatch(TMessage& AMessage);
    void WMDeviceChange(TMessage& AMessage);

    std::map<TGUID, HDEVNOTIFY> FRegHandles;
    HWND FHandle = nullptr;
    TNotifyDevBroadcastDeviceInterface FOnArrived;
    TNotifyDevBroadcastDeviceInterface FOnRemoved;
    TNotifyInteger FOnNodeChange;
    TNotifyDevBroadcastDeviceInterfaceProc FOnArrivedProc;
    TNotifyDevBroadcastDeviceInterfaceProc FOnRemovedProc;
    TProc FOnNodeChangeProc;
};
