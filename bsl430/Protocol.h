#pragma once
// The boot loader's core commands framed into HID reports: 0x3F, the core length, the core
// command, padding. Every command yields one code: 0 accepted, the device's message byte,
// or a library code (BSL430_ERR_... in bsl430.h) when the device was not reached.

#include "Transport.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace bsl430 {

constexpr std::uint8_t kReportId = 0x3F;
constexpr std::size_t kMaxCore = kReportSize - 2;         // 62 core bytes a report
constexpr std::size_t kMaxRxData = kMaxCore - 4;          // command and 3 address bytes
constexpr std::size_t kMaxTxData = kMaxCore - 1;          // 0x3A ahead of the data
constexpr std::uint32_t kMaxWireAddress = 0xFFFFFF;       // 3 address bytes
constexpr std::uint8_t kAnswerData = 0x3A;
constexpr std::uint8_t kAnswerMessage = 0x3B;

namespace cmd {
constexpr std::uint8_t RxDataBlock = 0x10;
constexpr std::uint8_t RxPassword = 0x11;
constexpr std::uint8_t EraseSegment = 0x12;
constexpr std::uint8_t ToggleInfo = 0x13;
constexpr std::uint8_t MassErase = 0x15;
constexpr std::uint8_t CrcCheck = 0x16;
constexpr std::uint8_t LoadPc = 0x17;
constexpr std::uint8_t TxDataBlock = 0x18;
constexpr std::uint8_t TxBslVersion = 0x19;
constexpr std::uint8_t TxBufferSize = 0x1A;
constexpr std::uint8_t RxDataBlockFast = 0x1B;
}  // namespace cmd

struct Reply {
    std::uint8_t code = 0;            // 0, a device message or a library code
    std::vector<std::uint8_t> core;   // the answer's core bytes as they came (may be empty)
    std::vector<std::uint8_t> data;   // the data after 0x3A
    std::string error;                // what went wrong, when code is not 0
};

class Protocol {
public:
    // After a timeout the next command first waits ASettleMs for a late answer to discard.
    explicit Protocol(Transport& ATransport, int AAnswerTimeoutMs = 2000, int ASettleMs = 100);

    Reply rxPassword(std::span<const std::uint8_t, 32> APassword);
    Reply rxDataBlock(std::uint32_t AAddr, std::span<const std::uint8_t> AData);
    Reply rxDataBlockFast(std::uint32_t AAddr, std::span<const std::uint8_t> AData);
    Reply eraseSegment(std::uint32_t AAddr);
    Reply toggleInfo();
    Reply massErase();
    // On 0, data holds the CRC low byte first.
    Reply crcCheck(std::uint32_t AAddr, std::uint32_t ALength);
    Reply loadPc(std::uint32_t AAddr);
    // ALength bytes in as many requests as the answers need.
    Reply txDataBlock(std::uint32_t AAddr, std::uint32_t ALength);
    Reply txBslVersion();
    Reply txBufferSize();

    // The boot loader was opened anew: commands go out again after it had gone silent.
    void newSession();

private:
    enum class Expect { Nothing, Message, Data };

    Reply exchange(std::span<const std::uint8_t> ACore, Expect AExpect,
                   std::size_t ADataLength = 0);
    Reply addressed(std::uint8_t ACommand, std::uint32_t AAddr,
                    std::span<const std::uint8_t> ATail, Expect AExpect,
                    std::size_t ADataLength = 0);
    void drainStale();

    Transport& FTransport;
    int FTimeoutMs;
    int FSettleMs;
    bool FUnsure = false;  // a command timed out: its answer may still be on the way
    // The device stopped answering or left in this session: every later command fails at
    // once with this code and reason instead of waiting out its time-out again.
    std::uint8_t FGoneCode = 0;
    std::string FGoneReason;
};

}  // namespace bsl430
