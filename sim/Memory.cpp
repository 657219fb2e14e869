#include "Memory.h"

#include "Messages.h"

#include <algorithm>

namespace sim {

Area areaOf(std::uint32_t AAddr)
{
    if (AAddr <= kPeripheralEnd)
        return Area::Peripheral;
    if (AAddr >= kBslFlashStart && AAddr <= kBslFlashEnd)
        return Area::BslFlash;
    if (AAddr >= kInfoStart && AAddr <= kInfoEnd)
        return Area::Info;
    if (AAddr >= kRamStart && AAddr <= kRamEnd)
        return Area::Ram;
    if (AAddr >= kMainStart && AAddr <= kMainEnd)
        return Area::MainFlash;
    return Area::Vacant;
}

namespace {

bool isFlash(Area AArea) { return AArea == Area::Info || AArea == Area::MainFlash; }

}  // namespace

Memory::Memory()
    : FBytes(kAddressSpace, 0xFF), FRamWritten(kRamEnd - kRamStart + 1, false)
{
    std::fill(FBytes.begin() + kPeripheralStart, FBytes.begin() + kPeripheralEnd + 1, 0x00);
    std::fill(FBytes.begin() + kRamStart, FBytes.begin() + kRamEnd + 1, 0x00);
}

std::uint8_t Memory::peek(std::uint32_t AAddr) const
{
    return AAddr < kAddressSpace ? FBytes[AAddr] : 0xFF;
}

std::vector<std::uint8_t> Memory::read(std::uint32_t AAddr, std::size_t ALength) const
{
    std::vector<std::uint8_t> out(ALength);
    for (std::size_t i = 0; i < ALength; ++i)
        out[i] = peek(static_cast<std::uint32_t>(AAddr + i));
    return out;
}

void Memory::load(std::uint32_t AAddr, std::span<const std::uint8_t> ABytes)
{
    for (std::size_t i = 0; i < ABytes.size(); ++i) {
        const std::uint64_t a = std::uint64_t(AAddr) + i;
        if (a >= kAddressSpace)
            break;
        FBytes[a] = ABytes[i];
        if (areaOf(static_cast<std::uint32_t>(a)) == Area::Ram)
            FRamWritten[a - kRamStart] = true;
    }
}

WriteResult Memory::write(std::uint32_t AAddr, std::span<const std::uint8_t> ABytes,
                          const WriteScope& AScope, std::optional<std::uint32_t> AFlipBitAt)
{
    WriteResult result;
    std::optional<std::uint32_t> lastWord;  // the bytes are consecutive
    auto fail = [&](std::uint8_t AMessage) {
        if (result.message == msg::kSuccess)
            result.message = AMessage;
    };
    for (std::size_t i = 0; i < ABytes.size(); ++i) {
        const std::uint64_t wide = std::uint64_t(AAddr) + i;
        const auto a = static_cast<std::uint32_t>(wide);
        const Area area = wide < kAddressSpace ? areaOf(a) : Area::Vacant;
        const std::uint8_t wanted = ABytes[i];
        switch (area) {
        case Area::Peripheral:
            if (!AScope.peripherals) { fail(msg::kWriteCheckFailed); break; }
            FBytes[a] = wanted;
            break;
        case Area::Ram:
            if (!AScope.ram) { fail(msg::kWriteCheckFailed); break; }
            FBytes[a] = wanted;
            FRamWritten[a - kRamStart] = true;
            break;
        case Area::Info:
        case Area::MainFlash: {
            if (!AScope.flash) { fail(msg::kWriteCheckFailed); break; }
            if (area == Area::Info && a >= kInfoAStart && FInfoALocked) {
                fail(msg::kFlashFailBit);  // the controller refuses a locked segment
                break;
            }
            std::uint8_t programmed = wanted;
            if (AFlipBitAt && *AFlipBitAt == a)
                programmed ^= 0x01;
            FBytes[a] &= programmed;
            if (lastWord != (a >> 1)) {
                lastWord = a >> 1;
                ++result.programmedWords;
            }
            if (FBytes[a] != wanted)
                fail(msg::kWriteCheckFailed);
            break;
        }
        case Area::BslFlash:
        case Area::Vacant:
            fail(msg::kWriteCheckFailed);
            break;
        }
    }
    return result;
}

bool Memory::eraseSegment(std::uint32_t AAddr)
{
    const Area area = areaOf(AAddr);
    if (!isFlash(area))
        return false;
    const std::uint32_t size = area == Area::MainFlash ? kMainSegment : kInfoSegment;
    const std::uint32_t base = AAddr & ~(size - 1);
    if (area == Area::Info && base >= kInfoAStart && FInfoALocked)
        return false;
    std::fill(FBytes.begin() + base, FBytes.begin() + base + size, 0xFF);
    return true;
}

void Memory::massErase()
{
    std::fill(FBytes.begin() + kMainStart, FBytes.begin() + kMainEnd + 1, 0xFF);
}

bool Memory::ramWritten(std::uint32_t AAddr, std::size_t ALength) const
{
    for (std::size_t i = 0; i < ALength; ++i) {
        const std::uint64_t a = std::uint64_t(AAddr) + i;
        if (a < kRamStart || a > kRamEnd || !FRamWritten[a - kRamStart])
            return false;
    }
    return true;
}

void Memory::clearPeripherals()
{
    std::fill(FBytes.begin() + kPeripheralStart, FBytes.begin() + kPeripheralEnd + 1, 0x00);
}

}  // namespace sim
