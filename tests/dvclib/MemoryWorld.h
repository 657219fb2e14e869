#pragma once
// A test's in-memory device world, selected while it lives.

#include <win/DeviceWorld.h>
#include <win/MemoryNotificationWorld.h>
#include <win/MemoryRegistryWorld.h>
#include <win/WinReg.h>

#include <QString>

#include <memory>

struct TTestWorld {
    std::shared_ptr<win::TMemoryRegistryWorld> Registry = std::make_shared<win::TMemoryRegistryWorld>();
    std::shared_ptr<win::TMemoryNotificationWorld> Notifications = std::make_shared<win::TMemoryNotificationWorld>();

    TTestWorld() { win::SelectDeviceWorld({Registry, Notifications, nullptr}); }
    ~TTestWorld() { win::SelectDeviceWorld({}); }
    TTestWorld(const TTestWorld&) = delete;
    TTestWorld& operator=(const TTestWorld&) = delete;

    // A USB device's key with the values a case needs (empty texts are left out).
    void AddUsbDevice(const QString& AHardware, const QString& AInstance, const QString& ADesc,
                      const QString& AFriendlyName = QString(), const QString& AClassGuid = QString())
    {
        const QString key = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\USB\\") + AHardware + u'\\' + AInstance;
        Registry->AddKey(HKEY_LOCAL_MACHINE, key);
        if (!ADesc.isEmpty())
            Registry->SetString(HKEY_LOCAL_MACHINE, key, QStringLiteral("DeviceDesc"), ADesc);
        if (!AFriendlyName.isEmpty())
            Registry->SetString(HKEY_LOCAL_MACHINE, key, QStringLiteral("FriendlyName"), AFriendlyName);
        if (!AClassGuid.isEmpty())
            Registry->SetString(HKEY_LOCAL_MACHINE, key, QStringLiteral("ClassGUID"), AClassGuid);
    }
};

inline QString UsbInterfaceName(const QString& AHardware, const QString& AInstance)
{
    return QStringLiteral("\\\\?\\USB#") + AHardware + u'#' + AInstance + QStringLiteral("#{A5DCBF10-6530-11D2-901F-00C04FB951ED}");
}
