#pragma once
// The real analyzer: hidapi's hidraw backend (udev finds the node, plain read/write on it).
// Devices are told apart by the USB port they hang on, which survives a re-enumeration,
// unlike the hidraw node's name. While a node is open it is also locked (flock), so a second
// program driving the same boot loader is turned away at once.

#include "Transport.h"

#include <optional>

struct hid_device_;

namespace bsl430 {

class HidapiTransport final : public Transport {
public:
    HidapiTransport();
    ~HidapiTransport() override;
    HidapiTransport(const HidapiTransport&) = delete;
    HidapiTransport& operator=(const HidapiTransport&) = delete;

    bool open(std::uint16_t AVid, std::uint16_t APid, int AIndex, int AWaitMs) override;
    void close() override;
    bool isOpen() const override;
    bool write(const Report& AReport) override;
    ReadStatus read(Report& AReport, int ATimeoutMs) override;
    int count(std::uint16_t AVid, std::uint16_t APid) override;
    std::string lastError() const override;

private:
    // An exclusive flock on a device node, held on a descriptor of its own until destroyed.
    class NodeLock {
    public:
        NodeLock() = default;
        explicit NodeLock(int AFd) : FFd(AFd) {}
        ~NodeLock();
        NodeLock(NodeLock&& AOther) noexcept;
        NodeLock& operator=(NodeLock&& AOther) noexcept;

    private:
        int FFd = -1;
    };

    // What the last successful open asked for and where it found the device.
    struct Opened {
        std::uint16_t vid;
        std::uint16_t pid;
        int index;
        std::string port;
    };

    bool tryOpen(std::uint16_t AVid, std::uint16_t APid, int AIndex, bool AComingBack);
    // Locks the node for this program; false (with the reason) when it cannot, FBusy when
    // another program holds it.
    bool lockNode(const std::string& APath, NodeLock& ALock);
    void noteError(const char* AWhat);

    bool FReady = false;
    hid_device_* FDevice = nullptr;
    NodeLock FLock;  // of FDevice's node
    bool FBusy = false;  // the last open found the node locked by another program
    std::optional<Opened> FOpened;
    std::string FError;
};

}  // namespace bsl430
