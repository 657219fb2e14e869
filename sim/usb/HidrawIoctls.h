#pragma once
// The kernel's side of a hidraw node's ioctls, which umockdev does not answer itself: the
// report descriptor (hidapi asks for it on open) and the raw device info. Once the device has
// left the bus, every ioctl, read and write on a handle still open answers ENODEV, as the
// kernel does for an unplugged hidraw device.

#include "GObjectRef.h"

#include <umockdev.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace sim::usb {

// The boot loader's HID report descriptor: vendor page, report 0x3F, 63 bytes each way.
const std::vector<std::uint8_t>& reportDescriptor();

class HidrawIoctls {
public:
    HidrawIoctls(std::uint16_t AVendorId, std::uint16_t AProductId);
    ~HidrawIoctls();
    HidrawIoctls(const HidrawIoctls&) = delete;
    HidrawIoctls& operator=(const HidrawIoctls&) = delete;

    UMockdevIoctlBase* handler() const { return FHandler.get(); }
    void setGone() { FGone = true; }

private:
    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf);
    static gboolean onReadWrite(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf);
    bool answer(UMockdevIoctlClient* AClient);

    const std::uint16_t FVendorId;
    const std::uint16_t FProductId;
    std::atomic<bool> FGone{false};
    GObjectRef<UMockdevIoctlBase> FHandler;
};

}  // namespace sim::usb
