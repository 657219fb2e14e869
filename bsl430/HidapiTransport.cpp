#include "HidapiTransport.h"

#include "Protocol.h"

#include <hidapi.h>
#include <win/udev/UdevPtr.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

namespace bsl430 {

namespace {

constexpr std::chrono::milliseconds kPollInterval{100};

struct Device {
    std::string path;  // /dev/hidrawN
    std::string port;  // the usb_device's sysname, e.g. "1-1.2"; empty when udev has none
};

// The USB port of a hidraw node: the sysname of the usb_device above it.
std::string portOf(udev* AUdev, const std::string& APath) {
    if (!AUdev) return {};
    const std::string sysname = APath.substr(APath.rfind('/') + 1);
    const win::TUdevPtr<udev_device> node(
        udev_device_new_from_subsystem_sysname(AUdev, "hidraw", sysname.c_str()));
    // The parent belongs to the node: no reference of its own.
    udev_device* usb =
        node ? udev_device_get_parent_with_subsystem_devtype(node.get(), "usb", "usb_device")
             : nullptr;
    const char* name = usb ? udev_device_get_sysname(usb) : nullptr;
    return name ? name : "";
}

// "1-1.10" as {1, 1, 10}: port 2 sorts before port 10.
std::vector<unsigned long> portKey(const std::string& APort) {
    std::vector<unsigned long> key;
    for (const char* p = APort.c_str(); *p;) {
        if (std::isdigit(static_cast<unsigned char>(*p))) {
            char* end = nullptr;
            key.push_back(std::strtoul(p, &end, 10));  // saturates, never throws
            p = end;
        } else {
            ++p;
        }
    }
    return key;
}

// The devices with these ids in port order, so that an index names the same device from one
// call to the next however the nodes are numbered.
std::vector<Device> devices(std::uint16_t AVid, std::uint16_t APid) {
    const win::TUdevPtr<udev> context(udev_new());
    std::vector<Device> found;
    hid_device_info* list = hid_enumerate(AVid, APid);
    for (hid_device_info* d = list; d; d = d->next)
        if (d->path) found.push_back({d->path, portOf(context.get(), d->path)});
    hid_free_enumeration(list);
    const auto key = [](const Device& ADevice) {
        return std::tuple(portKey(ADevice.port), ADevice.port, ADevice.path);
    };
    std::sort(found.begin(), found.end(),
              [&](const Device& a, const Device& b) { return key(a) < key(b); });
    found.erase(std::unique(found.begin(), found.end(),
                            [](const Device& a, const Device& b) { return a.path == b.path; }),
                found.end());
    return found;
}

std::string narrow(const wchar_t* AText) {
    std::string s;
    if (!AText) return s;
    std::mbstate_t state{};
    char buf[8];
    for (; *AText; ++AText) {
        const std::size_t n = std::wcrtomb(buf, *AText, &state);
        if (n == static_cast<std::size_t>(-1)) s += '?';
        else s.append(buf, n);
    }
    return s;
}

}  // namespace

std::unique_ptr<Transport> makeTransport() { return std::make_unique<HidapiTransport>(); }

HidapiTransport::NodeLock::~NodeLock() {
    if (FFd >= 0) ::close(FFd);
}

HidapiTransport::NodeLock::NodeLock(NodeLock&& AOther) noexcept : FFd(std::exchange(AOther.FFd, -1)) {}

HidapiTransport::NodeLock& HidapiTransport::NodeLock::operator=(NodeLock&& AOther) noexcept {
    if (this != &AOther) {
        if (FFd >= 0) ::close(FFd);
        FFd = std::exchange(AOther.FFd, -1);
    }
    return *this;
}

HidapiTransport::HidapiTransport() : FReady(hid_init() == 0) {}

HidapiTransport::~HidapiTransport() {
    close();
    if (FReady) hid_exit();
}

void HidapiTransport::noteError(const char* AWhat) {
    const std::string detail = narrow(hid_error(FDevice));
    FError = detail.empty() ? std::string("(") + AWhat + ")"
                            : std::string("(") + AWhat + ": " + detail + ")";
}

bool HidapiTransport::open(std::uint16_t AVid, std::uint16_t APid, int AIndex, int AWaitMs) {
    close();
    FError.clear();
    if (!FReady) {
        FError = "(hidapi could not start)";
        return false;
    }
    // A device coming back from a re-enumeration takes a while to appear, and udev may grant
    // access to its node a moment after that.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AWaitMs);
    while (!tryOpen(AVid, APid, AIndex, AWaitMs > 0)) {
        if (FBusy || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

bool HidapiTransport::tryOpen(std::uint16_t AVid, std::uint16_t APid, int AIndex,
                              bool AComingBack) {
    const std::vector<Device> found = devices(AVid, APid);
    const Device* chosen = nullptr;
    // The same request names the device opened last while it is attached. One coming back
    // from a re-enumeration returns on its own port: any other device there is another
    // analyzer, whose boot loader must never get this one's password.
    const bool same = FOpened && FOpened->vid == AVid && FOpened->pid == APid &&
                      FOpened->index == AIndex && !FOpened->port.empty();
    if (same) {
        const auto it = std::find_if(found.begin(), found.end(),
                                     [&](const Device& d) { return d.port == FOpened->port; });
        if (it != found.end()) chosen = &*it;
        else if (AComingBack) {
            FError = "(not back on USB port " + FOpened->port + ")";
            return false;
        }
    }
    if (!chosen) {
        if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= found.size()) {
            FError = "(" + std::to_string(found.size()) + " found)";
            return false;
        }
        chosen = &found[static_cast<std::size_t>(AIndex)];
    }
    NodeLock lock;
    if (!lockNode(chosen->path, lock)) return false;
    FDevice = hid_open_path(chosen->path.c_str());
    if (!FDevice) {
        FError = "(cannot open " + chosen->path +
                 ": no access to the device? see 70-analyzer-bsl.rules)";
        return false;
    }
    FLock = std::move(lock);
    FOpened = Opened{AVid, APid, AIndex, chosen->port};
    return true;
}

bool HidapiTransport::lockNode(const std::string& APath, NodeLock& ALock) {
    FBusy = false;
    // The node's name comes from udev, which may make /dev entries links: follow them, but
    // lock nothing that is not a device.
    const int fd = ::open(APath.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        FError = errno == EACCES
                     ? "(cannot open " + APath + ": no access to the device? see 70-analyzer-bsl.rules)"
                     : "(cannot open " + APath + ": " + std::strerror(errno) + ")";
        return false;
    }
    NodeLock held(fd);
    struct stat node {};
    if (::fstat(fd, &node) != 0 || !S_ISCHR(node.st_mode)) {
        FError = "(" + APath + " is not a device node)";
        return false;
    }
    int rc;
    do
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        // Two programs driving one boot loader garble each other's commands and passwords.
        FBusy = errno == EWOULDBLOCK;
        FError = FBusy ? "(" + APath + " is in use by another updater; only one program at a "
                                       "time may update the analyzer: close the other one)"
                       : "(cannot lock " + APath + ": " + std::strerror(errno) + ")";
        return false;
    }
    ALock = std::move(held);
    return true;
}

void HidapiTransport::close() {
    if (FDevice) hid_close(FDevice);
    FDevice = nullptr;
    FLock = NodeLock();
}

bool HidapiTransport::isOpen() const { return FDevice != nullptr; }

bool HidapiTransport::write(const Report& AReport) {
    if (!FDevice) return false;
    if (hid_write(FDevice, AReport.data(), AReport.size()) == static_cast<int>(AReport.size()))
        return true;
    noteError("write");
    return false;
}

ReadStatus HidapiTransport::read(Report& AReport, int ATimeoutMs) {
    if (!FDevice) return ReadStatus::Lost;
    AReport.fill(0);
    int n = hid_read_timeout(FDevice, AReport.data(), AReport.size(), ATimeoutMs);
    if (n < 0) {
        noteError("read");
        return ReadStatus::Lost;
    }
    if (n == 0) return ReadStatus::Timeout;
    // A report handed over without its id byte starts with the length (at most 62, never the
    // id 0x3F): put the id back in front.
    if (n == static_cast<int>(kReportSize) - 1 && AReport[0] != kReportId) {
        std::copy_backward(AReport.begin(), AReport.end() - 1, AReport.end());
        AReport[0] = kReportId;
        ++n;
    }
    if (n < 2 || n < 2 + AReport[1]) {
        FError = "(a report of " + std::to_string(n) + " bytes, shorter than it declares)";
        AReport.fill(0);
    }
    return ReadStatus::Ok;
}

int HidapiTransport::count(std::uint16_t AVid, std::uint16_t APid) {
    return FReady ? static_cast<int>(devices(AVid, APid).size()) : 0;
}

std::string HidapiTransport::lastError() const { return FError; }

}  // namespace bsl430
