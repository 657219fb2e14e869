#include "HidrawIoctls.h"

#include <linux/hidraw.h>
#include <linux/input.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <iostream>
#include <mutex>

namespace sim::usb {

namespace {

// Copies ABytes into the caller's memory that the ioctl argument points at.
bool putArgument(UMockdevIoctlClient* AClient, const void* ABytes, std::size_t ALength) {
    GError* error = nullptr;
    const GObjectRef<UMockdevIoctlData> target(
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(AClient), 0, ALength, &error));
    const GErrorRef failure(error);
    if (!target || failure) return false;
    umockdev_ioctl_data_update(target.get(), 0,
                               static_cast<guint8*>(const_cast<void*>(ABytes)),
                               static_cast<gint>(ALength));
    return true;
}

}  // namespace

// Learns through a toggle reference when its holder has the only reference left.
struct HidrawIoctls::SoleOwner {
    std::mutex lock;
    std::condition_variable changed;
    bool sole = false;

    // Runs on the thread that drops or takes the other last reference.
    static void onToggle(gpointer ASelf, GObject*, gboolean AIsLastRef) {
        auto* const self = static_cast<SoleOwner*>(ASelf);
        std::lock_guard guard(self->lock);
        self->sole = AIsLastRef;
        self->changed.notify_all();
    }
};

const std::vector<std::uint8_t>& reportDescriptor() {
    static const std::vector<std::uint8_t> descriptor{
        0x06, 0x00, 0xFF,  // Usage Page (vendor defined 0xFF00)
        0x09, 0x01,        // Usage (1)
        0xA1, 0x01,        // Collection (Application)
        0x85, 0x3F,        //   Report ID (0x3F)
        0x95, 0x3F,        //   Report Count (63)
        0x75, 0x08,        //   Report Size (8)
        0x15, 0x00,        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,  //   Logical Maximum (255)
        0x09, 0x01,        //   Usage (1)
        0x81, 0x02,        //   Input (Data, Variable, Absolute)
        0x09, 0x01,        //   Usage (1)
        0x91, 0x02,        //   Output (Data, Variable, Absolute)
        0xC0,              // End Collection
    };
    return descriptor;
}

HidrawIoctls::HidrawIoctls(std::uint16_t AVendorId, std::uint16_t AProductId)
    : FVendorId(AVendorId), FProductId(AProductId), FHandler(umockdev_ioctl_base_new()),
      FSoleOwner(std::make_unique<SoleOwner>()) {
    g_signal_connect(FHandler.get(), "handle-ioctl", G_CALLBACK(onIoctl), this);
    g_signal_connect(FHandler.get(), "handle-read", G_CALLBACK(onReadWrite), this);
    g_signal_connect(FHandler.get(), "handle-write", G_CALLBACK(onReadWrite), this);
}

HidrawIoctls::~HidrawIoctls() {
    GObject* const handler = G_OBJECT(FHandler.release());
    SoleOwner* const watch = FSoleOwner.get();
    g_object_add_toggle_ref(handler, SoleOwner::onToggle, watch);
    g_object_unref(handler);
    bool sole;
    {
        std::unique_lock lock(watch->lock);
        sole = watch->changed.wait_for(lock, cReleaseWait, [watch] { return watch->sole; });
    }
    g_signal_handlers_disconnect_by_data(handler, this);
    if (!sole) {
        // Left to umockdev, which may still report to the watch.
        std::cerr << "umockdev still holds an emulated hidraw node's ioctl handler\n";
        (void)FSoleOwner.release();
        return;
    }
    g_object_remove_toggle_ref(handler, SoleOwner::onToggle, watch);
}

gboolean HidrawIoctls::onReadWrite(UMockdevIoctlBase*, UMockdevIoctlClient* AClient,
                                   gpointer ASelf) {
    // Data itself flows through the node's PTY; only a gone device is answered here.
    if (!static_cast<HidrawIoctls*>(ASelf)->FGone) return FALSE;
    umockdev_ioctl_client_complete(AClient, -1, ENODEV);
    return TRUE;
}

gboolean HidrawIoctls::onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf) {
    return static_cast<HidrawIoctls*>(ASelf)->answer(AClient);
}

bool HidrawIoctls::answer(UMockdevIoctlClient* AClient) {
    if (FGone) {
        umockdev_ioctl_client_complete(AClient, -1, ENODEV);
        return true;
    }
    const std::vector<std::uint8_t>& descriptor = reportDescriptor();
    const gulong request = umockdev_ioctl_client_get_request(AClient);
    bool done = false;
    if (request == HIDIOCGRDESCSIZE) {
        const int size = static_cast<int>(descriptor.size());
        done = putArgument(AClient, &size, sizeof size);
    } else if (request == HIDIOCGRDESC) {
        hidraw_report_descriptor answer{};
        answer.size = static_cast<__u32>(descriptor.size());
        std::memcpy(answer.value, descriptor.data(), descriptor.size());
        done = putArgument(AClient, &answer, sizeof answer);
    } else if (request == HIDIOCGRAWINFO) {
        hidraw_devinfo info{};
        info.bustype = BUS_USB;
        info.vendor = static_cast<__s16>(FVendorId);
        info.product = static_cast<__s16>(FProductId);
        done = putArgument(AClient, &info, sizeof info);
    } else {
        umockdev_ioctl_client_complete(AClient, -1, ENOTTY);
        return true;
    }
    if (done) umockdev_ioctl_client_complete(AClient, 0, 0);
    else umockdev_ioctl_client_complete(AClient, -1, EFAULT);
    return true;
}

}  // namespace sim::usb
