#pragma once
// A test's in-memory device world with all three facets, selected while it lives, and an
// observer thread that reports its own destruction.

#include <svc.dvcObserverTh.h>

#include <win/DeviceClassGuids.h>
#include <win/DeviceWorld.h>
#include <win/MemoryNotificationWorld.h>
#include <win/MemoryRegistryWorld.h>
#include <win/MemorySetupWorld.h>
#include <win/SetupApi.h>
#include <win/WinReg.h>

#include <rtl/Thread.h>

#include <QString>
#include <QTest>
#include <QStringList>

#include <atomic>
#include <utility>
#include <memory>

struct TObserverWorld {
    std::shared_ptr<win::TMemoryRegistryWorld> Registry = std::make_shared<win::TMemoryRegistryWorld>();
    std::shared_ptr<win::TMemoryNotificationWorld> Notifications = std::make_shared<win::TMemoryNotificationWorld>();
    std::shared_ptr<win::TMemorySetupWorld> Setup = std::make_shared<win::TMemorySetupWorld>();

    TObserverWorld() { win::SelectDeviceWorld({Registry, Notifications, Setup}); }
    ~TObserverWorld() { win::SelectDeviceWorld({}); }
    TObserverWorld(const TObserverWorld&) = delete;
    TObserverWorld& operator=(const TObserverWorld&) = delete;

    // A USB device's registry key, as its interface arrival looks it up.
    void AddUsbDevice(const QString& AHardware, const QString& AInstance, const QString& ADesc,
                      const QString& AFriendlyName = QString())
    {
        const QString key = QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\USB\\") + AHardware + u'\\' + AInstance;
        Registry->AddKey(HKEY_LOCAL_MACHINE, key);
        Registry->SetString(HKEY_LOCAL_MACHINE, key, QStringLiteral("DeviceDesc"), ADesc);
        if (!AFriendlyName.isEmpty())
            Registry->SetString(HKEY_LOCAL_MACHINE, key, QStringLiteral("FriendlyName"), AFriendlyName);
    }
    // A present HID device for searches.
    void AddHidDevice(const QString& AHardwareId, const QString& AFriendlyName = QString())
    {
        win::TSetupDevice device;
        device.ClassGuid = GUID_DEVCLASS_HIDCLASS;
        device.Properties[SPDRP_DEVICEDESC] = win::SetupSz(QStringLiteral("USB Input Device"));
        device.Properties[SPDRP_HARDWAREID] = win::SetupMultiSz({AHardwareId});
        device.Properties[SPDRP_CLASSGUID] = win::SetupSz(GUIDToString(GUID_DEVCLASS_HIDCLASS));
        if (!AFriendlyName.isEmpty())
            device.Properties[SPDRP_FRIENDLYNAME] = win::SetupSz(AFriendlyName);
        Setup->AddDevice(device);
    }
};

inline QString UsbName(const QString& AHardware, const QString& AInstance)
{
    return QStringLiteral("\\\\?\\USB#") + AHardware + u'#' + AInstance +
           QStringLiteral("#{A5DCBF10-6530-11D2-901F-00C04FB951ED}");
}

class TProbeObserverTh : public TdvcObserverTh {
public:
    template <class... TArgs>
    explicit TProbeObserverTh(std::atomic<bool>* ADestroyed, TArgs... AArgs)
        : TdvcObserverTh(AArgs...), FDestroyed(ADestroyed)
    {
    }
    ~TProbeObserverTh() override { *FDestroyed = true; }

private:
    std::atomic<bool>* FDestroyed;
};

// An observer thread for one case: terminated (once) and waited for when the case ends,
// also when it fails half-way.
class TObserverRun {
public:
    template <class... TArgs>
    explicit TObserverRun(TArgs... AArgs) : Thread(TThread::Create<TProbeObserverTh>(&FDestroyed, AArgs...))
    {
    }
    ~TObserverRun()
    {
        Terminate();
        if (!QTest::qWaitFor([this] { return Destroyed(); }, 60000))
            qWarning("the observer thread did not end");
    }
    TObserverRun(const TObserverRun&) = delete;
    TObserverRun& operator=(const TObserverRun&) = delete;

    void Terminate()
    {
        if (!std::exchange(FTerminated, true))
            Thread->Terminate();
    }
    bool Destroyed() const { return FDestroyed; }

    TdvcObserverTh* operator->() const { return Thread; }

private:
    std::atomic<bool> FDestroyed{false};
    bool FTerminated = false;

public:
    TdvcObserverTh* const Thread;
};
