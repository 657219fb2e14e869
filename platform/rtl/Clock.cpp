#include "Clock.h"

#include <atomic>
#include <thread>

namespace {

class TSteadyClock : public IClock {
public:
    std::chrono::nanoseconds Now() override
    {
        return std::chrono::steady_clock::now().time_since_epoch();
    }
    void Sleep(std::chrono::milliseconds AWait) override
    {
        if (AWait.count() == 0)
            std::this_thread::yield();
        else
            std::this_thread::sleep_for(AWait);
    }
};

TSteadyClock SteadyClock;
std::atomic<IClock*> Current{&SteadyClock};

}  // namespace

IClock& CurrentClock()
{
    return *Current.load();
}

TClockOverride::TClockOverride(IClock& AClock) : FPrevious(Current.exchange(&AClock)) {}

TClockOverride::~TClockOverride()
{
    Current.store(FPrevious);
}

std::chrono::nanoseconds TTestClock::Now()
{
    std::lock_guard lock(FMutex);
    return FNow;
}

void TTestClock::Sleep(std::chrono::milliseconds AWait)
{
    std::function<void(std::chrono::milliseconds)> onSleep;
    {
        std::lock_guard lock(FMutex);
        FNow += AWait;
        FWaits.push_back(AWait);
        onSleep = FOnSleep;
    }
    if (onSleep)
        onSleep(AWait);
}

void TTestClock::Advance(std::chrono::nanoseconds AStep)
{
    std::lock_guard lock(FMutex);
    FNow += AStep;
}

std::vector<std::chrono::milliseconds> TTestClock::Waits() const
{
    std::lock_guard lock(FMutex);
    return FWaits;
}

void TTestClock::SetOnSleep(std::function<void(std::chrono::milliseconds)> AOnSleep)
{
    std::lock_guard lock(FMutex);
    FOnSleep = std::move(AOnSleep);
}

void Sleep(quint32 AMilliseconds)
{
    CurrentClock().Sleep(std::chrono::milliseconds(AMilliseconds));
}

void TStopwatch::Reset()
{
    FElapsed = std::chrono::nanoseconds(0);
    FRunning = false;
}

void TStopwatch::Start()
{
    if (FRunning)
        return;
    FStart = CurrentClock().Now();
    FRunning = true;
}

void TStopwatch::Stop()
{
    if (!FRunning)
        return;
    FElapsed += CurrentClock().Now() - FStart;
    FRunning = false;
}

TTimeSpan TStopwatch::Elapsed() const
{
    std::chrono::nanoseconds elapsed = FElapsed;
    if (FRunning)
        elapsed += CurrentClock().Now() - FStart;
    return TTimeSpan(elapsed.count() / 100);
}
