#include "Threading.h"

#include <QThreadPool>

ITask TTask::Run(TProc AProc)
{
    auto task = std::make_shared<TTask>(std::move(AProc));
    // The pool holds the task until the procedure has ended.
    QThreadPool::globalInstance()->start([task] { task->Execute(); });
    return task;
}

void TTask::Execute()
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        FStatus = TTaskStatus::Running;
    }
    std::exception_ptr error;
    try {
        FProc();
    } catch (...) {
        error = std::current_exception();
    }
    // The procedure's captures go on the worker, before anyone learns that it has ended.
    FProc = nullptr;
    std::lock_guard<std::mutex> guard(FLock);
    FException = error;
    FStatus = error ? TTaskStatus::Exception : TTaskStatus::Completed;
    FEnded.notify_all();
}

TTaskStatus TTask::Status() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return FStatus;
}

bool TTask::Wait(std::chrono::milliseconds ATimeout)
{
    std::unique_lock<std::mutex> lock(FLock);
    if (!FEnded.wait_for(lock, ATimeout, [this] {
            return FStatus == TTaskStatus::Completed || FStatus == TTaskStatus::Exception;
        }))
        return false;
    if (FException)
        std::rethrow_exception(FException);
    return true;
}
