#include "Thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QtGlobal>

#include <pthread.h>

#include <deque>
#include <system_error>

namespace {

struct TSyncEntry {
    TSyncEntry(TThread* AThread, std::function<void()> AMethod, bool ASynchronous)
        : Thread(AThread), Method(std::move(AMethod)), Synchronous(ASynchronous) {}

    TThread* Thread;
    std::function<void()> Method;
    bool Synchronous;
    // Synchronous entries only: the caller waits for Finished.
    std::mutex Lock;
    std::condition_variable Done;
    bool Finished = false;
    std::exception_ptr Error;
};

// One queue for every hand-off keeps them in the order they were made. FChanged also wakes
// a main thread that waits for a thread to finish while serving the queue.
struct TSyncQueue {
    std::mutex Lock;
    std::deque<std::shared_ptr<TSyncEntry>> Entries;
    std::condition_variable Changed;
};

TSyncQueue& SyncQueue()
{
    // Never destroyed: threads may hand over closures while the program ends.
    static TSyncQueue* queue = new TSyncQueue;
    return *queue;
}

// The thread that runs the static initialisers: the main thread while no application exists.
const std::thread::id InitialThreadId = std::this_thread::get_id();

void Post(std::shared_ptr<TSyncEntry> AEntry)
{
    TSyncQueue& queue = SyncQueue();
    {
        std::lock_guard<std::mutex> guard(queue.Lock);
        queue.Entries.push_back(std::move(AEntry));
    }
    queue.Changed.notify_all();
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
}

void RunEntry(TSyncEntry& AEntry)
{
    if (AEntry.Synchronous) {
        std::exception_ptr error;
        try {
            AEntry.Method();
        } catch (...) {
            error = std::current_exception();
        }
        {
            // Moved, not copied: from here on only the waiting caller holds the exception.
            std::lock_guard<std::mutex> guard(AEntry.Lock);
            AEntry.Error = std::move(error);
            AEntry.Finished = true;
            AEntry.Done.notify_all();
        }
        return;
    }
    // Nobody waits for a queued closure: its failure can only be reported.
    try {
        AEntry.Method();
    } catch (const Exception& e) {
        qWarning("Exception in a queued call: %s", qUtf8Printable(e.Message()));
    } catch (const std::exception& e) {
        qWarning("Exception in a queued call: %s", e.what());
    } catch (...) {
        qWarning("Exception in a queued call");
    }
}

}  // namespace

bool CheckSynchronize()
{
    if (!TThread::IsMainThread())
        return false;
    TSyncQueue& queue = SyncQueue();
    bool ran = false;
    for (;;) {
        std::shared_ptr<TSyncEntry> entry;
        {
            std::lock_guard<std::mutex> guard(queue.Lock);
            if (queue.Entries.empty())
                break;
            entry = std::move(queue.Entries.front());
            queue.Entries.pop_front();
        }
        ran = true;
        RunEntry(*entry);
    }
    return ran;
}

bool TThread::IsMainThread()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        return QThread::currentThread() == app->thread();
    return std::this_thread::get_id() == InitialThreadId;
}

void TThread::Synchronize(TThread* AThread, std::function<void()> AMethod)
{
    if (!AMethod)
        return;
    if (IsMainThread()) {
        AMethod();
        return;
    }
    auto entry = std::make_shared<TSyncEntry>(AThread, std::move(AMethod), true);
    Post(entry);
    std::exception_ptr error;
    {
        std::unique_lock<std::mutex> lock(entry->Lock);
        entry->Done.wait(lock, [&] { return entry->Finished; });
        // Taken out under the lock: the exception is this thread's alone, so the main thread's
        // release of the entry cannot free it while this thread still handles it.
        error = std::move(entry->Error);
    }
    if (error)
        std::rethrow_exception(std::move(error));
}

void TThread::Queue(TThread* AThread, std::function<void()> AMethod)
{
    if (!AMethod)
        return;
    if (IsMainThread()) {
        AMethod();
        return;
    }
    Post(std::make_shared<TSyncEntry>(AThread, std::move(AMethod), false));
}

