#include "BootLoader.h"

#include "Crc16.h"
#include "Messages.h"
#include "VirtualClock.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::uint32_t kPmmCtl0 = 0x0120;
constexpr std::uint8_t kPmmPassword = 0xA5;  // high byte
constexpr std::uint8_t kPmmSwBor = 0x04;     // low byte

std::vector<std::uint8_t> message(std::uint8_t ACode) { return {msg::kMessageAnswer, ACode}; }

std::uint32_t address(std::span<const std::uint8_t> APayload)
{
    return APayload[0] | (std::uint32_t(APayload[1]) << 8) | (std::uint32_t(APayload[2]) << 16);
}

std::uint16_t length(std::span<const std::uint8_t> APayload)
{
    return static_cast<std::uint16_t>(APayload[3] | (APayload[4] << 8));
}

bool knownTo(Mode ARunning, std::uint8_t ACode)
{
    switch (ACode) {
    case cmd::kRxPassword:
    case cmd::kRxDataBlockFast:
    case cmd::kLoadPc:
        return true;
    case cmd::kRxDataBlock:
    case cmd::kEraseSegment:
    case cmd::kToggleInfo:
    case cmd::kMassErase:
    case cmd::kCrcCheck:
    case cmd::kTxDataBlock:
    case cmd::kTxBslVersion:
    case cmd::kTxBufferSize:
        return ARunning == Mode::RamBsl;
    default:
        return false;
    }
}

// Payload size after the command byte; -1: at least an address.
int payloadSize(std::uint8_t ACode)
{
    switch (ACode) {
    case cmd::kRxDataBlock:
    case cmd::kRxDataBlockFast:
        return -1;
    case cmd::kEraseSegment:
    case cmd::kLoadPc:
        return 3;
    case cmd::kCrcCheck:
    case cmd::kTxDataBlock:
        return 5;
    default:
        return 0;  // RX Password is judged by its own rule
    }
}

}  // namespace

void BootLoader::enter(Mode AMode)
{
    FRunning = AMode;
    FLocked = true;
    FMemory.setInfoALocked(true);
    if (AMode == Mode::RamBsl) {
        const auto bytes = FMemory.read(kRamBslStart, FVersion.size());
        std::copy(bytes.begin(), bytes.end(), FVersion.begin());
    }
}

Outcome BootLoader::execute(std::span<const std::uint8_t> ACore, const Faults& AFaults)
{
    Outcome out;
    if (ACore.empty()) {
        out.answers.push_back(message(msg::kUnknownCommand));
        return out;
    }
    const std::uint8_t code = ACore[0];
    const auto payload = ACore.subspan(1);
    const bool fast = code == cmd::kRxDataBlockFast;

    if (code == cmd::kRxPassword) {
        rxPassword(payload, AFaults, out);
        return out;
    }
    const bool open = code == cmd::kTxBslVersion && FRunning == Mode::RamBsl;
    if (FLocked && !open && knownTo(Mode::RamBsl, code)) {
        if (!fast)
            out.answers.push_back(message(msg::kLocked));
        return out;
    }
    const int size = payloadSize(code);
    const bool shaped = size < 0 ? payload.size() >= 3 : payload.size() == std::size_t(size);
    if (!knownTo(FRunning, code) || !shaped) {
        if (!fast)
            out.answers.push_back(message(msg::kUnknownCommand));
        return out;
    }

    switch (code) {
    case cmd::kRxDataBlock:
    case cmd::kRxDataBlockFast:
        rxDataBlock(payload, fast, AFaults, out);
        break;
    case cmd::kLoadPc:
        loadPc(address(payload), out);
        break;
    case cmd::kEraseSegment:
        eraseSegment(address(payload), AFaults, out);
        break;
    case cmd::kToggleInfo:
        FMemory.setInfoALocked(!FMemory.infoALocked());
        out.answers.push_back(message(msg::kSuccess));
        break;
    case cmd::kMassErase:
        massErase(out);
        out.answers.push_back(message(msg::kSuccess));
        break;
    case cmd::kCrcCheck:
        crcCheck(address(payload), length(payload), AFaults, out);
        break;
    case cmd::kTxDataBlock:
        txDataBlock(address(payload), length(payload), out);
        break;
    case cmd::kTxBslVersion: {
        const auto version = AFaults.ramBslVersion.value_or(FVersion);
        std::vector<std::uint8_t> answer{msg::kDataAnswer};
        answer.insert(answer.end(), version.begin(), version.end());
        out.answers.push_back(std::move(answer));
        break;
    }
    case cmd::kTxBufferSize:
        out.answers.push_back({msg::kDataAnswer, std::uint8_t(kBufferSize & 0xFF),
                               std::uint8_t(kBufferSize >> 8)});
        break;
    }
    return out;
}

