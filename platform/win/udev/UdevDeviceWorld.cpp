#include "UdevDeviceWorld.h"

#include "UdevText.h"

#include <win/Dbt.h>
#include <win/DeviceClassGuids.h>
#include <win/udev/UdevSetupWorld.h>

#include <rtl/GUID.h>

#include <QSocketNotifier>

#include <cctype>
#include <cstring>

namespace win {
namespace {

// Keys kept over a run beside those of present devices: the oldest of the devices that are
// gone are forgotten first.
constexpr std::size_t cMaxKeys = 4096;

using win::udevids::Clean;
using win::udevids::cMaxText;
using win::udevids::Hex16;
using win::udevids::Hex4;

// udev's encoded texts (ID_MODEL_ENC): \xNN for bytes it would not write plainly.
QString DecodeEncoded(const char* AText)
{
    if (!AText)
        return QString();
    QByteArray bytes;
    for (const char* p = AText; *p && bytes.size() < cMaxText * 4; ++p) {
        if (p[0] == '\\' && p[1] == 'x' && std::isxdigit(static_cast<unsigned char>(p[2]))
            && std::isxdigit(static_cast<unsigned char>(p[3]))) {
            bytes.append(char(QByteArray(p + 2, 2).toInt(nullptr, 16)));
            p += 3;
        } else {
            bytes.append(*p);
        }
    }
    return Clean(bytes.constData());
}

// An instance text must not carry the name's separators or the key path's.
QString CleanInstance(QString AText)
{
    for (QChar& c : AText)
        if (c == u'#' || c == u'\\' || c == u' ' || c.unicode() > 0x7E)
            c = u'_';
    return AText;
}

QString Attribute(udev_device* ADevice, const char* AName)
{
    return Clean(udev_device_get_sysattr_value(ADevice, AName));
}

QString Property(udev_device* ADevice, const char* AName)
{
    return Clean(udev_device_get_property_value(ADevice, AName));
}

bool VendorProduct(udev_device* ADevice, unsigned& AVendor, unsigned& AProduct)
{
    if (Hex16(Attribute(ADevice, "idVendor"), AVendor) && Hex16(Attribute(ADevice, "idProduct"), AProduct))
        return true;
    // PRODUCT=vendor/product/release, hexadecimal without leading zeros: in every event.
    const QStringList parts = Property(ADevice, "PRODUCT").split(u'/');
    if (parts.size() == 3 && Hex16(parts[0], AVendor) && Hex16(parts[1], AProduct))
        return true;
    return Hex16(Property(ADevice, "ID_VENDOR_ID"), AVendor) && Hex16(Property(ADevice, "ID_MODEL_ID"), AProduct);
}

// Whether the usb_device that ADevice belongs to (itself, else the nearest one above it) is
// the one at ASyspath.
bool OwnedBy(udev_device* ADevice, const char* ASyspath)
{
    udev_device* owner = ADevice;
    const char* devtype = udev_device_get_devtype(ADevice);
    if (!devtype || std::strcmp(devtype, "usb_device") != 0)
        // Not counted by the caller: it belongs to ADevice.
        owner = udev_device_get_parent_with_subsystem_devtype(ADevice, "usb", "usb_device");
    const char* path = owner ? udev_device_get_syspath(owner) : nullptr;
    return path && std::strcmp(path, ASyspath) == 0;
}

// The setup class and, for a serial adapter, its port, from the device's own interfaces and
// what hangs below them; a hub's subtree holds other devices, which describe themselves.
void ClassFromChildren(udev_device* ADevice, QString& AClass, QString& APort)
{
    udev* context = udev_device_get_udev(ADevice);
    const char* syspath = udev_device_get_syspath(ADevice);
    if (!context || !syspath)
        return;
    bool hid = false;
    TUdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context));
    if (!enumerate)
        return;
    TUdevPtr<udev_device> parent(udev_device_new_from_syspath(context, syspath));
    if (!parent)
        return;
    udev_enumerate_add_match_parent(enumerate.get(), parent.get());
    udev_enumerate_scan_devices(enumerate.get());
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        TUdevPtr<udev_device> child(
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (!child || !OwnedBy(child.get(), syspath))
            continue;
        const QString subsystem = Clean(udev_device_get_subsystem(child.get()));
        if (subsystem == u"tty" && APort.isEmpty())
            APort = Clean(udev_device_get_sysname(child.get()));
        else if (subsystem == u"hid")
            hid = true;
        else if (subsystem == u"usb" && Attribute(child.get(), "bInterfaceClass") == u"03")
            hid = true;
    }
    if (!APort.isEmpty())
        AClass = GUIDToString(GUID_DEVCLASS_PORTS);
    else if (hid)
        AClass = GUIDToString(GUID_DEVCLASS_HIDCLASS);
}

}  // namespace

