#pragma once
// HID report framing: byte 0 the report id 0x3F, byte 1 the core length NL, then the core
// command or answer, then padding to 64 bytes.

#include "Analyzer.h"

#include <span>
#include <vector>

namespace sim {

constexpr std::uint8_t kReportId = 0x3F;
constexpr std::size_t kMaxCoreBytes = kReportSize - 2;  // 62
constexpr std::uint8_t kPadding = 0xAC;

struct ParsedReport {
    enum class Kind {
        Foreign,   // another report id: not for the boot loader
        Oversize,  // NL larger than a report can carry
        Command,
    };
    Kind kind = Kind::Foreign;
    std::vector<std::uint8_t> core;
};

ParsedReport parseReport(const Report& AReport);
// Frames one core answer (at most 62 bytes).
Report frameReport(std::span<const std::uint8_t> ACore);

}  // namespace sim
