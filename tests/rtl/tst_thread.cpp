#include <rtl/Thread.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <sys/prctl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>

using namespace std::chrono_literals;

namespace {

// A thread whose Execute is a closure; records where and in which order things happen.
class TProbeThread : public TThread {
public:
    explicit TProbeThread(std::function<void(TProbeThread&)> ABody, std::atomic<bool>* ADestroyed = nullptr)
        : FBody(std::move(ABody)), FDestroyed(ADestroyed) {}
    ~TProbeThread() override
    {
        if (FDestroyed)
            *FDestroyed = true;
    }

    bool IsTerminated() const { return Terminated(); }

    std::function<void(TProbeThread&)> FBody;
    std::atomic<bool>* FDestroyed;
    std::atomic<int> TerminatedSetCalls{0};
    std::thread::id ExecuteThread, DoTerminateThread, TerminatedSetThread;
    std::atomic<bool> ExecuteReturned{false};
    std::atomic<bool> DoTerminateSawExecuteReturned{false};

protected:
    void Execute() override
    {
        ExecuteThread = std::this_thread::get_id();
        if (FBody)
            FBody(*this);
        ExecuteReturned = true;
    }
    void DoTerminate() override
    {
        DoTerminateThread = std::this_thread::get_id();
        DoTerminateSawExecuteReturned = ExecuteReturned.load();
    }
    void TerminatedSet() override
    {
        TerminatedSetThread = std::this_thread::get_id();
        ++TerminatedSetCalls;
    }
};

// Waits until it is terminated; the platform's own DoTerminate runs after it.
class TWaitingThread : public TThread {
public:
    TWaitingThread(std::atomic<bool>* AExecuted, std::atomic<bool>* ADestroyed)
        : FExecuted(AExecuted), FDestroyed(ADestroyed) {}
    ~TWaitingThread() override { *FDestroyed = true; }

protected:
    void Execute() override
    {
        while (!Terminated())
            std::this_thread::sleep_for(1ms);
        *FExecuted = true;
    }

private:
    std::atomic<bool>* FExecuted;
    std::atomic<bool>* FDestroyed;
};

// Constructs slowly and only then fills a field that Execute reads.
class TSlowConstructedThread : public TThread {
public:
    TSlowConstructedThread()
    {
        std::this_thread::sleep_for(50ms);
        FReady = 42;
    }
    int Seen = -1;

protected:
    void Execute() override { Seen = FReady; }

private:
    int FReady = 0;
};

void RunEventLoopUntil(const std::function<bool()>& ADone)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ADone())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}

}  // namespace

class TestThread : public QObject {
    Q_OBJECT
private slots:
    void executeThenDoTerminateOnTheThread()
    {
        TThreadPtr<TProbeThread> thread(TThread::Create<TProbeThread>(nullptr));
        thread->WaitFor();
        QVERIFY(thread->Finished());
        QVERIFY(thread->ExecuteThread != std::this_thread::get_id());
        QVERIFY(thread->DoTerminateThread == thread->ExecuteThread);
        QVERIFY(thread->DoTerminateSawExecuteReturned);
    }

    void startsOnlyAfterTheMostDerivedConstructor()
    {
        TThreadPtr<TSlowConstructedThread> thread(TThread::Create<TSlowConstructedThread>());
        thread->WaitFor();
        QCOMPARE(thread->Seen, 42);
    }

    void terminateSetsTerminatedAndCallsTerminatedSet()
    {
        TThreadPtr<TProbeThread> thread(TThread::Create<TProbeThread>([](TProbeThread& self) {
            while (!self.IsTerminated())
                std::this_thread::sleep_for(1ms);
        }));
        QVERIFY(!thread->IsTerminated());
        thread->Terminate();
        QVERIFY(thread->IsTerminated());
        QCOMPARE(thread->TerminatedSetCalls.load(), 1);
        QVERIFY(thread->TerminatedSetThread == std::this_thread::get_id());
        thread->WaitFor();
        QVERIFY(thread->ExecuteReturned);
    }

    void freeOnTerminateDeletesTheObject()
    {
        std::atomic<bool> destroyed{false};
        std::atomic<bool> release{false};
        TProbeThread* thread = TThread::Create<TProbeThread>(
            [&](TProbeThread&) {
                while (!release)
                    std::this_thread::sleep_for(1ms);
            },
            &destroyed);
        thread->SetFreeOnTerminate(true);
        release = true;
        QTRY_VERIFY(destroyed.load());
    }

