#pragma once
// The task library: TTask::Run starts a procedure on a worker of the global thread pool.
//
// An exception that escapes the procedure stays with the task; only Wait reports it. The
// pool's workers outlive the task objects: dropping the returned ITask at once is fine.

#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

enum class TTaskStatus { WaitingToRun, Running, Completed, Exception };

class TTask {
public:
    using TProc = std::function<void()>;

    static std::shared_ptr<TTask> Run(TProc AProc);

    TTaskStatus Status() const;
    // Waits at most ATimeout for the procedure to end. False when it has not ended by then;
    // raises the procedure's exception when it ended with one.
    bool Wait(std::chrono::milliseconds ATimeout);

    explicit TTask(TProc AProc) : FProc(std::move(AProc)) {}

private:
    void Execute();

    TProc FProc;
    mutable std::mutex FLock;
    std::condition_variable FEnded;
    TTaskStatus FStatus = TTaskStatus::WaitingToRun;
    std::exception_ptr FException;
};

using ITask = std::shared_ptr<TTask>;
