#include "VirtualClock.h"

#include <algorithm>

namespace sim {

void VirtualClock::reportToDevice()
{
    if (!FRealistic)
        return;
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
