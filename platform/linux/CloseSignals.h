#pragma once
// SIGTERM (a logout, a shutdown, `kill`), SIGINT (Ctrl+C) and SIGHUP (the terminal went away)
// as close requests on the main loop instead of an end at once: an update cut short leaves
// the device half programmed. The handler only writes the signal's number into a pipe; a
// socket notifier reads it on the thread that made the object and calls AOnSignal there.
// While the object lives it takes these signals for the whole process; the dispositions it
// found are put back when it goes. One object at a time.

#include <QString>

#include <csignal>
#include <functional>
#include <memory>

class QSocketNotifier;

class TCloseSignals {
public:
    explicit TCloseSignals(std::function<void(int ASignal)> AOnSignal);
    ~TCloseSignals();
    TCloseSignals(const TCloseSignals&) = delete;
    TCloseSignals& operator=(const TCloseSignals&) = delete;

    // Whether the signals are taken (false when the pipe could not be made: they then end
    // the program as before, and the log says why).
    bool Active() const { return FNotifier != nullptr; }

    // "SIGTERM", "SIGINT", "SIGHUP", else "signal N".
    static QString Name(int ASignal);

private:
    void Drain();

    static constexpr int cSignals[] = {SIGTERM, SIGINT, SIGHUP};
    std::function<void(int)> FOnSignal;
    int FReadFd = -1;
    int FWriteFd = -1;
    std::unique_ptr<QSocketNotifier> FNotifier;
    struct sigaction FPrevious[std::size(cSignals)] = {};
};