void TThread::RemoveQueuedEvents(TThread* AThread)
{
    if (!AThread)
        return;
    TSyncQueue& queue = SyncQueue();
    std::lock_guard<std::mutex> guard(queue.Lock);
    std::erase_if(queue.Entries, [AThread](const std::shared_ptr<TSyncEntry>& entry) {
        return !entry->Synchronous && entry->Thread == AThread;
    });
}

TThread::~TThread()
{
    if (FStarted) {
        if (FThread.get_id() == std::this_thread::get_id()) {
            // FreeOnTerminate: the thread deletes its own object on its way out.
            FThread.detach();
        } else {
            // Only the base parts are left: the base TerminatedSet is all that can run.
            if (!FFinished) {
                Terminate();
                WaitFor();
            }
            FThread.join();
        }
    }
    RemoveQueuedEvents(this);
}

void TThread::BeforeDestruction()
{
    if (FStarted && !FFinished && FThread.get_id() != std::this_thread::get_id()) {
        Terminate();
        WaitFor();
    }
}

void TThread::Free()
{
    BeforeDestruction();
    delete this;
}

void TThread::AfterConstruction()
{
    std::lock_guard<std::mutex> guard(FLock);
    if (FStarted)
        return;
    try {
        FThread = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        throw EThread(Format(QStringLiteral("Thread creation error: %s"), {QString::fromLocal8Bit(e.what())}));
    }
    FStarted = true;
}

void TThread::Run()
{
    {
        // Wait until AfterConstruction has stored FThread.
        std::lock_guard<std::mutex> guard(FLock);
    }
    std::exception_ptr fatal;
    try {
        Execute();
    } catch (...) {
        fatal = std::current_exception();
    }
    try {
        DoTerminate();
    } catch (...) {
        if (!fatal)
            fatal = std::current_exception();
    }
    const bool freeIt = FFreeOnTerminate;
    {
        std::lock_guard<std::mutex> guard(FLock);
        FFatalException = std::move(fatal);
        FFinished = true;
        FFinishedChanged.notify_all();
    }
    {
        TSyncQueue& queue = SyncQueue();
        std::lock_guard<std::mutex> guard(queue.Lock);
        queue.Changed.notify_all();
    }
    if (freeIt)
        delete this;
}

void TThread::SetOnTerminate(std::function<void(TObject* Sender)> AValue)
{
    std::lock_guard<std::mutex> guard(FLock);
    FOnTerminate = std::move(AValue);
}

void TThread::DoTerminate()
{
    std::function<void(TObject*)> handler;
    {
        std::lock_guard<std::mutex> guard(FLock);
        handler = FOnTerminate;
    }
    if (handler)
        Synchronize(this, [this, &handler] { handler(this); });
}

void TThread::Terminate()
{
    FTerminated = true;
    TerminatedSet();
}

void TThread::WaitFor()
{
    if (!FStarted)
        return;
    if (FThread.get_id() == std::this_thread::get_id())
        throw EThread(QStringLiteral("A thread cannot wait for itself"));
    if (IsMainThread()) {
        // Keep serving hand-offs, or a thread blocked in Synchronize would never finish.
        TSyncQueue& queue = SyncQueue();
        while (!FFinished) {
            CheckSynchronize();
            std::unique_lock<std::mutex> lock(queue.Lock);
            queue.Changed.wait(lock, [&] { return FFinished || !queue.Entries.empty(); });
        }
        return;
    }
    std::unique_lock<std::mutex> lock(FLock);
    FFinishedChanged.wait(lock, [&] { return FFinished.load(); });
}

std::exception_ptr TThread::FatalException() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return FFatalException;
}

void TThread::NameThreadForDebugging(const QString& AThreadName)
{
    // The kernel keeps 15 bytes; cut on a character boundary.
    QByteArray name = AThreadName.toUtf8();
    if (name.size() > 15) {
        qsizetype end = 15;
        while (end > 0 && (static_cast<unsigned char>(name.at(end)) & 0xC0) == 0x80)
            --end;
        name.truncate(end);
    }
    pthread_setname_np(pthread_self(), name.constData());
}
