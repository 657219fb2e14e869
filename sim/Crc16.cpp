#include "Crc16.h"

namespace sim {

std::uint16_t crc16(std::span<const std::uint8_t> AData, std::uint16_t ACrc)
{
    // Polynomial 0x1021, MSB first, no reflection, no final xor.
    for (std::uint8_t b : AData) {
        ACrc ^= static_cast<std::uint16_t>(b) << 8;
        for (int i = 0; i < 8; ++i)
            ACrc = (ACrc & 0x8000) ? static_cast<std::uint16_t>((ACrc << 1) ^ 0x1021)
                                   : static_cast<std::uint16_t>(ACrc << 1);
    }
    return ACrc;
}

}  // namespace sim
