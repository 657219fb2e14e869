#pragma once
// The program as its main block builds it, inside a test: the program's units, the package
// manager, the main window and the flashing service made by the application object, on the
// offscreen platform. The test clock stands in for the update's pauses; message boxes are
// recorded and closed as soon as they show, so nothing blocks.

#include <MainBlock.h>
#include <svc.dvcObserverTh.h>
#include <svc.bsl430.h>
#include <svc.h>
#include <svc.resMng.h>
#include <v.main.h>

#include <rtl/Clock.h>
#include <rtl/Units.h>
#include <sim/Analyzer.h>
#include <vcl/Forms.h>
#include <win/DeviceClassGuids.h>
#include <win/DeviceWorld.h>
#include <win/MemoryNotificationWorld.h>
#include <win/MemoryRegistryWorld.h>
#include <win/MemorySetupWorld.h>
#include <win/SetupApi.h>
#include <win/WinReg.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

struct TShownBox {
    QMessageBox::Icon Icon;
    QString Text;
};

// Records every message box when it shows and presses its first button.
class TMessageBoxes : public QObject {
public:
    TMessageBoxes() { qApp->installEventFilter(this); }
    ~TMessageBoxes() override { qApp->removeEventFilter(this); }

    QList<TShownBox> Shown;

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override
    {
        if (AEvent->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(AWatched)) {
                Shown.append({box->icon(), box->text()});
                QPointer<QMessageBox> guard(box);
                QTimer::singleShot(0, box, [guard] {
                    if (guard && !guard->buttons().isEmpty())
                        guard->buttons().first()->click();
                });
            }
        return QObject::eventFilter(AWatched, AEvent);
    }
};

// Holds the thread that reaches it until the test opens it (at most a minute).
class TGate {
public:
    void Arm()
    {
        std::lock_guard lock(FLock);
        FArmed = true;
        FOpen = false;
        FReached = false;
    }
    void Pass()
    {
        std::unique_lock lock(FLock);
        if (!FArmed)
            return;
        FReached = true;
        FChanged.notify_all();
        FChanged.wait_for(lock, std::chrono::minutes(1), [this] { return FOpen; });
        FArmed = false;
    }
    void Open()
    {
        std::lock_guard lock(FLock);
        FOpen = true;
        FChanged.notify_all();
    }
    bool Reached() const
    {
        std::lock_guard lock(FLock);
        return FReached;
    }

private:
    mutable std::mutex FLock;
    std::condition_variable FChanged;
    bool FArmed = false;
    bool FOpen = false;
    bool FReached = false;
};

// Registrations of the HID class wait at the gate: the interface class before it is watched.
class TGatedNotifications : public win::TMemoryNotificationWorld {
public:
    TGate HidRegistration;

protected:
    bool AcceptRegistration(HWND ARecipient, const TGUID& AClass) override
    {
        if (AClass == GUID_DEVCLASS_HIDCLASS)
            HidRegistration.Pass();
        return TMemoryNotificationWorld::AcceptRegistration(ARecipient, AClass);
    }
};

// Searches wait at the gate.
class TGatedSetup : public win::TMemorySetupWorld {
public:
    TGate Search;

    bool PresentDevices(const TGUID& AClass, std::vector<win::TSetupDevice>& ADevices, DWORD& AError) override
    {
        Search.Pass();
        return TMemorySetupWorld::PresentDevices(AClass, ADevices, AError);
    }
};

// The devices the window can see: a search lists the HID devices, an arrival or removal of a
// USB device comes as a notification with its registry key.
struct TTestDeviceWorld {
    std::shared_ptr<win::TMemoryRegistryWorld> Registry = std::make_shared<win::TMemoryRegistryWorld>();
    std::shared_ptr<TGatedNotifications> Notifications = std::make_shared<TGatedNotifications>();
    std::shared_ptr<TGatedSetup> Setup = std::make_shared<TGatedSetup>();

    // AWithSetup false: the device-setup library is missing.
    explicit TTestDeviceWorld(bool AWithSetup = true)
    {
        win::SelectDeviceWorld({Registry, Notifications, AWithSetup ? Setup : nullptr});
    }
    ~TTestDeviceWorld() { win::SelectDeviceWorld({}); }
    TTestDeviceWorld(const TTestDeviceWorld&) = delete;
    TTestDeviceWorld& operator=(const TTestDeviceWorld&) = delete;