void BootLoader::rxPassword(std::span<const std::uint8_t> APayload, const Faults& AFaults,
                            Outcome& AOut)
{
    const auto stored = FMemory.read(kPasswordStart, kPasswordSize);
    const bool matches = APayload.size() == kPasswordSize
                         && std::equal(APayload.begin(), APayload.end(), stored.begin());
    const bool isDefault = APayload.size() == kPasswordSize
                           && std::all_of(APayload.begin(), APayload.end(),
                                          [](std::uint8_t b) { return b == 0xFF; });
    const bool refused = !matches || (AFaults.refusePassword && !isDefault)
                         || (AFaults.refuseDefaultPassword && isDefault)
                         || (AFaults.refuseRamBslPassword && FRunning == Mode::RamBsl);
    if (refused) {
        FLocked = true;
        massErase(AOut);
        AOut.answers.push_back(message(msg::kPasswordError));
        return;
    }
    FLocked = false;
    AOut.answers.push_back(message(msg::kSuccess));
}

void BootLoader::rxDataBlock(std::span<const std::uint8_t> APayload, bool AFast,
                             const Faults& AFaults, Outcome& AOut)
{
    const std::uint32_t addr = address(APayload);
    const auto data = APayload.subspan(3);
    WriteScope scope;
    if (FRunning == Mode::FlashBsl)
        scope = WriteScope{.ram = true, .flash = false, .peripherals = false};
    const WriteResult result = FMemory.write(addr, data, scope, AFaults.flipBitAt);
    AOut.micros = std::uint64_t(result.programmedWords) * kWordMicros;

    const std::uint64_t end = std::uint64_t(addr) + data.size();
    if (scope.peripherals && addr <= kPmmCtl0 && end >= kPmmCtl0 + 2
        && FMemory.peek(kPmmCtl0) == kPmmSwBor && FMemory.peek(kPmmCtl0 + 1) == kPmmPassword) {
        AOut.event = Outcome::Event::ForcedReset;  // resets before it could answer
        return;
    }
    if (!AFast)
        AOut.answers.push_back(message(result.message));
}

void BootLoader::loadPc(std::uint32_t AAddr, Outcome& AOut)
{
    const bool ramBsl = AAddr == kRamBslEntry && FMemory.ramWritten(kRamBslStart, 8);
    AOut.event = ramBsl ? Outcome::Event::StartRamBsl : Outcome::Event::Leave;
}

void BootLoader::eraseSegment(std::uint32_t AAddr, const Faults& AFaults, Outcome& AOut)
{
    if (AFaults.refuseSegmentErase || !FMemory.eraseSegment(AAddr)) {
        AOut.answers.push_back(message(msg::kFlashFailBit));
        return;
    }
    ++FStats.segmentErases;
    AOut.micros = kEraseMicros;
    AOut.answers.push_back(message(msg::kSuccess));
}

void BootLoader::massErase(Outcome& AOut)
{
    FMemory.massErase();
    ++FStats.massErases;
    AOut.micros = kEraseMicros;
}

void BootLoader::crcCheck(std::uint32_t AAddr, std::uint16_t ALength, const Faults& AFaults,
                          Outcome& AOut)
{
    if (AFaults.refuseCrcCheck) {
        AOut.answers.push_back(message(msg::kWriteCheckFailed));
        return;
    }
    const auto bytes = FMemory.read(AAddr, ALength);
    const std::uint16_t crc = crc16(bytes);
    AOut.micros = std::uint64_t(ALength) * kCrcByteMicros;
    AOut.answers.push_back(
        {msg::kDataAnswer, std::uint8_t(crc & 0xFF), std::uint8_t(crc >> 8)});
}

void BootLoader::txDataBlock(std::uint32_t AAddr, std::uint16_t ALength, Outcome& AOut)
{
    if (ALength > kBufferSize) {
        AOut.answers.push_back(message(msg::kPacketTooLarge));
        return;
    }
    const auto bytes = FMemory.read(AAddr, ALength);
    std::size_t at = 0;
    do {
        const std::size_t n = std::min(kMaxAnswerData, bytes.size() - at);
        std::vector<std::uint8_t> answer{msg::kDataAnswer};
        answer.insert(answer.end(), bytes.begin() + at, bytes.begin() + at + n);
        AOut.answers.push_back(std::move(answer));
        at += n;
    } while (at < bytes.size());
}

}  // namespace sim
