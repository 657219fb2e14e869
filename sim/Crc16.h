#pragma once
// CRC-16/CCITT-FALSE as the boot loader's CRC Check computes it.

#include <cstdint>
#include <span>

namespace sim {

constexpr std::uint16_t kCrcInit = 0xFFFF;

std::uint16_t crc16(std::span<const std::uint8_t> AData, std::uint16_t ACrc = kCrcInit);

}  // namespace sim
