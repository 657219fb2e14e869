#pragma once
// The simulated device's memory: the address map of an F5xx USB device with 256 KB of flash
// and the rules the flash controller enforces on writes through the boot loader.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sim {

enum class Area {
    Peripheral,  // 0x0000-0x0FFF
    BslFlash,    // 0x1000-0x17FF, not writable through the boot loader
    Info,        // 0x1800-0x19FF, segments D, C, B, A of 128 bytes
    Ram,         // 0x2400-0x63FF
    MainFlash,   // 0x8000-0x47FFF, 512-byte segments
    Vacant,      // everything else: reads 0xFF, writes fail
};

constexpr std::uint32_t kPeripheralStart = 0x0000, kPeripheralEnd = 0x0FFF;
constexpr std::uint32_t kBslFlashStart = 0x1000, kBslFlashEnd = 0x17FF;
constexpr std::uint32_t kInfoStart = 0x1800, kInfoEnd = 0x19FF;
constexpr std::uint32_t kInfoAStart = 0x1980;
constexpr std::uint32_t kRamStart = 0x2400, kRamEnd = 0x63FF;
constexpr std::uint32_t kMainStart = 0x8000, kMainEnd = 0x47FFF;
constexpr std::uint32_t kMainSegment = 512;
constexpr std::uint32_t kInfoSegment = 128;
constexpr std::uint32_t kPasswordStart = 0xFFE0;
constexpr std::size_t kPasswordSize = 32;
constexpr std::uint32_t kAddressSpace = 0x100000;  // 20-bit MSP430X addresses

Area areaOf(std::uint32_t AAddr);

// Where a boot loader write may go.
struct WriteScope {
    bool ram = true;
    bool flash = true;
    bool peripherals = true;
};

struct WriteResult {
    std::uint8_t message = 0;           // first failure, else success
    std::uint32_t programmedWords = 0;  // flash words touched (for the timing model)
};

class Memory {
public:
    Memory();  // flash erased, RAM and peripherals zero

    std::uint8_t peek(std::uint32_t AAddr) const;
    std::vector<std::uint8_t> read(std::uint32_t AAddr, std::size_t ALength) const;
    // Direct access for tests: no rules, any mapped or vacant byte below 1 MB.
    void load(std::uint32_t AAddr, std::span<const std::uint8_t> ABytes);

    // A write through the boot loader. Flash bits only go from 1 to 0 (the stored byte is
    // the AND of old and new; a byte that then differs from the wanted one fails the write
    // check). AFlipBitAt: a flash byte at that address is programmed with bit 0 inverted.
    WriteResult write(std::uint32_t AAddr, std::span<const std::uint8_t> ABytes,
                      const WriteScope& AScope, std::optional<std::uint32_t> AFlipBitAt);

    // Erases the flash segment holding AAddr. False when AAddr is not in erasable flash
    // (info A counts as not erasable while locked).
    bool eraseSegment(std::uint32_t AAddr);
    void massErase();  // all main flash; info memory is kept

    bool infoALocked() const { return FInfoALocked; }
    void setInfoALocked(bool ALocked) { FInfoALocked = ALocked; }

    // True when every byte of the range has been written into RAM since power-up.
    bool ramWritten(std::uint32_t AAddr, std::size_t ALength) const;
    void clearPeripherals();

private:
    std::vector<std::uint8_t> FBytes;
    std::vector<bool> FRamWritten;
    bool FInfoALocked = true;
};

}  // namespace sim
