#include "UsbTestbed.h"

#include <fstream>

#include "HidrawIoctls.h"

#include <umockdev.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>

namespace sim::usb {

namespace {

constexpr const char* kHub = "/sys/devices/pci0000:00/0000:00:14.0/usb1";
constexpr const char* kManufacturer = "Texas Instruments";
constexpr const char* kProduct = "MSP430 USB HID BSL";
constexpr int kHidrawMajor = 243;
constexpr int kPollMs = 20;  // how soon a device that left the bus by itself is noticed

std::string hex(unsigned AValue, int AWidth, bool AUpper = false) {
    char buf[16];
    std::snprintf(buf, sizeof buf, AUpper ? "%0*X" : "%0*x", AWidth, AValue);
    return buf;
}

std::string hexBytes(const std::vector<std::uint8_t>& ABytes) {
    std::string s;
    for (std::uint8_t b : ABytes) s += hex(b, 2);
    return s;
}

bool writeAll(int AFd, const std::uint8_t* AData, std::size_t ALength) {
    while (ALength > 0) {
        const ssize_t n = ::write(AFd, AData, ALength);
        if (n > 0) {
            AData += n;
            ALength -= static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{AFd, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) return false;
        } else if (n < 0 && errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace

// One analyzer on the bus and the devices it shows while it is enumerated.
struct UsbTestbed::Plug {
    std::shared_ptr<Analyzer> analyzer;
    PlugOptions options;
    int port = 0;                    // hub port, kept across re-enumerations
    std::chrono::steady_clock::time_point replugAt;  // while off the bus: not before then
    std::unique_ptr<Link> link;      // null while off the bus
    std::vector<std::string> paths;  // usb device, interface, hid device, hidraw node
    HidrawIoctls* ioctls = nullptr;  // of the current node (owned by FNodes)
    int fd = -1;                     // the node's PTY, device side (the testbed owns it)
    // Our own handle on the program's side of the PTY: with it open, the device side never
    // reports a hang-up while no program has the node open, so the serving poll sleeps.
    OwnedFd peer;
    std::vector<std::uint8_t> pending;  // the start of a report still arriving
    bool broken = false;             // the testbed refused it: no longer served
};

UsbTestbed::UsbTestbed() : FTestbed(umockdev_testbed_new()) {
    if (!FTestbed) throw std::runtime_error("umockdev: cannot create a testbed");
    FWake.fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (FWake.fd < 0) throw std::runtime_error(std::string("eventfd: ") + std::strerror(errno));
    FServer = std::thread([this] { serve(); });
}

UsbTestbed::~UsbTestbed() {
    {
        std::lock_guard lock(FMutex);
        FStop = true;
    }
    wake();
    FServer.join();
    decltype(FNodes) nodes;
    {
        std::lock_guard lock(FMutex);
        for (auto& plug : FPlugs)
            if (plug->link) detach(*plug);
        for (auto& [node, ioctls] : FNodes)
            umockdev_testbed_detach_ioctl(FTestbed.get(), node.c_str(), nullptr);
        nodes.swap(FNodes);
    }
    // Each handler waits until umockdev's worker thread has let go of it: only then is it freed.
    nodes.clear();
}

void UsbTestbed::wake() const {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(FWake.fd, &one, sizeof one);
}

void UsbTestbed::plug(std::shared_ptr<Analyzer> AAnalyzer, PlugOptions AOptions) {
    if (!AAnalyzer) return;
    {
        std::lock_guard lock(FMutex);
        auto plug = std::make_unique<Plug>();
        plug->analyzer = std::move(AAnalyzer);
        plug->options = AOptions;
        plug->port = static_cast<int>(FPlugs.size()) + 1;
        attach(*plug);
        FPlugs.push_back(std::move(plug));
    }
    wake();
}

int UsbTestbed::plugCount() const {
    std::lock_guard lock(FMutex);
    return FPlugCount;
}

int UsbTestbed::nodeCount() const {
    std::lock_guard lock(FMutex);
    int n = 0;
    for (const auto& plug : FPlugs) n += plug->link ? 1 : 0;
    return n;
}

void UsbTestbed::attach(Plug& APlug) {
    auto link = APlug.analyzer->open();
    if (!link) return;  // not on the bus

    // A new node name and hid sequence number for every plug, as the kernel gives them.
    const int number = FNextNode++;
    const std::string name = "hidraw" + std::to_string(number);
    const std::string node = "/dev/" + name;
    const std::string port = "1-" + std::to_string(APlug.port);
    const std::string usb = std::string(kHub) + "/" + port;
    const std::string interface = usb + "/" + port + ":1.0";
    const std::string hidName = "0003:" + hex(kVendorId, 4, true) + ":" +
                                hex(kProductId, 4, true) + "." +
                                hex(static_cast<unsigned>(number + 1), 4, true);
    const std::string hid = interface + "/" + hidName;
    const std::string hidraw = hid + "/hidraw/" + name;
    const std::string vid = hex(kVendorId, 4), pid = hex(kProductId, 4);
    const std::string devnum = std::to_string(number + 2);

    const std::string description =
        "P: " + usb.substr(4) + "\n"
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
        "E: PRODUCT=" + hex(kVendorId, 1) + "/" + hex(kProductId, 1) + "/100\n"
        "E: BUSNUM=001\nE: DEVNUM=" + std::string(3 - devnum.size(), '0') + devnum + "\n"
        "A: idVendor=" + vid + "\nA: idProduct=" + pid + "\nA: bcdDevice=0100\n"
        "A: manufacturer=" + kManufacturer + "\nA: product=" + kProduct + "\n"
        "A: busnum=1\nA: devnum=" + devnum + "\nA: speed=12\n"
        "A: bDeviceClass=00\nA: bNumInterfaces= 1\nA: bConfigurationValue=1\n"
        "\n"
        "P: " + interface.substr(4) + "\n"
        "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: INTERFACE=3/0/0\n"
        "A: bInterfaceNumber=00\nA: bInterfaceClass=03\nA: bInterfaceSubClass=00\n"
        "A: bInterfaceProtocol=00\nA: bNumEndpoints=02\n"
        "\n"
        "P: " + hid.substr(4) + "\n"
        "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n"
        "E: HID_ID=0003:0000" + hex(kVendorId, 4, true) + ":0000" + hex(kProductId, 4, true) + "\n"
        "E: HID_NAME=" + kManufacturer + " " + kProduct + "\n"
        "E: HID_PHYS=usb-0000:00:14.0-" + std::to_string(APlug.port) + "/input0\n"
        "E: HID_UNIQ=\n"
        "H: report_descriptor=" + hexBytes(reportDescriptor()) + "\n"
        "\n"
        "P: " + hidraw.substr(4) + "\n"
        "N: " + name + "\n"
        "E: SUBSYSTEM=hidraw\nE: DEVNAME=" + node + "\n"
        "A: dev=" + std::to_string(kHidrawMajor) + ":" + std::to_string(number) + "\n"
        "L: device=../../../" + hidName + "\n";

    // The ioctls are answered before the devices are announced (adding sends the "add"
    // uevents; removing does not, so detach() does), so a program that opens the node as
    // soon as it hears of it finds it working.
    // The node is served over a unix socket inside the testbed folder, and a socket path holds
    // at most 107 bytes: say so here rather than let the open fail later as a missing access.
    gchar* const rootDir = umockdev_testbed_get_root_dir(FTestbed.get());  // ours to free
    const std::string root = rootDir ? rootDir : "";
    g_free(rootDir);
    if (root.size() + std::strlen("/ioctl") + node.size() > 107)
        throw std::runtime_error("umockdev: cannot create the emulated node " + node + ": the testbed folder " + root
                                 + " is too deep for its unix socket (at most 107 bytes); point TMPDIR at a shorter folder");
    auto ioctls = std::make_unique<HidrawIoctls>(kVendorId, kProductId);
    GError* error = nullptr;
    umockdev_testbed_attach_ioctl(FTestbed.get(), node.c_str(), ioctls->handler(), &error);
    throwIf(error, "umockdev: cannot serve the ioctls of " + node);
    HidrawIoctls* const served = ioctls.get();
    FNodes.emplace_back(node, std::move(ioctls));
    umockdev_testbed_add_from_string(FTestbed.get(), description.c_str(), &error);
    throwIf(error, "umockdev: cannot add " + hidraw);

    APlug.fd = umockdev_testbed_get_dev_fd(FTestbed.get(), node.c_str());
    if (APlug.fd < 0) throw std::runtime_error("umockdev: " + node + " has no device side");
    ::fcntl(APlug.fd, F_SETFL, ::fcntl(APlug.fd, F_GETFL) | O_NONBLOCK);
    APlug.peer.reset(::ioctl(APlug.fd, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (APlug.peer.fd < 0)
        throw std::runtime_error("umockdev: cannot open the program's side of " + node + ": " + std::strerror(errno));
    APlug.paths = {usb, interface, hid, hidraw};
    APlug.ioctls = served;
    APlug.link = std::move(link);
    APlug.pending.clear();
    ++FPlugCount;
}

std::vector<std::string> UsbTestbed::addDevices(const std::string& AFile) {
    // The file's "P:" lines name the devices, parents first.
    std::vector<std::string> paths;
    {
        std::ifstream in(AFile);
        if (!in) throw std::runtime_error("cannot read " + AFile);
        std::string line;
        while (std::getline(in, line))
            if (line.rfind("P: ", 0) == 0) paths.push_back("/sys" + line.substr(3));
    }
    std::lock_guard lock(FMutex);
    GError* error = nullptr;
    umockdev_testbed_add_from_file(FTestbed.get(), AFile.c_str(), &error);
    throwIf(error, "umockdev: cannot add the devices of " + AFile);
    return paths;
}

void UsbTestbed::removeDevices(const std::vector<std::string>& ASysfsPaths) {
    std::lock_guard lock(FMutex);
    for (auto it = ASysfsPaths.rbegin(); it != ASysfsPaths.rend(); ++it)
        umockdev_testbed_uevent(FTestbed.get(), it->c_str(), "remove");
    for (auto it = ASysfsPaths.rbegin(); it != ASysfsPaths.rend(); ++it)
        umockdev_testbed_remove_device(FTestbed.get(), it->c_str());
}

void UsbTestbed::detach(Plug& APlug) {
    // Handles still open on the node fail from now on, as on a real unplug.
    APlug.ioctls->setGone();
    for (auto it = APlug.paths.rbegin(); it != APlug.paths.rend(); ++it)
        umockdev_testbed_uevent(FTestbed.get(), it->c_str(), "remove");
    // Wakes a program waiting on the node, so that it reads and learns the device is gone.
    const std::uint8_t byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(APlug.fd, &byte, 1);
    // One by one, children first: each removal takes its own bus links along.
    for (auto it = APlug.paths.rbegin(); it != APlug.paths.rend(); ++it)
        umockdev_testbed_remove_device(FTestbed.get(), it->c_str());
    APlug.link.reset();
    APlug.paths.clear();
    APlug.ioctls = nullptr;
    APlug.fd = -1;
    APlug.peer.reset();
    APlug.pending.clear();
}

void UsbTestbed::serveOne(Plug& APlug) {
    if (APlug.broken) return;
    if (!APlug.link) {
        // Back on the bus (an injected absence was lifted, a re-enumeration done): plug in again.
        if (APlug.analyzer->enumerated() && std::chrono::steady_clock::now() >= APlug.replugAt)
            attach(APlug);
        return;
    }
    // Answers as they are due (at once but in real time).
    const auto deliverDue = [&APlug] {
        while (auto answer = APlug.link->read()) {
            const std::size_t skip = APlug.options.answerWithoutReportId ? 1 : 0;
            const std::size_t length =
                std::min(answer->size() - skip,
                         APlug.options.answerBytes ? APlug.options.answerBytes : answer->size());
            if (!writeAll(APlug.fd, answer->data() + skip, length)) break;
        }
    };
    deliverDue();
    // The node is a byte stream: a report is whole once 64 bytes are in. While the device is
    // busy (in real time) its next report stays in the node, so the program's writes wait.
    std::uint8_t buf[kReportSize];
    std::size_t used = 0;
    while (APlug.link->alive()) {
        if (APlug.pending.size() - used >= kReportSize) {
            if (APlug.analyzer->takesReportAt()) break;
            Report report;
            std::copy_n(APlug.pending.begin() + static_cast<std::ptrdiff_t>(used), kReportSize,
                        report.begin());
            used += kReportSize;
            APlug.link->write(report);
            deliverDue();
            continue;
        }
        const ssize_t n = ::read(APlug.fd, buf, kReportSize - (APlug.pending.size() - used));
        if (n <= 0) break;
        APlug.pending.insert(APlug.pending.end(), buf, buf + n);
    }
    APlug.pending.erase(APlug.pending.begin(),
                        APlug.pending.begin() + static_cast<std::ptrdiff_t>(used));
    if (APlug.link->alive()) return;
    // Off the bus: re-enumerated after Load PC (plugged again) or gone for good.
    detach(APlug);
    APlug.replugAt = std::chrono::steady_clock::now() + APlug.options.replugDelay;
    if (APlug.analyzer->enumerated() && APlug.options.replugDelay.count() == 0) attach(APlug);
}

void UsbTestbed::serve() {
    for (;;) {
        std::vector<pollfd> fds{{FWake.fd, POLLIN, 0}};
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kPollMs);
        {
            std::lock_guard lock(FMutex);
            if (FStop) return;
            for (const auto& plug : FPlugs) {
                if (const auto due = plug->analyzer->nextDue()) until = std::min(until, *due);
                if (!plug->link) continue;
                // A whole report waits for the device: no more input until it can take it.
                const bool waiting = plug->pending.size() >= kReportSize;
                fds.push_back({plug->fd, static_cast<short>(waiting ? 0 : POLLIN), 0});
                if (const auto at = waiting ? plug->analyzer->takesReportAt() : std::nullopt)
                    until = std::min(until, *at);
            }
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(until - std::chrono::steady_clock::now(), std::chrono::steady_clock::duration::zero()));
        const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                               static_cast<long>(wait.count() % 1000000000)};
        ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
        std::uint64_t count;
        [[maybe_unused]] const ssize_t n = ::read(FWake.fd, &count, sizeof count);
        std::lock_guard lock(FMutex);
        if (FStop) return;
        for (auto& plug : FPlugs) {
            try {
                serveOne(*plug);
            } catch (const std::exception& e) {
                std::cerr << "simulated analyzer taken off the bus: " << e.what() << "\n";
                plug->broken = true;
                plug->link.reset();
            }
        }
    }
}

}  // namespace sim::usb
