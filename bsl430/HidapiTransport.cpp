#include "HidapiTransport.h"

#include <hidapi.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace bsl430 {

namespace {

// Paths of the devices with these ids, sorted so that an index names the same device
// from one call to the next.
std::vector<std::string> devicePaths(std::uint16_t AVid, std::uint16_t APid) {
    std::vector<std::string> paths;
    hid_device_info* list = hid_enumerate(AVid, APid);
    for (hid_device_info* d = list; d; d = d->next)
        if (d->path) paths.emplace_back(d->path);
    hid_free_enumeration(list);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    return paths;
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

bool HidapiTransport::open(std::uint16_t AVid, std::uint16_t APid, int AIndex) {
    close();
    FError.clear();
    if (!FReady) {
        FError = "(hidapi could not start)";
        return false;
    }
    const std::vector<std::string> paths = devicePaths(AVid, APid);
    if (AIndex < 0 || static_cast<std::size_t>(AIndex) >= paths.size()) {
        FError = "(" + std::to_string(paths.size()) + " found)";
        return false;
    }
    FDevice = hid_open_path(paths[static_cast<std::size_t>(AIndex)].c_str());
    if (!FDevice) {
        FError = "(cannot open " + paths[static_cast<std::size_t>(AIndex)] +
                 ": no access to the device? see 70-analyzer-bsl.rules)";
        return false;
    }
    return true;
}

void HidapiTransport::close() {
    if (FDevice) hid_close(FDevice);
    FDevice = nullptr;
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
    const int n = hid_read_timeout(FDevice, AReport.data(), AReport.size(), ATimeoutMs);
    if (n < 0) {
        noteError("read");
        return ReadStatus::Lost;
    }
    return n == 0 ? ReadStatus::Timeout : ReadStatus::Ok;
}

int HidapiTransport::count(std::uint16_t AVid, std::uint16_t APid) {
    return FReady ? static_cast<int>(devicePaths(AVid, APid).size()) : 0;
}

std::string HidapiTransport::lastError() const { return FError; }

}  // namespace bsl430
