#include "UdevSetupWorld.h"

#include "UdevPtr.h"
#include "UdevText.h"

#include <win/DeviceClassGuids.h>
#include <win/SetupApi.h>
#include <win/WinError.h>

namespace win {
namespace {

using win::udevids::Clean;
using win::udevids::Hex16;
using win::udevids::Hex4;

// HID_ID is "bus:vendor:product", each hexadecimal (vendor and product in eight digits).
bool ParseHidId(const QString& AHidId, unsigned& AVendor, unsigned& AProduct)
{
    const QStringList parts = AHidId.split(QLatin1Char(':'));
    if (parts.size() != 3)
        return false;
    bool okVendor = false, okProduct = false;
    const qulonglong vendor = parts[1].toULongLong(&okVendor, 16);
    const qulonglong product = parts[2].toULongLong(&okProduct, 16);
    if (!okVendor || !okProduct || vendor > 0xFFFF || product > 0xFFFF)
        return false;
    AVendor = unsigned(vendor);
    AProduct = unsigned(product);
    return true;
}

void SetText(TSetupDevice& ADevice, DWORD ACode, const QString& AText)
{
    if (!AText.isEmpty())
        ADevice.Properties[ACode] = SetupSz(AText);
}

std::optional<TSetupDevice> HidDevice(udev_device* AHid)
{
    unsigned vendor = 0, product = 0;
    if (!ParseHidId(Clean(udev_device_get_property_value(AHid, "HID_ID")), vendor, product))
        return std::nullopt;  // a record without a usable id describes no device we can name
    TSetupDevice device;
    device.ClassGuid = GUID_DEVCLASS_HIDCLASS;
    // Not counted by the parent: it belongs to AHid.
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(AHid, "usb", "usb_device");
    const QString ids = QStringLiteral("HID\\VID_%1&PID_%2").arg(Hex4(vendor), Hex4(product));
    QStringList hardwareIds;
    unsigned revision = 0;
    if (usb && Hex16(Clean(udev_device_get_sysattr_value(usb, "bcdDevice")), revision))
        hardwareIds << ids + QStringLiteral("&REV_") + Hex4(revision);
    hardwareIds << ids;
    device.Properties[SPDRP_HARDWAREID] = SetupMultiSz(hardwareIds);

    QString description = usb ? Clean(udev_device_get_sysattr_value(usb, "product")) : QString();
    if (description.isEmpty())
        description = Clean(udev_device_get_property_value(AHid, "HID_NAME"));
    if (description.isEmpty())
        description = QStringLiteral("USB Input Device");
    SetText(device, SPDRP_DEVICEDESC, description);
    SetText(device, SPDRP_CLASS, QStringLiteral("HIDClass"));
    SetText(device, SPDRP_CLASSGUID, GUIDToString(GUID_DEVCLASS_HIDCLASS).toLower());
    SetText(device, SPDRP_ENUMERATOR_NAME, QStringLiteral("HID"));
    SetText(device, SPDRP_SERVICE, Clean(udev_device_get_driver(AHid)));
    SetText(device, SPDRP_DEVTYPE, Clean(udev_device_get_devtype(AHid)));
    if (usb)
        SetText(device, SPDRP_MFG, Clean(udev_device_get_sysattr_value(usb, "manufacturer")));
    return device;
}

}  // namespace

bool TUdevSetupWorld::PresentDevices(const TGUID& AClass, std::vector<TSetupDevice>& ADevices, DWORD& AError)
{
    ADevices.clear();
    if (AClass != GUID_DEVCLASS_HIDCLASS)
        return true;
    TUdevPtr<udev> context(udev_new());
    if (!context) {
        AError = ERROR_GEN_FAILURE;
        return false;
    }
    TUdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hid") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        AError = ERROR_GEN_FAILURE;
        return false;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        // A device that left between the scan and this look-up is simply not listed.
        TUdevPtr<udev_device> hid(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!hid)
            continue;
        if (std::optional<TSetupDevice> device = HidDevice(hid.get())) {
            device->DevInst = DWORD(ADevices.size() + 1);
            ADevices.push_back(std::move(*device));
        }
    }
    return true;
}

std::optional<QString> TUdevSetupWorld::ClassDescription(const TGUID& AClass)
{
    if (AClass == GUID_DEVCLASS_HIDCLASS)
        return QStringLiteral("Human Interface Devices");
    if (AClass == GUID_DEVCLASS_PORTS)
        return QStringLiteral("Ports (COM & LPT)");
    if (AClass == GUID_DEVCLASS_USB)
        return QStringLiteral("Universal Serial Bus controllers");
    return std::nullopt;
}

}  // namespace win