    // OnTerminate runs on the main thread once Execute has returned, before the object goes.
    void onTerminateRunsOnTheMainThreadBeforeTheRelease()
    {
        std::atomic<bool> destroyed{false};
        std::atomic<bool> executed{false};
        TWaitingThread* thread = TThread::Create<TWaitingThread>(&executed, &destroyed);
        thread->SetFreeOnTerminate(true);
        bool onMain = false;
        bool afterExecute = false;
        bool beforeRelease = false;
        thread->SetOnTerminate([&](TObject* Sender) {
            onMain = QThread::currentThread() == QCoreApplication::instance()->thread();
            afterExecute = executed.load();
            beforeRelease = !destroyed.load() && Sender == thread;
        });
        thread->Terminate();
        QTRY_VERIFY(destroyed.load());
        QVERIFY(onMain);
        QVERIFY(afterExecute);
        QVERIFY(beforeRelease);
    }

    void freeTerminatesThroughTheDerivedTerminatedSetAndWaits()
    {
        // Execute sleeps on a wake-up that only the derived TerminatedSet gives.
        class TSleeper : public TThread {
        public:
            explicit TSleeper(std::atomic<bool>& AFinishedExecute) : FFinishedExecute(AFinishedExecute) {}
            ~TSleeper() override { QVERIFY(FFinishedExecute); }

        protected:
            void Execute() override
            {
                std::unique_lock<std::mutex> lock(FLock);
                FWake.wait(lock, [&] { return FWoken; });
                std::this_thread::sleep_for(10ms);
                FFinishedExecute = true;
            }
            void TerminatedSet() override
            {
                std::lock_guard<std::mutex> guard(FLock);
                FWoken = true;
                FWake.notify_all();
            }

        private:
            std::atomic<bool>& FFinishedExecute;
            std::mutex FLock;
            std::condition_variable FWake;
            bool FWoken = false;
        };
        std::atomic<bool> finishedExecute{false};
        TThread::Create<TSleeper>(finishedExecute)->Free();
        QVERIFY(finishedExecute);
        // Also when the thread has barely started.
        for (int i = 0; i < 20; ++i) {
            finishedExecute = false;
            TThreadPtr<TSleeper> owned(TThread::Create<TSleeper>(finishedExecute));
            owned.reset();
            QVERIFY(finishedExecute);
        }
    }

    void exceptionInExecuteEndsTheThreadQuietly()
    {
        TThreadPtr<TProbeThread> thread(TThread::Create<TProbeThread>(
            [](TProbeThread&) { throw EListError(QStringLiteral("broken")); }));
        thread->WaitFor();
        QVERIFY(thread->FatalException());
        QVERIFY(!thread->ExecuteReturned);
        QVERIFY(thread->DoTerminateThread == thread->ExecuteThread);
        try {
            std::rethrow_exception(thread->FatalException());
        } catch (const EListError& e) {
            QCOMPARE(e.Message(), QStringLiteral("broken"));
        }
    }

