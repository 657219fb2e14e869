#pragma once
// The core-command interpreter of the two boot loaders: the small flash BSL (RX Password,
// RX Data Block Fast into RAM, Load PC) and the RAM BSL with the full command set.
//
// Choices the public boot loader guide leaves open (the BSL library and its tests rely on them):
// - Every entry starts locked with info A locked. While locked every command but RX Password
//   (and, in the RAM BSL, TX BSL Version) answers 0x04; RX Data Block Fast is dropped.
// - A wrong password (any length other than 32 counts as wrong) answers 0x05, mass-erases the
//   main flash and locks again.
// - A command the running BSL does not know answers 0x07, as does a known command whose
//   payload has the wrong length.
// - Writes: BSL flash, vacant addresses and targets outside the running BSL's scope fail the
//   write check (0x01); info A while locked, and erasing anything but unlocked flash, answer
//   0x02 (flash fail bit). A write that fails in part still stores its other bytes.
// - TX Buffer Size answers 256; TX Data Block takes up to 256 bytes (more answers 0x08) and
//   answers them in consecutive IN reports, each 0x3A followed by up to 61 bytes.
// - Load PC 0x2504 with a RAM BSL loaded at 0x2500-0x2507 starts the RAM BSL (in the RAM BSL:
//   restarts it); any other target leaves the boot loader for the application.

#include "Analyzer.h"
#include "Memory.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

constexpr std::uint32_t kRamBslStart = 0x2500;
constexpr std::uint32_t kRamBslEntry = 0x2504;
constexpr std::uint16_t kBufferSize = 256;
constexpr std::size_t kMaxAnswerData = 61;  // per IN report, after the 0x3A

namespace cmd {
constexpr std::uint8_t kRxDataBlock = 0x10;
constexpr std::uint8_t kRxPassword = 0x11;
constexpr std::uint8_t kEraseSegment = 0x12;
constexpr std::uint8_t kToggleInfo = 0x13;
constexpr std::uint8_t kMassErase = 0x15;
constexpr std::uint8_t kCrcCheck = 0x16;
constexpr std::uint8_t kLoadPc = 0x17;
constexpr std::uint8_t kTxDataBlock = 0x18;
constexpr std::uint8_t kTxBslVersion = 0x19;
constexpr std::uint8_t kTxBufferSize = 0x1A;
constexpr std::uint8_t kRxDataBlockFast = 0x1B;
}  // namespace cmd

// What one core command did, for the device around the interpreter.
struct Outcome {
    enum class Event {
        None,
        StartRamBsl,   // Load PC into the RAM BSL: drop off the bus, enumerate again
        Leave,         // Load PC elsewhere: the application runs
        ForcedReset,   // brown-out reset through PMMCTL0
    };
    std::vector<std::vector<std::uint8_t>> answers;  // core answers, one per IN report
    std::uint64_t micros = 0;                        // device time the command took
    Event event = Event::None;
};

class BootLoader {
public:
    BootLoader(Memory& AMemory, Stats& AStats) : FMemory(AMemory), FStats(AStats) {}

    // The device enters the flash BSL or the RAM BSL: locked again.
    void enter(Mode AMode);
    Mode running() const { return FRunning; }
    bool locked() const { return FLocked; }

    Outcome execute(std::span<const std::uint8_t> ACore, const Faults& AFaults);

private:
    void rxPassword(std::span<const std::uint8_t> APayload, const Faults& AFaults, Outcome& AOut);
    void rxDataBlock(std::span<const std::uint8_t> APayload, bool AFast, const Faults& AFaults,
                     Outcome& AOut);
    void loadPc(std::uint32_t AAddr, Outcome& AOut);
    void eraseSegment(std::uint32_t AAddr, const Faults& AFaults, Outcome& AOut);
    void massErase(Outcome& AOut);
    void crcCheck(std::uint32_t AAddr, std::uint16_t ALength, const Faults& AFaults,
                  Outcome& AOut);
    void txDataBlock(std::uint32_t AAddr, std::uint16_t ALength, Outcome& AOut);

    Memory& FMemory;
    Stats& FStats;
    Mode FRunning = Mode::FlashBsl;
    bool FLocked = true;
    std::array<std::uint8_t, 4> FVersion{};  // the RAM BSL's, read at its start
};

}  // namespace sim
