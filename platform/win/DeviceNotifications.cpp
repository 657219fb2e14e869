#include "DeviceNotifications.h"

#include <win/Dbt.h>
#include <win/HiddenWindow.h>

#include <cstring>
#include <optional>
#include <vector>

namespace win {
namespace {

// dbcc_size, dbcc_devicetype, dbcc_reserved, dbcc_classguid, and the declared name field.
constexpr qsizetype cInterfaceHeaderSize = 28;
constexpr qsizetype cInterfaceRecordSize = 32;

DWORD ReadDWord(const QByteArray& AData, qsizetype AOffset)
{
    DWORD v = 0;
    std::memcpy(&v, AData.constData() + AOffset, sizeof v);
    return v;
}

}  // namespace

std::shared_ptr<const QByteArray> MakeSafeBroadcastRecord(const QByteArray& ARecord)
{
    QByteArray record = ARecord;
    const qsizetype real = record.size();
    // Room for a whole header and a zero character after the last real byte, in zeros.
    record.append(QByteArray(std::max<qsizetype>(cInterfaceRecordSize - real, 0) + 4, '\0'));
    if (ReadDWord(record, 0) > DWORD(real)) {
        const DWORD size = DWORD(real);
        std::memcpy(record.data(), &size, sizeof size);
    }
    return std::make_shared<const QByteArray>(std::move(record));
}

QByteArray DeviceInterfaceRecord(const TGUID& AClass, const QString& AName)
{
    QByteArray record(cInterfaceHeaderSize, '\0');
    const DWORD type = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(record.data() + 4, &type, 4);
    std::memcpy(record.data() + 12, &AClass, sizeof AClass);
    record.append(reinterpret_cast<const char*>(AName.utf16()), AName.size() * 2);
    record.append(2, '\0');
    const DWORD size = DWORD(record.size());
    std::memcpy(record.data(), &size, 4);
    return record;
}

HDEVNOTIFY TDeviceNotifications::RegisterDeviceNotification(HWND ARecipient, const void* AFilter, DWORD AFlags)
{
    TGUID classGuid;
    std::memcpy(&classGuid, static_cast<const char*>(AFilter) + 12, sizeof classGuid);
    if (!AcceptRegistration(ARecipient, classGuid))
        return nullptr;
    return FRegistrations.Add(TRegistration{ARecipient, classGuid, (AFlags & DEVICE_NOTIFY_ALL_INTERFACE_CLASSES) != 0});
}

BOOL TDeviceNotifications::UnregisterDeviceNotification(HDEVNOTIFY AHandle)
{
    const std::optional<TRegistration> registration = FRegistrations.Find(AHandle);
    if (!registration || !AcceptWithdrawal(registration->Recipient, registration->Class))
        return 0;
    return FRegistrations.Release(AHandle) ? 1 : 0;
}

int TDeviceNotifications::RegistrationCount() const
{
    return FRegistrations.Count();
}

void TDeviceNotifications::DeviceInterfaceEvent(WPARAM AEvent, const TGUID& AClass, const QString& AName)
{
    std::vector<HWND> recipients;
    for (const auto& [handle, registration] : FRegistrations.Entries())
        if (registration.AllClasses || registration.Class == AClass)
            recipients.push_back(registration.Recipient);
    const auto record = MakeSafeBroadcastRecord(DeviceInterfaceRecord(AClass, AName));
    // From a copy of the table: a window method may register or withdraw meanwhile.
    for (HWND recipient : recipients)
        SendWindowMessage(recipient, WM_DEVICECHANGE, AEvent, record);
}

void TDeviceNotifications::DevNodesChanged()
{
    for (HWND window : HiddenWindows())
        SendWindowMessage(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED);
}

void TDeviceNotifications::BroadcastToAll(WPARAM AEvent, const QByteArray& ARecord)
{
    const auto record = MakeSafeBroadcastRecord(ARecord);
    for (HWND window : HiddenWindows())
        SendWindowMessage(window, WM_DEVICECHANGE, AEvent, record);
}

}  // namespace win
