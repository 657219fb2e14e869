#pragma once
// The timing model: a virtual clock of the host's time, with datasheet figures. The device
// has one OUT endpoint buffer, so the next report can travel while the device still works
// on the previous one; it can not be taken in before the device has emptied the buffer.
// Nothing really waits. In Timing::Instant the clock stays at 0. In Timing::RealTime the
// clock starts at the model's creation and the host's time never lags the real time passed,
// so pauses of the host count; the device's front end holds each answer back until its time.

#include "Analyzer.h"

#include <chrono>
#include <cstdint>

namespace sim {

constexpr std::uint64_t kReportMicros = 1000;           // one full-speed frame
constexpr std::uint64_t kEraseMicros = 25000;           // segment or mass erase
constexpr std::uint64_t kWordMicros = 75;               // programming one flash word
constexpr std::uint64_t kCrcByteMicros = 1;             // CRC on the device
constexpr std::uint64_t kReenumerationMicros = 1000000; // dropping off and coming back

class VirtualClock {
public:
    explicit VirtualClock(Timing ATiming)
        : FRealistic(ATiming != Timing::Instant), FRealTime(ATiming == Timing::RealTime)
    {
    }

    // The host sends one OUT report; the host's write returns when it has arrived.
    void reportToDevice();
    // The device works on the report that arrived last for AMicros.
    void process(std::uint64_t AMicros);
    // The device answers with one IN report once it is done; the host waits for it.
    void reportToHost();
    // The device drops off the bus after its work and enumerates again.
    void reenumerate();

    std::uint64_t now() const { return FHost; }
    // When the device has emptied its OUT buffer for the next report.
    std::uint64_t bufferFree() const { return FBufferFree; }
    // Whether the host's clock has come to a moment of this one (always, but in real time).
    bool reached(std::uint64_t AMicros) const;
    // A moment of this clock on the host's clock.
    std::chrono::steady_clock::time_point at(std::uint64_t AMicros) const;

private:
    bool FRealistic;
    bool FRealTime;
    std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
    std::uint64_t FHost = 0;         // the host's time
    std::uint64_t FArrived = 0;      // when the last OUT report arrived
    std::uint64_t FBufferFree = 0;   // when the device took the last report out of the buffer
    std::uint64_t FBusyUntil = 0;    // when the device finishes its current work
};

}  // namespace sim
