#include "Protocol.h"

#include "bsl430.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace bsl430 {

namespace {

constexpr std::uint8_t kPadding = 0xAC;

const char* messageName(std::uint8_t ACode) {
    switch (ACode) {
    case BSL430_MSG_FLASH_WRITE_CHECK_FAILED: return "flash write check failed";
    case BSL430_MSG_FLASH_FAIL_BIT_SET: return "flash fail bit set";
    case BSL430_MSG_VOLTAGE_CHANGE: return "voltage change during programming";
    case BSL430_MSG_LOCKED: return "BSL locked";
    case BSL430_MSG_PASSWORD_ERROR: return "password error";
    case BSL430_MSG_BYTE_WRITE_FORBIDDEN: return "byte write forbidden";
    case BSL430_MSG_UNKNOWN_COMMAND: return "unknown command";
    case BSL430_MSG_PACKET_TOO_LARGE: return "packet larger than the buffer";
    default: return "unknown message";
    }
}

std::string hexByte(std::uint8_t AByte) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%02X", AByte);
    return buf;
}

Reply failure(std::uint8_t ACode, std::string AError) {
    Reply r;
    r.code = ACode;
    r.error = std::move(AError);
    return r;
}

}  // namespace

Protocol::Protocol(Transport& ATransport, int AAnswerTimeoutMs, int ASettleMs)
    : FTransport(ATransport), FTimeoutMs(AAnswerTimeoutMs), FSettleMs(ASettleMs) {}

void Protocol::drainStale() {
    // An answer left over from an earlier command must not pass for the next one's. After a
    // timeout that answer may arrive only now (a late "0x3B 00" would read as success), so
    // give it a moment to come and be dropped.
    const int wait = FUnsure ? FSettleMs : 0;
    FUnsure = false;
    Report stale;
    for (int i = 0; i < 64 && FTransport.read(stale, wait) == ReadStatus::Ok; ++i) {
    }
}

void Protocol::newSession() {
    FGoneCode = 0;
    FGoneReason.clear();
}

Reply Protocol::exchange(std::span<const std::uint8_t> ACore, Expect AExpect,
                         std::size_t ADataLength) {
    const std::string what = "command " + hexByte(ACore.empty() ? 0 : ACore[0]);
    if (!FTransport.isOpen()) return failure(BSL430_ERR_NO_DEVICE, "no boot loader is open");
    if (FGoneCode != 0)
        return failure(FGoneCode, what + " not sent: " + FGoneReason +
                                      "; close the boot loader and open it again");
    // Remembers why the device is out of reach for the rest of the session.
    const auto gone = [&](std::uint8_t ACode, std::string AError) {
        FGoneCode = ACode;
        FGoneReason = AError;
        return failure(ACode, std::move(AError));
    };
    if (ACore.empty() || ACore.size() > kMaxCore)
        return failure(BSL430_ERR_BAD_ARGUMENT, what + " does not fit in one report");
    if (AExpect != Expect::Nothing) drainStale();

    Report out;
    out.fill(kPadding);
    out[0] = kReportId;
    out[1] = static_cast<std::uint8_t>(ACore.size());
    std::copy(ACore.begin(), ACore.end(), out.begin() + 2);
    if (!FTransport.write(out))
        return gone(BSL430_ERR_DEVICE_LOST,
                    what + ": the device took no report " + FTransport.lastError());
    if (AExpect == Expect::Nothing) return Reply{};

    Report in;
    switch (FTransport.read(in, FTimeoutMs)) {
    case ReadStatus::Ok: break;
    case ReadStatus::Timeout:
        FUnsure = true;
        return gone(BSL430_ERR_NO_ANSWER, what + ": no answer from the boot loader");
    case ReadStatus::Lost:
        return gone(BSL430_ERR_DEVICE_LOST,
                    what + ": the device went away " + FTransport.lastError());
    }
    const std::size_t n = in[1];
    if (in[0] != kReportId || n < 1 || n > kMaxCore)
        return failure(BSL430_ERR_BAD_ANSWER, what + ": the answer is not a BSL report");

    Reply r;
    r.core.assign(in.begin() + 2, in.begin() + 2 + static_cast<std::ptrdiff_t>(n));
    if (r.core[0] == kAnswerMessage && n >= 2) {
        r.code = r.core[1];
        if (r.code >= BSL430_ERR_NO_DEVICE) {
            // No boot loader message: a damaged one must not pass for one of our own codes.
            r.code = BSL430_ERR_BAD_ANSWER;
            r.error = what + ": unknown message " + hexByte(r.core[1]);
        } else if (AExpect == Expect::Data && r.code == BSL430_MSG_OK) {
            r.code = BSL430_ERR_BAD_ANSWER;
            r.error = what + ": a message where data was expected";
        } else if (r.code != BSL430_MSG_OK) {
            r.error = what + ": the boot loader answered " + hexByte(r.code) + " (" +
                      messageName(r.code) + ")";
        }
        return r;
    }
    if (r.core[0] == kAnswerData && AExpect == Expect::Data) {
        r.data.assign(r.core.begin() + 1, r.core.end());
        if (ADataLength == 0 || r.data.size() == ADataLength) return r;
        r.code = BSL430_ERR_BAD_ANSWER;
        r.error = what + ": " + std::to_string(r.data.size()) + " data bytes where " +
                  std::to_string(ADataLength) + " were expected";
        return r;
    }
    r.code = BSL430_ERR_BAD_ANSWER;
    r.error = what + ": unexpected answer " + hexByte(r.core[0]);
    return r;
}

