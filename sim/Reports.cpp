#include "Reports.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

ParsedReport parseReport(const Report& AReport)
{
    ParsedReport parsed;
    if (AReport[0] != kReportId)
        return parsed;
    const std::size_t length = AReport[1];
    if (length > kMaxCoreBytes) {
        parsed.kind = ParsedReport::Kind::Oversize;
        return parsed;
    }
    parsed.kind = ParsedReport::Kind::Command;
    parsed.core.assign(AReport.begin() + 2, AReport.begin() + 2 + length);
    return parsed;
}

Report frameReport(std::span<const std::uint8_t> ACore)
{
    if (ACore.size() > kMaxCoreBytes)
        throw std::length_error("core answer larger than one report");
    Report report;
    report.fill(kPadding);
    report[0] = kReportId;
    report[1] = static_cast<std::uint8_t>(ACore.size());
    std::copy(ACore.begin(), ACore.end(), report.begin() + 2);
    return report;
}

}  // namespace sim
