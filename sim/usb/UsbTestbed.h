#pragma once
// Simulated analyzers on a umockdev USB bus: each one appears as usb_device 2047:0200 >
// usb_interface > hid device > hidrawN, the way hidapi's hidraw backend and libudev find a
// real boot loader, and its node is served from the model. When the model re-enumerates
// (Load PC) the device is removed and plugged again under a new node name; when it leaves the
// bus (forced reset, unplug) it is removed for good.
//
// Create the testbed before anything in the process asks umockdev_in_mock_environment(),
// and run the process under umockdev-wrapper.

#include "GObjectRef.h"

#include <sim/Analyzer.h>

#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace sim::usb {

class HidrawIoctls;

// How one plugged analyzer shows itself to the host beyond the model's own behaviour.
struct PlugOptions {
    // Time off the bus when re-enumerating after Load PC.
    std::chrono::milliseconds replugDelay{0};
    // Answers reach the host without their report-id byte.
    bool answerWithoutReportId = false;
    // Answers are cut to their first bytes (0: whole).
    std::size_t answerBytes = 0;
};

class UsbTestbed {
public:
    UsbTestbed();
    ~UsbTestbed();
    UsbTestbed(const UsbTestbed&) = delete;
    UsbTestbed& operator=(const UsbTestbed&) = delete;

    // Plugs the analyzer in (if it is on the bus) on a hub port of its own and serves it
    // from now on.
    void plug(std::shared_ptr<Analyzer> AAnalyzer, PlugOptions AOptions = {});

    // Adds the devices that a umockdev description file (the format umockdev-record writes)
    // describes, announcing each; answers their sysfs paths. Throws std::runtime_error for a
    // file umockdev cannot read.
    std::vector<std::string> addDevices(const std::string& AFile);
    // Announces the removal of a device added so, then takes it and its children away.
    void removeDevices(const std::vector<std::string>& ASysfsPaths);

    // Plugs so far, re-enumerations included.
    int plugCount() const;
    // hidraw nodes present now (one per analyzer on the bus).
    int nodeCount() const;

private:
    struct Plug;
    struct OwnedFd {
        int fd = -1;
        OwnedFd() = default;
        OwnedFd(const OwnedFd&) = delete;
        OwnedFd& operator=(const OwnedFd&) = delete;
        ~OwnedFd() { reset(); }
        void reset(int AFd = -1) {
            if (fd >= 0) ::close(fd);
            fd = AFd;
        }
    };
    void attach(Plug& APlug);
    void detach(Plug& APlug);
    void serve();
    void serveOne(Plug& APlug);
    void wake() const;

    GObjectRef<UMockdevTestbed> FTestbed;
    mutable std::mutex FMutex;
    std::vector<std::unique_ptr<Plug>> FPlugs;
    // Every node's ioctl handler, kept until the end: a handle a program still holds to a
    // removed node must keep getting ENODEV.
    std::vector<std::pair<std::string, std::unique_ptr<HidrawIoctls>>> FNodes;
    int FNextNode = 0;
    int FPlugCount = 0;
    bool FStop = false;
    OwnedFd FWake;  // eventfd: new plugs and the stop request interrupt the serving poll
    std::thread FServer;
};

}  // namespace sim::usb
