#pragma once
// The real analyzer: hidapi's hidraw backend (udev finds the node, plain read/write on it).

#include "Transport.h"

struct hid_device_;

namespace bsl430 {

class HidapiTransport final : public Transport {
public:
    HidapiTransport();
    ~HidapiTransport() override;
    HidapiTransport(const HidapiTransport&) = delete;
    HidapiTransport& operator=(const HidapiTransport&) = delete;

    bool open(std::uint16_t AVid, std::uint16_t APid, int AIndex) override;
    void close() override;
    bool isOpen() const override;
    bool write(const Report& AReport) override;
    ReadStatus read(Report& AReport, int ATimeoutMs) override;
    int count(std::uint16_t AVid, std::uint16_t APid) override;
    std::string lastError() const override;

private:
    void noteError(const char* AWhat);

    bool FReady = false;
    hid_device_* FDevice = nullptr;
    std::string FError;
};

}  // namespace bsl430
