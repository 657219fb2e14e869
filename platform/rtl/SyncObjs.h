#pragma once
// The run-time's synchronisation objects: an event that a thread waits on until another
// signals it.

#include <condition_variable>
#include <cstdint>
#include <mutex>

constexpr std::uint32_t INFINITE = 0xFFFFFFFF;

enum class TWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError, wrIOCompletion };

// A manual-reset event stays signalled until ResetEvent; an automatic one lets exactly one
// waiter through per SetEvent.
class TEvent {
public:
    TEvent(bool AManualReset, bool AInitialState);
    virtual ~TEvent() = default;
    TEvent(const TEvent&) = delete;
    TEvent& operator=(const TEvent&) = delete;

    // Waits until the event is signalled, at most ATimeout milliseconds (INFINITE: no limit).
    TWaitResult WaitFor(std::uint32_t ATimeout = INFINITE);
    // Signals; an event already signalled stays so.
    void SetEvent();
    void ResetEvent();

private:
    const bool FManualReset;
    bool FSignalled;
    std::mutex FLock;
    std::condition_variable FChanged;
};

// A manual-reset event, created not signalled.
class TSimpleEvent : public TEvent {
public:
    TSimpleEvent() : TEvent(true, false) {}
};
