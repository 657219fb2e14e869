#pragma once
// Sleep and TStopwatch over one clock. The steady clock serves by default; a test can put a
// TTestClock in its place for a while (TClockOverride), whose Sleep returns at once, moves
// its time on by the wait and records the wait.

#include <QtGlobal>

#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

class IClock {
public:
    virtual ~IClock() = default;
    // Monotonic time since an arbitrary origin.
    virtual std::chrono::nanoseconds Now() = 0;
    virtual void Sleep(std::chrono::milliseconds AWait) = 0;
};

// The clock in use at the moment.
IClock& CurrentClock();

// Puts AClock in use for its lifetime, then restores the one before (not thread-aware:
// make and drop it while no other thread sleeps or times).
class TClockOverride {
public:
    explicit TClockOverride(IClock& AClock);
    ~TClockOverride();
    TClockOverride(const TClockOverride&) = delete;
    TClockOverride& operator=(const TClockOverride&) = delete;

private:
    IClock* FPrevious;
};

// Virtual time for tests. Safe to use from several threads.
class TTestClock : public IClock {
public:
    std::chrono::nanoseconds Now() override;
    // Advances the time by AWait, records it, then calls the hook (which may throw).
    void Sleep(std::chrono::milliseconds AWait) override;

    void Advance(std::chrono::nanoseconds AStep);
    std::vector<std::chrono::milliseconds> Waits() const;
    void SetOnSleep(std::function<void(std::chrono::milliseconds)> AOnSleep);

private:
    mutable std::mutex FMutex;
    std::chrono::nanoseconds FNow{0};
    std::vector<std::chrono::milliseconds> FWaits;
    std::function<void(std::chrono::milliseconds)> FOnSleep;
};

// Suspends the calling thread for AMilliseconds (0 only yields).
void Sleep(quint32 AMilliseconds);

// A time interval in 100 ns ticks, with the components a stopwatch reading is shown by.
class TTimeSpan {
public:
    static constexpr qint64 TicksPerMillisecond = 10000;
    static constexpr qint64 TicksPerSecond = 1000 * TicksPerMillisecond;

    constexpr explicit TTimeSpan(qint64 ATicks = 0) : FTicks(ATicks) {}
    // The seconds within the minute (0 to 59) and the milliseconds within the second.
    constexpr int Seconds() const { return int((FTicks / TicksPerSecond) % 60); }
    constexpr int Milliseconds() const { return int((FTicks / TicksPerMillisecond) % 1000); }

private:
    qint64 FTicks;
};

// Accumulates the time between Start and Stop; zero and stopped when made.
class TStopwatch {
public:
    static TStopwatch Create() { return TStopwatch(); }

    void Reset();
    void Start();
    void Stop();
    TTimeSpan Elapsed() const;

private:
    std::chrono::nanoseconds FElapsed{0};
    std::chrono::nanoseconds FStart{0};
    bool FRunning = false;
};