Reply Protocol::addressed(std::uint8_t ACommand, std::uint32_t AAddr,
                          std::span<const std::uint8_t> ATail, Expect AExpect,
                          std::size_t ADataLength) {
    if (AAddr > kMaxWireAddress)
        return failure(BSL430_ERR_BAD_ARGUMENT, "address beyond 24 bits");
    std::array<std::uint8_t, kMaxCore> core{};
    if (ATail.size() + 4 > core.size())
        return failure(BSL430_ERR_BAD_ARGUMENT, "command does not fit in one report");
    core[0] = ACommand;
    core[1] = static_cast<std::uint8_t>(AAddr);
    core[2] = static_cast<std::uint8_t>(AAddr >> 8);
    core[3] = static_cast<std::uint8_t>(AAddr >> 16);
    std::copy(ATail.begin(), ATail.end(), core.begin() + 4);
    return exchange(std::span(core.data(), ATail.size() + 4), AExpect, ADataLength);
}

Reply Protocol::rxPassword(std::span<const std::uint8_t, 32> APassword) {
    std::array<std::uint8_t, 33> core{};
    core[0] = cmd::RxPassword;
    std::copy(APassword.begin(), APassword.end(), core.begin() + 1);
    return exchange(core, Expect::Message);
}

Reply Protocol::rxDataBlock(std::uint32_t AAddr, std::span<const std::uint8_t> AData) {
    return addressed(cmd::RxDataBlock, AAddr, AData, Expect::Message);
}

Reply Protocol::rxDataBlockFast(std::uint32_t AAddr, std::span<const std::uint8_t> AData) {
    return addressed(cmd::RxDataBlockFast, AAddr, AData, Expect::Nothing);
}

Reply Protocol::eraseSegment(std::uint32_t AAddr) {
    return addressed(cmd::EraseSegment, AAddr, {}, Expect::Message);
}

Reply Protocol::toggleInfo() {
    const std::uint8_t core[] = {cmd::ToggleInfo};
    return exchange(core, Expect::Message);
}

Reply Protocol::massErase() {
    const std::uint8_t core[] = {cmd::MassErase};
    return exchange(core, Expect::Message);
}

Reply Protocol::crcCheck(std::uint32_t AAddr, std::uint32_t ALength) {
    if (ALength > 0xFFFF) return failure(BSL430_ERR_BAD_ARGUMENT, "CRC length beyond 0xFFFF");
    const std::uint8_t tail[] = {static_cast<std::uint8_t>(ALength),
                                 static_cast<std::uint8_t>(ALength >> 8)};
    return addressed(cmd::CrcCheck, AAddr, tail, Expect::Data, 2);
}

Reply Protocol::loadPc(std::uint32_t AAddr) {
    return addressed(cmd::LoadPc, AAddr, {}, Expect::Nothing);
}

Reply Protocol::txDataBlock(std::uint32_t AAddr, std::uint32_t ALength) {
    if (AAddr > kMaxWireAddress || ALength > kMaxWireAddress + 1 - AAddr)
        return failure(BSL430_ERR_BAD_ARGUMENT, "range beyond 24 bits");
    Reply all;
    all.data.reserve(ALength);
    for (std::uint32_t done = 0; done < ALength;) {
        // Asking for what fits one answer report keeps every answer a single report.
        const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(kMaxTxData, ALength - done));
        const std::uint8_t tail[] = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)};
        Reply part = addressed(cmd::TxDataBlock, AAddr + done, tail, Expect::Data, n);
        all.core = part.core;
        if (part.code != 0) {
            part.data.clear();
            return part;
        }
        all.data.insert(all.data.end(), part.data.begin(), part.data.end());
        done += n;
    }
    return all;
}

Reply Protocol::txBslVersion() {
    const std::uint8_t core[] = {cmd::TxBslVersion};
    return exchange(core, Expect::Data, 4);
}

Reply Protocol::txBufferSize() {
    const std::uint8_t core[] = {cmd::TxBufferSize};
    return exchange(core, Expect::Data, 2);
}

}  // namespace bsl430
