#pragma once
// The Linux world's registry and notification facets over libudev.
//
// USB devices (usb/usb_device) arrive and leave as device-interface broadcasts of
// GUID_DEVINTERFACE_USB_DEVICE named \\?\USB#VID_vvvv&PID_pppp#<instance>#{A5DCBF10-...}
// (instance: the serial number as udev keeps it in ID_SERIAL_SHORT, which the removal carries
// too, else the sysfs port path), each followed by a device-tree
// change. A libudev monitor is read on the event loop of the thread that makes the world
// (the main thread), through a socket notifier.
//
// The registry answers under SYSTEM\CurrentControlSet\Enum\USB\VID_vvvv&PID_pppp\<instance>
// with DeviceDesc (the product string, else "USB Input Device"), FriendlyName (serial ports:
// the product and the port) and ClassGUID (the setup class: HID, Ports or USB). A device's
// key is learnt when it is enumerated or arrives and kept after it leaves, as the platform
// keeps it; a removal event's own properties fill in what is not known yet. The keys of
// devices that are gone are forgotten, oldest first, once 4096 keys are kept; a present
// device's key always stays.

#include <win/DeviceNotifications.h>
#include <win/DeviceWorld.h>
#include <win/RegistryWorld.h>
#include <win/udev/UdevPtr.h>

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

class QSocketNotifier;

namespace win {

// What a udev usb_device becomes in the platform's terms; empty Hardware when the device
// has no usable vendor and product numbers.
struct TUdevUsbDevice {
    QString Hardware;  // VID_vvvv&PID_pppp
    QString Instance;
    QString DeviceDesc;
    QString FriendlyName;
    QString ClassGUID;

    QString InterfaceName() const;
    QString KeyPath() const;  // without a final backslash
};

// Decodes one usb_device: sysfs attributes where they can be read, else the device's
// (event's) properties; its class and port from its own interfaces only. Untrusted input:
// every text is bounded and cleaned.
TUdevUsbDevice DecodeUdevUsbDevice(udev_device* ADevice);

class TUdevDeviceWorld : public TDeviceNotifications, public IRegistryWorld {
public:
    TUdevDeviceWorld();
    ~TUdevDeviceWorld() override;

    TRegistryKeyAccess KeyAccess(HKEY ARoot, const QString& AKeyPath) override;
    std::optional<TRegistryValue> Value(HKEY ARoot, const QString& AKeyPath, const QString& AName) override;

    // Whether the monitor is listening.
    bool Monitoring() const { return FNotifier != nullptr; }

private:
    void Learn(const TUdevUsbDevice& ADevice, bool APresent);
    void EnumeratePresent();
    void ReadEvents();

    TUdevPtr<udev> FUdev;
    TUdevPtr<udev_monitor> FMonitor;
    std::unique_ptr<QSocketNotifier> FNotifier;
    std::mutex FLock;
    struct TKey {
        TUdevUsbDevice Device;
        std::uint64_t GoneAt = 0;  // 0 while present, else its place in FGone
    };
    std::map<QString, TKey> FKeys;      // by lower-case key path
    std::map<std::uint64_t, QString> FGone;  // the keys of devices that left, oldest first
    std::uint64_t FGoneCount = 0;
};

// The program's world: this one for the registry and notifications, udev setup searches.
// Make it on the main thread.
TDeviceWorld LinuxDeviceWorld();

}  // namespace win
