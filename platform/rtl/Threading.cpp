#include "Threading.h"

#include <QThreadPool>

#include <deque>

namespace {

// Tasks wait here for a pool worker. The pool is given runnables that carry nothing: each
// takes the oldest task from this queue, so the hand-over is under our own lock.
struct TTaskQueue {
    std::mutex Lock;
    std::deque<ITask> Tasks;
};

TTaskQueue& Queue()
{
    // Never destroyed: pool workers may still take from it while the program ends.
    static TTaskQueue* queue = new TTaskQueue;
    return *queue;
}

}  // namespace

ITask TTask::Run(TProc AProc)
{
    auto task = std::make_shared<TTask>(std::move(AProc));
    {
        std::lock_guard<std::mutex> guard(Queue().Lock);
        Queue().Tasks.push_back(task);
    }
    QThreadPool::globalInstance()->start([] {
        ITask next;
        {
            std::lock_guard<std::mutex> guard(Queue().Lock);
            next = std::move(Queue().Tasks.front());
            Queue().Tasks.pop_front();
        }
        next->Execute();
    });
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
