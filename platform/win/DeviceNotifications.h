#pragma once
// What both device worlds share for notifications: the table of registrations and the
// delivery of device-change messages to the registered hidden windows.
//
// A record from outside (a test's bytes, a device's event) is made safe here before any
// window sees it: dbcc_size never claims more than the bytes that exist, the record holds at
// least a whole device-interface header, and a zero character follows its end.

#include <rtl/GUID.h>
#include <win/HandleTable.h>
#include <win/NotificationWorld.h>

#include <QByteArray>
#include <QString>

#include <memory>

namespace win {

// ARecord as it may be handed to a window: see above. An empty input gives a record of
// zeros.
std::shared_ptr<const QByteArray> MakeSafeBroadcastRecord(const QByteArray& ARecord);
// A device-interface record for AClass with AName (UTF-16, zero-terminated, dbcc_size
// counting the name and its zero).
QByteArray DeviceInterfaceRecord(const TGUID& AClass, const QString& AName);

class TDeviceNotifications : public INotificationWorld {
public:
    HDEVNOTIFY RegisterDeviceNotification(HWND ARecipient, const void* AFilter, DWORD AFlags) override;
    BOOL UnregisterDeviceNotification(HDEVNOTIFY AHandle) override;

    // A device-interface arrival or removal (DBT_DEVICEARRIVAL, DBT_DEVICEREMOVECOMPLETE) of
    // AClass, to every window registered for it, once per registration.
    void DeviceInterfaceEvent(WPARAM AEvent, const TGUID& AClass, const QString& AName);
    // DBT_DEVNODES_CHANGED, to every hidden window, registered or not.
    void DevNodesChanged();
    // Any device-change message with any record, to every hidden window (how volumes and
    // ports are announced).
    void BroadcastToAll(WPARAM AEvent, const QByteArray& ARecord);

    // Registrations held now.
    int RegistrationCount() const;

protected:
    // Decides whether a registration is accepted (a test world refuses some).
    virtual bool AcceptRegistration(HWND ARecipient, const TGUID& AClass)
    {
        (void)ARecipient, (void)AClass;
        return true;
    }
    virtual bool AcceptWithdrawal(HWND ARecipient, const TGUID& AClass)
    {
        (void)ARecipient, (void)AClass;
        return true;
    }

private:
    struct TRegistration {
        HWND Recipient = nullptr;
        TGUID Class;
        bool AllClasses = false;
    };
    THandleTable<HDEVNOTIFY, TRegistration> FRegistrations;
};

}  // namespace win
