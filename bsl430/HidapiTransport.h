#pragma once
// The real analyzer: hidapi's hidraw backend (udev finds the node, plain read/write on it).
// Devices are told apart by the USB port they hang on, which survives a re-enumeration,
// unlike the hidraw node's name.

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
    // What the last successful open asked for and where it found the device.
    struct Opened {
        std::uint16_t vid;
        std::uint16_t pid;
        int index;
        std::string port;
    };

    bool tryOpen(std::uint16_t AVid, std::uint16_t APid, int AIndex, bool AComingBack);
    void noteError(const char* AWhat);

    bool FReady = false;
    hid_device_* FDevice = nullptr;
    std::optional<Opened> FOpened;
    std::string FError;
};

}  // namespace bsl430