    void nameThreadForDebugging_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("short") << "TdvcObserverTh" << "TdvcObserverTh";
        QTest::newRow("cut to 15 bytes") << "TdvcObserverThread" << "TdvcObserverThr";
        QTest::newRow("cut on a character") << "Beobachter-Faden" << "Beobachter-Fade";
        QTest::newRow("multi-byte not split") << QString::fromUtf8("Überwachungsfäden") << QString::fromUtf8("Überwachungsf");
    }
    void nameThreadForDebugging()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QString seen;
        TThreadPtr<TProbeThread> thread(TThread::Create<TProbeThread>([&](TProbeThread&) {
            TThread::NameThreadForDebugging(name);
            char buffer[17] = {};
            prctl(PR_GET_NAME, buffer);
            seen = QString::fromUtf8(buffer);
        }));
        thread->WaitFor();
        QCOMPARE(seen, expected);
    }

    void handOffsRunOnTheMainThreadInTheOrderHandedOver()
    {
        // Several workers mix Queue and Synchronize. Each takes its sequence number and hands
        // the block over under one lock (the main thread never takes it, so holding it across
        // Synchronize cannot deadlock): the main thread must run them strictly in that order.
        constexpr int Workers = 4;
        constexpr int PerWorker = 300;
        std::mutex handOver;
        int next = 0;
        QList<int> ran;
        bool allOnMain = true;
        QThread* mainThread = QThread::currentThread();
        std::vector<TThreadPtr<TProbeThread>> threads;
        for (int w = 0; w < Workers; ++w) {
            threads.emplace_back(TThread::Create<TProbeThread>([&, w](TProbeThread& self) {
                for (int i = 0; i < PerWorker; ++i) {
                    std::lock_guard<std::mutex> lock(handOver);
                    const int seq = next++;
                    auto block = [&, seq] {
                        allOnMain = allOnMain && QThread::currentThread() == mainThread;
                        ran.append(seq);
                    };
                    if ((i + w) % 7 == 0)
                        TThread::Synchronize(&self, block);
                    else
                        TThread::Queue(&self, block);
                }
            }));
        }
        RunEventLoopUntil([&] { return ran.size() == Workers * PerWorker; });
        QVERIFY(allOnMain);
        for (int i = 0; i < ran.size(); ++i)
            QCOMPARE(ran.at(i), i);
        for (const auto& t : threads)
            t->WaitFor();
    }

    void synchronizeWaitsForTheBlock()
    {
        std::atomic<bool> done{false};
        bool sawDone = false;
        TThreadPtr<TProbeThread> thread(TThread::Create<TProbeThread>([&](TProbeThread&) {
            TThread::Synchronize(nullptr, [&] {
                QThread::msleep(20);
                done = true;
            });
            sawDone = done;
        }));
        RunEventLoopUntil([&] { return thread->Finished(); });
        QVERIFY(sawDone);
    }

    void synchronizeCarriesTheExceptionBack_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("system exception") << 0;
        QTest::newRow("standard exception") << 1;
    }
    void synchronizeCarriesTheExceptionBack()
    {
        QFETCH(int, kind);
        // Many rounds: the caller still reads each exception while the main thread lets go of
        // the hand-off, so an exception both threads held could be freed under the caller (a
        // race that ThreadSanitizer reports).
        constexpr int Rounds = 2000;
        QStringList caught;
        TThreadPtr<TProbeThread> thread(TThread::Create<TProbeThread>([&](TProbeThread&) {
            for (int i = 0; i < Rounds; ++i) {
                try {
                    TThread::Synchronize(nullptr, [kind] {
                        if (kind == 0)
                            throw EListError(QStringLiteral("List index out of bounds (3)"));
                        throw std::runtime_error("plain");
                    });
                    caught << QStringLiteral("nothing");
                } catch (const EListError& e) {
                    caught << QStringLiteral("EListError: ") + e.Message();
                } catch (const std::runtime_error& e) {
                    caught << QStringLiteral("runtime_error: ") + QString::fromUtf8(e.what());
                }
            }
        }));
        RunEventLoopUntil([&] { return thread->Finished(); });
        const QString expected = kind == 0 ? QStringLiteral("EListError: List index out of bounds (3)")
                                           : QStringLiteral("runtime_error: plain");
        QCOMPARE(caught, QStringList(Rounds, expected));
    }

    void onTheMainThreadBothRunAtOnce()
    {
        int calls = 0;
        TThread::Synchronize(nullptr, [&] { ++calls; });
        QCOMPARE(calls, 1);
        TThread::Queue(nullptr, [&] { ++calls; });
        QCOMPARE(calls, 2);
        QVERIFY_THROWS_EXCEPTION(EListError, TThread::Synchronize(nullptr, [] { throw EListError(QStringLiteral("x")); }));
    }

    void waitForOnTheMainThreadServesSynchronize()
    {
        // No event loop runs here: WaitFor itself must run the worker's blocks.
        int ran = 0;
        TThreadPtr<TProbeThread> thread(TThread::Create<TProbeThread>([&](TProbeThread&) {
            for (int i = 0; i < 50; ++i)
                TThread::Synchronize(nullptr, [&] { ++ran; });
        }));
        thread->WaitFor();
        QCOMPARE(ran, 50);
    }

    void queuedBlocksOfADeletedThreadDoNotRun()
    {
        bool ran = false;
        bool unrelatedRan = false;
        auto* thread = TThread::Create<TProbeThread>([&](TProbeThread& self) {
            TThread::Queue(&self, [&] { ran = true; });
            TThread::Queue(nullptr, [&] { unrelatedRan = true; });
        });
        // Wait without serving the queue, then delete before the loop runs the blocks.
        while (!thread->Finished())
            std::this_thread::sleep_for(1ms);
        delete thread;
        RunEventLoopUntil([&] { return unrelatedRan; });
        QVERIFY(!ran);
    }
};

QTEST_GUILESS_MAIN(TestThread)
#include "tst_thread.moc"
