#pragma once
// The run-time's thread.
//
// A thread is created running: make it with TThread::Create<T>(arguments), which constructs
// the object and then calls AfterConstruction(), where the operating-system thread starts.
// Starting there (and not in TThread's constructor) means Execute never runs on a half-built
// object. Code that uses `new T(...)` must call AfterConstruction() itself.
//
// On the thread: Execute(), then DoTerminate(). An exception that leaves Execute ends the
// thread quietly and is kept in FatalException(). When FreeOnTerminate is set, the object
// deletes itself after DoTerminate; nobody may touch it (or WaitFor it) after that.
// Otherwise its owner frees it with Free() (or holds it in a TThreadPtr): BeforeDestruction
// terminates the thread and waits for it while the object is still whole, so the derived
// TerminatedSet and Execute see intact members. Plain `delete` is for threads that have
// finished: by the time TThread's destructor could wait, the derived parts are gone.
//
// Hand-offs to the main thread: Synchronize (waits; an exception of the closure comes back
// to the caller) and Queue (does not wait). Both go through one queue that the main thread's
// Qt event loop drains (QMetaObject::invokeMethod on qApp), so closures run one at a time in
// the order they were handed over. On the main thread both run the closure at once. A main
// thread that waits (WaitFor) keeps running handed-over closures meanwhile, so a worker
// blocked in Synchronize cannot deadlock it. Without a QCoreApplication, closures wait until
// the main thread calls CheckSynchronize.

#include <rtl/SysUtils.h>
#include <rtl/System.h>

#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

class EThread : public Exception {
public:
    using Exception::Exception;
};

class TThread;

struct TThreadDeleter {
    void operator()(TThread* AThread) const;
};

// An owned thread that is freed with Free().
template <class T>
using TThreadPtr = std::unique_ptr<T, TThreadDeleter>;

class TThread : public TObject {
public:
    ~TThread() override;
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    template <class T, class... TArgs>
    static T* Create(TArgs&&... AArgs)
    {
        TThreadPtr<T> thread(new T(std::forward<TArgs>(AArgs)...));
        thread->AfterConstruction();
        return thread.release();
    }

    // Starts the operating-system thread; raises EThread when it cannot be started.
    virtual void AfterConstruction();
    // Terminates a running thread and waits for it (not when called on the thread itself).
    virtual void BeforeDestruction();
    // BeforeDestruction, then delete.
    void Free();

    // Sets Terminated, then calls TerminatedSet (on the calling thread).
    void Terminate();
    // Waits until Execute and DoTerminate have returned.
    void WaitFor();

    // Called when Execute has returned, on the main thread through Synchronize, before a
    // FreeOnTerminate thread frees itself. May be set until Terminate is called.
    void SetOnTerminate(std::function<void(TObject* Sender)> AValue);

    bool FreeOnTerminate() const { return FFreeOnTerminate; }
    void SetFreeOnTerminate(bool AValue) { FFreeOnTerminate = AValue; }
    bool Finished() const { return FFinished; }
    std::exception_ptr FatalException() const;

    // Names the calling thread for debuggers and the log (at most 15 bytes reach the system).
    static void NameThreadForDebugging(const QString& AThreadName);

    static void Synchronize(TThread* AThread, std::function<void()> AMethod);
    static void Queue(TThread* AThread, std::function<void()> AMethod);
    // Drops closures queued by AThread that have not run yet.
    static void RemoveQueuedEvents(TThread* AThread);

    static bool IsMainThread();

protected:
    TThread() = default;

    virtual void Execute() = 0;
    // Runs OnTerminate.
    virtual void DoTerminate();
    virtual void TerminatedSet() {}

    bool Terminated() const { return FTerminated; }

    void Synchronize(std::function<void()> AMethod) { Synchronize(this, std::move(AMethod)); }
    void Queue(std::function<void()> AMethod) { Queue(this, std::move(AMethod)); }

private:
    void Run();

    std::thread FThread;
    std::atomic<bool> FStarted{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFreeOnTerminate{false};
    std::atomic<bool> FFinished{false};
    mutable std::mutex FLock;
    std::condition_variable FFinishedChanged;
    std::exception_ptr FFatalException;
    std::function<void(TObject*)> FOnTerminate;
};

inline void TThreadDeleter::operator()(TThread* AThread) const
{
    AThread->Free();
}

// Runs the closures handed over to the main thread so far; call it on the main thread only.
// Returns whether any ran.
bool CheckSynchronize();
