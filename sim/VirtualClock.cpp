#include "VirtualClock.h"

#include <algorithm>

namespace sim {

bool VirtualClock::reached(std::uint64_t AMicros) const
{
    return !FRealTime || std::chrono::steady_clock::now() >= at(AMicros);
}

std::chrono::steady_clock::time_point VirtualClock::at(std::uint64_t AMicros) const
{
    return FStart + std::chrono::microseconds(AMicros);
}

void VirtualClock::reportToDevice()
{
    if (!FRealistic)
        return;
    if (FRealTime) {
        const auto real = std::chrono::duration_cast<std::chrono::microseconds>(
            std::chrono::steady_clock::now() - FStart);
        FHost = std::max(FHost, static_cast<std::uint64_t>(real.count()));
    }
    FArrived = std::max(FHost, FBufferFree) + kReportMicros;
    FHost = FArrived;
}

void VirtualClock::process(std::uint64_t AMicros)
{
    if (!FRealistic)
        return;
    const std::uint64_t start = std::max(FArrived, FBusyUntil);
    FBufferFree = start;
    FBusyUntil = start + AMicros;
}

void VirtualClock::reportToHost()
{
    if (!FRealistic)
        return;
    FHost = std::max(FHost, FBusyUntil) + kReportMicros;
    FBusyUntil = std::max(FBusyUntil, FHost);
}

void VirtualClock::reenumerate()
{
    if (!FRealistic)
        return;
    FHost = std::max(FHost, FBusyUntil) + kReenumerationMicros;
    FArrived = FBufferFree = FBusyUntil = FHost;
}

}  // namespace sim
