#include "SyncObjs.h"

#include <chrono>

TEvent::TEvent(bool AManualReset, bool AInitialState)
    : FManualReset(AManualReset), FSignalled(AInitialState)
{
}

TWaitResult TEvent::WaitFor(std::uint32_t ATimeout)
{
    std::unique_lock<std::mutex> lock(FLock);
    const auto signalled = [this] { return FSignalled; };
    if (ATimeout == INFINITE)
        FChanged.wait(lock, signalled);
    else if (!FChanged.wait_for(lock, std::chrono::milliseconds(ATimeout), signalled))
        return TWaitResult::wrTimeout;
    if (!FManualReset)
        FSignalled = false;
    return TWaitResult::wrSignaled;
}

void TEvent::SetEvent()
{
    std::lock_guard<std::mutex> guard(FLock);
    FSignalled = true;
    // Under the lock: the event may be destroyed by a waiter as soon as the lock is free.
    FChanged.notify_all();
}

void TEvent::ResetEvent()
{
    std::lock_guard<std::mutex> guard(FLock);
    FSignalled = false;
}