    // A present HID device with the hardware ids "HID\<AIds>&REV_0200" and "HID\<AIds>".
    DWORD AddHidDevice(const QString& AIds)
    {
        win::TSetupDevice device;
        device.ClassGuid = GUID_DEVCLASS_HIDCLASS;
        device.Properties[SPDRP_DEVICEDESC] = win::SetupSz(QStringLiteral("USB Input Device"));
        device.Properties[SPDRP_HARDWAREID] =
            win::SetupMultiSz({"HID\\" + AIds + "&REV_0200", "HID\\" + AIds});
        device.Properties[SPDRP_CLASSGUID] = win::SetupSz(GUIDToString(GUID_DEVCLASS_HIDCLASS));
        return Setup->AddDevice(device);
    }
    // The USB device AIds (VID_vvvv&PID_pppp) with instance AInstance arrives or leaves.
    void Arrive(const QString& AIds, const QString& AInstance)
    {
        AddRegistryKey(AIds, AInstance);
        Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, UsbName(AIds, AInstance));
    }
    // The device's registry key stays while its removal is told.
    void Remove(const QString& AIds, const QString& AInstance)
    {
        AddRegistryKey(AIds, AInstance);
        Notifications->Remove(GUID_DEVINTERFACE_USB_DEVICE, UsbName(AIds, AInstance));
    }
    void AddRegistryKey(const QString& AIds, const QString& AInstance)
    {
        const QString key = "SYSTEM\\CurrentControlSet\\Enum\\USB\\" + AIds + "\\" + AInstance;
        Registry->AddKey(HKEY_LOCAL_MACHINE, key);
        Registry->SetString(HKEY_LOCAL_MACHINE, key, QStringLiteral("DeviceDesc"), QStringLiteral("MSP430 USB BSL"));
    }
    static QString UsbName(const QString& AIds, const QString& AInstance)
    {
        return "\\\\?\\USB#" + AIds + "#" + AInstance + "#{A5DCBF10-6530-11D2-901F-00C04FB951ED}";
    }
};

inline const QString cAnalyzerIds = QStringLiteral("VID_2047&PID_0200");

// The package's password bytes, from its TI-TXT text.
inline std::vector<std::uint8_t> PackagePassword()
{
    std::vector<std::uint8_t> bytes;
    for (const QString& pair : GetSvcResMng()->Pass().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        if (!pair.startsWith('@') && pair != "q")
            bytes.push_back(std::uint8_t(pair.toUInt(nullptr, 16)));
    return bytes;
}

class TWindowHarness {
public:
    explicit TWindowHarness(bool AWithSetup = true)
        : FWorld(AWithSetup), FClockOverride(FClock), FUnits(std::make_unique<TUnits>(ProgramUnits()))
    {
    }
    // The program's units over another device world (the Linux one), selected until the end.
    explicit TWindowHarness(const win::TDeviceWorld& AWorld)
        : FWorld(true), FOtherWorld(AWorld), FClockOverride(FClock), FUnits(std::make_unique<TUnits>(ProgramUnits()))
    {
    }

    ~TWindowHarness() { Stop(); }

    TWindowHarness(const TWindowHarness&) = delete;
    TWindowHarness& operator=(const TWindowHarness&) = delete;

    // The main block's creation steps; the window is shown as Run shows it.
    void Create()
    {
        Application->Initialize();
        Application->SetMainFormOnTaskBar(true);
        Application->CreateForm(svcResMng);
        Application->CreateForm(vMain);
        Application->CreateForm(svcBsl430);
        vMain->show();
    }

    // Waits until the initialisation task has handed back its result.
    bool WaitInitialized()
    {
        return QTest::qWaitFor([] { return GetSvcResMng()->Initialized() && vMain->windowTitle() != " Firmware Updater"; },
                               30000);
    }

    // The shut-down: the application's components, then the units' finalisations.
    void Stop()
    {
        if (!FUnits)
            return;
        // The program refuses to close while a task runs; a test ends only after them too.
        if (!QTest::qWaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, 60000))
            qFatal("a task of the window did not end");
        if (Application)
            Application->DestroyComponents();
        sim::Bus::instance().unplugAll();
        FUnits.reset();
        QCoreApplication::sendPostedEvents();
    }

    // An analyzer in update mode on the simulated bus, with the firmware the package expects.
    std::shared_ptr<sim::Analyzer> Plug(const sim::Faults& AFaults = {})
    {
        auto analyzer = sim::Analyzer::create(sim::Options{sim::Timing::Instant, AFaults});
        analyzer->load(0xFFE0, PackagePassword());
        sim::Bus::instance().plug(analyzer);
        return analyzer;
    }

    TTestDeviceWorld& World() { return FWorld; }
    TTestClock& Clock() { return FClock; }
    TMessageBoxes& Boxes() { return FBoxes; }

private:
    struct TOtherWorld {
        explicit TOtherWorld(std::optional<win::TDeviceWorld> AWorld = std::nullopt)
        {
            if (AWorld)
                win::SelectDeviceWorld(*AWorld);
        }
    };

    TTestDeviceWorld FWorld;
    TOtherWorld FOtherWorld;
    TTestClock FClock;
    TClockOverride FClockOverride;
    TMessageBoxes FBoxes;
    std::unique_ptr<TUnits> FUnits;
};
