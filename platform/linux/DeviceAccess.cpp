#include "DeviceAccess.h"

#include "UdevRule.h"

#include <QFile>

#include <win/udev/UdevPtr.h>

#include <unistd.h>

namespace {

QString HidId(quint16 AVid, quint16 APid)
{
    return QStringLiteral("0003:%1:%2")
        .arg(AVid, 8, 16, QLatin1Char('0'))
        .arg(APid, 8, 16, QLatin1Char('0'))
        .toUpper();
}

}  // namespace

QString InaccessibleHidNode(quint16 AVid, quint16 APid)
{
    const win::TUdevPtr<udev> context(udev_new());
    if (!context)
        return QString();
    const win::TUdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw") < 0
        || udev_enumerate_scan_devices(enumerate.get()) < 0)
        return QString();
    const QString wanted = HidId(AVid, APid);
    for (udev_list_entry* e = udev_enumerate_get_list_entry(enumerate.get()); e; e = udev_list_entry_get_next(e)) {
        const win::TUdevPtr<udev_device> node(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(e)));
        if (!node)
            continue;
        // The parent belongs to the node.
        udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node.get(), "hid", nullptr);
        const char* id = hid ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
        const char* devnode = udev_device_get_devnode(node.get());
        if (!id || !devnode || QString::fromLatin1(id).toUpper() != wanted)
            continue;
        if (::access(devnode, R_OK | W_OK) != 0)
            return QFile::decodeName(devnode);
    }
    return QString();
}

QString MissingUdevRuleText(const QString& ANode)
{
    return QStringLiteral(
               "The analyzer's boot loader is connected, but this user may not open it (%1): the udev rule "
               "%2 is not in effect.\r\n"
               "Install it with:\r\n"
               "echo '%3' | sudo tee /etc/udev/rules.d/%2 && sudo udevadm control --reload-rules\r\n"
               "Then unplug the analyzer and plug it in again.")
        .arg(ANode, QString::fromUtf8(cUdevRuleFileName), QString::fromUtf8(cUdevRule));
}