QString TUdevUsbDevice::InterfaceName() const
{
    return QStringLiteral("\\\\?\\USB#") + Hardware + u'#' + Instance + u'#' + GUIDToString(GUID_DEVINTERFACE_USB_DEVICE);
}

QString TUdevUsbDevice::KeyPath() const
{
    return QStringLiteral("SYSTEM\\CurrentControlSet\\Enum\\USB\\") + Hardware + u'\\' + Instance;
}

TUdevUsbDevice DecodeUdevUsbDevice(udev_device* ADevice)
{
    TUdevUsbDevice result;
    unsigned vendor = 0, product = 0;
    if (!ADevice || !VendorProduct(ADevice, vendor, product))
        return result;
    result.Hardware = QStringLiteral("VID_%1&PID_%2").arg(Hex4(vendor), Hex4(product));
    // The serial as udev keeps it: the arrival and the removal (whose sysfs is gone) both
    // carry it, so both name the same key.
    const QString serial = Property(ADevice, "ID_SERIAL_SHORT");
    result.Instance = CleanInstance(serial.isEmpty() ? Clean(udev_device_get_sysname(ADevice)) : serial);
    QString productText = Attribute(ADevice, "product");
    if (productText.isEmpty())
        productText = DecodeEncoded(udev_device_get_property_value(ADevice, "ID_MODEL_ENC"));
    result.DeviceDesc = productText.isEmpty() ? QStringLiteral("USB Input Device") : productText;
    QString port;
    ClassFromChildren(ADevice, result.ClassGUID, port);
    if (result.ClassGUID.isEmpty() && !Property(ADevice, "ID_USB_INTERFACES").isEmpty()) {
        // ":030102:" style lists of the interfaces, kept by udev in removal events too.
        if (Property(ADevice, "ID_USB_INTERFACES").contains(QStringLiteral(":03")))
            result.ClassGUID = GUIDToString(GUID_DEVCLASS_HIDCLASS);
    }
    if (result.ClassGUID.isEmpty())
        result.ClassGUID = GUIDToString(GUID_DEVCLASS_USB);
    if (!port.isEmpty())
        result.FriendlyName = result.DeviceDesc + QStringLiteral(" (") + port + u')';
    return result;
}

TUdevDeviceWorld::TUdevDeviceWorld() : FUdev(udev_new())
{
    if (!FUdev)
        return;
    FMonitor.reset(udev_monitor_new_from_netlink(FUdev.get(), "udev"));
    if (FMonitor
        && udev_monitor_filter_add_match_subsystem_devtype(FMonitor.get(), "usb", "usb_device") >= 0
        && udev_monitor_enable_receiving(FMonitor.get()) >= 0) {
        FNotifier = std::make_unique<QSocketNotifier>(udev_monitor_get_fd(FMonitor.get()), QSocketNotifier::Read);
        QObject::connect(FNotifier.get(), &QSocketNotifier::activated, [this] { ReadEvents(); });
    } else {
        FMonitor.reset();
    }
    EnumeratePresent();
}

TUdevDeviceWorld::~TUdevDeviceWorld() = default;

