#pragma once
// The kernel's side of a hidraw node's ioctls, which umockdev does not answer itself: the
// report descriptor (hidapi asks for it on open) and the raw device info. Once the device has
// left the bus, every ioctl, read and write on a handle still open answers ENODEV, as the
// kernel does for an unplugged hidraw device.
//
// umockdev's worker thread keeps the handler for a while after its node was detached (until
// it has seen its listener cancelled and its clients gone) and calls into this object from
// there. The destructor waits (bounded) until it holds the last reference, so the handler ends
// on the destroying thread after everything the worker did with it.

#include "GObjectRef.h"

#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
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

    // Longest wait in the destructor for umockdev's worker thread to let go of the handler.
    static constexpr std::chrono::seconds cReleaseWait{10};

private:
    struct SoleOwner;

    static gboolean onIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf);
    static gboolean onReadWrite(UMockdevIoctlBase*, UMockdevIoctlClient* AClient, gpointer ASelf);
    bool answer(UMockdevIoctlClient* AClient);

    const std::uint16_t FVendorId;
    const std::uint16_t FProductId;
    std::atomic<bool> FGone{false};
    GObjectRef<UMockdevIoctlBase> FHandler;
    // Made with the handler, before umockdev's worker thread can know of it.
    std::unique_ptr<SoleOwner> FSoleOwner;
};

}  // namespace sim::usb
