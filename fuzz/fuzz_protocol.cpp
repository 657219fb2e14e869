// libFuzzer target for the library's reading of the boot loader's answers: the input is the
// stream of IN reports a device sends (64 bytes each; a first byte of 0xFF in a report's slot
// means the device went away, a short tail means it stopped answering). Every command must
// end with a code, never read outside a report, and accept only answers of the right shape.

#include "Protocol.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

void check(bool ACondition) {
    if (!ACondition) std::abort();
}

class ScriptedDevice : public bsl430::Transport {
public:
    ScriptedDevice(const std::uint8_t* AData, std::size_t ASize) : FData(AData), FSize(ASize) {}
    bool open(std::uint16_t, std::uint16_t, int, int) override { return true; }
    void close() override {}
    bool isOpen() const override { return true; }
    bool write(const bsl430::Report& AReport) override { return AReport[0] == bsl430::kReportId; }
    bsl430::ReadStatus read(bsl430::Report& AReport, int) override {
        if (FPos + AReport.size() > FSize) return bsl430::ReadStatus::Timeout;
        std::memcpy(AReport.data(), FData + FPos, AReport.size());
        FPos += AReport.size();
        if (AReport[0] == 0xFF) return bsl430::ReadStatus::Lost;
        return bsl430::ReadStatus::Ok;
    }
    int count(std::uint16_t, std::uint16_t) override { return 1; }
    std::string lastError() const override { return {}; }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize) {
    if (ASize < 2) return 0;
    // The first two bytes choose the lengths asked for; the rest is what the device answers.
    const std::uint32_t readLength = 1 + AData[0] * 4;
    const std::size_t writeLength = 1 + AData[1] % 120;
    ScriptedDevice device(AData + 2, ASize - 2);
    bsl430::Protocol protocol(device, 0, 0);

    std::array<std::uint8_t, 32> password{};
    bsl430::Reply reply = protocol.rxPassword(password);
    check(reply.code != 0 || reply.error.empty());
    reply = protocol.txBslVersion();
    reply = protocol.txBufferSize();
    if (reply.code == 0) check(reply.data.size() == 2);
    reply = protocol.crcCheck(0x8000, readLength);
    if (reply.code == 0) check(reply.data.size() == 2);
    reply = protocol.txDataBlock(0x8000, readLength);
    if (reply.code == 0) check(reply.data.size() == readLength);
    std::array<std::uint8_t, 120> bytes{};
    reply = protocol.rxDataBlock(0x8000, std::span<const std::uint8_t>(bytes.data(), writeLength));
    reply = protocol.rxDataBlockFast(0x8000, std::span<const std::uint8_t>(bytes.data(), writeLength));
    reply = protocol.eraseSegment(0x8000);
    reply = protocol.massErase();
    reply = protocol.loadPc(0x8000);
    return 0;
}