void TUdevDeviceWorld::Learn(const TUdevUsbDevice& ADevice, bool APresent)
{
    if (ADevice.Hardware.isEmpty())
        return;
    std::lock_guard guard(FLock);
    const QString key = ADevice.KeyPath().toLower();
    if (!FKeys.count(key) && FKeys.size() >= cMaxKeys && !FGone.empty()) {
        FKeys.erase(FGone.begin()->second);
        FGone.erase(FGone.begin());
    }
    TKey& entry = FKeys[key];
    if (entry.GoneAt != 0) {
        FGone.erase(entry.GoneAt);
        entry.GoneAt = 0;
    }
    if (!APresent) {
        entry.GoneAt = ++FGoneCount;
        FGone.emplace(entry.GoneAt, key);
    }
    TUdevUsbDevice& stored = entry.Device;
    // What a removal event cannot tell (its sysfs is gone) stays as learnt before.
    const bool known = !stored.Hardware.isEmpty();
    if (!known || ADevice.DeviceDesc != QLatin1String("USB Input Device"))
        stored.DeviceDesc = ADevice.DeviceDesc;
    if (!known || !ADevice.FriendlyName.isEmpty())
        stored.FriendlyName = ADevice.FriendlyName;
    if (!known || ADevice.ClassGUID != GUIDToString(GUID_DEVCLASS_USB))
        stored.ClassGUID = ADevice.ClassGUID;
    stored.Hardware = ADevice.Hardware;
    stored.Instance = ADevice.Instance;
}

void TUdevDeviceWorld::EnumeratePresent()
{
    TUdevPtr<udev_enumerate> enumerate(udev_enumerate_new(FUdev.get()));
    if (!enumerate)
        return;
    udev_enumerate_add_match_subsystem(enumerate.get(), "usb");
    udev_enumerate_add_match_property(enumerate.get(), "DEVTYPE", "usb_device");
    udev_enumerate_scan_devices(enumerate.get());
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get()))
    {
        TUdevPtr<udev_device> device(
            udev_device_new_from_syspath(FUdev.get(), udev_list_entry_get_name(entry)));
        if (device)
            Learn(DecodeUdevUsbDevice(device.get()), true);
    }
}

void TUdevDeviceWorld::ReadEvents()
{
    // The socket is non-blocking: read what is there now, a bounded number per wake-up.
    for (int i = 0; i < 64; ++i) {
        TUdevPtr<udev_device> device(udev_monitor_receive_device(FMonitor.get()));
        if (!device)
            return;
        const QString action = Clean(udev_device_get_action(device.get()));
        WPARAM event = 0;
        if (action == u"add")
            event = DBT_DEVICEARRIVAL;
        else if (action == u"remove")
            event = DBT_DEVICEREMOVECOMPLETE;
        else
            continue;
        const TUdevUsbDevice decoded = DecodeUdevUsbDevice(device.get());
        if (decoded.Hardware.isEmpty())
            continue;
        Learn(decoded, event == DBT_DEVICEARRIVAL);
        // A window method that raises must not end the loop of events, nor leave this slot.
        try {
            DeviceInterfaceEvent(event, GUID_DEVINTERFACE_USB_DEVICE, decoded.InterfaceName());
            DevNodesChanged();
        } catch (const std::exception& e) {
            qWarning("Exception in a device-change handler: %s", e.what());
        } catch (...) {
            qWarning("Exception in a device-change handler");
        }
    }
}

TRegistryKeyAccess TUdevDeviceWorld::KeyAccess(HKEY ARoot, const QString& AKeyPath)
{
    if (ARoot != HKEY_LOCAL_MACHINE)
        return TRegistryKeyAccess::Missing;
    const QString path = AKeyPath.toLower();
    std::lock_guard guard(FLock);
    if (FKeys.count(path))
        return TRegistryKeyAccess::Readable;
    const QString prefix = path + u'\\';
    for (const auto& [key, device] : FKeys)
        if (key.startsWith(prefix))
            return TRegistryKeyAccess::Readable;
    return TRegistryKeyAccess::Missing;
}

std::optional<TRegistryValue> TUdevDeviceWorld::Value(HKEY ARoot, const QString& AKeyPath, const QString& AName)
{
    if (ARoot != HKEY_LOCAL_MACHINE)
        return std::nullopt;
    std::lock_guard guard(FLock);
    const auto it = FKeys.find(AKeyPath.toLower());
    if (it == FKeys.end())
        return std::nullopt;
    const QString name = AName.toLower();
    QString text;
    if (name == u"devicedesc")
        text = it->second.Device.DeviceDesc;
    else if (name == u"friendlyname")
        text = it->second.Device.FriendlyName;
    else if (name == u"classguid")
        text = it->second.Device.ClassGUID;
    if (text.isEmpty())
        return std::nullopt;
    return RegistryString(text);
}

TDeviceWorld LinuxDeviceWorld()
{
    auto world = std::make_shared<TUdevDeviceWorld>();
    return {world, world, std::make_shared<TUdevSetupWorld>()};
}

}  // namespace win
