#include <rtl/SyncObjs.h>

#include <QTest>

#include <atomic>
#include <thread>

class TestSyncObjs : public QObject {
    Q_OBJECT
private slots:
    void aSimpleEventIsManualResetAndStartsUnsignalled()
    {
        TSimpleEvent event;
        QCOMPARE(event.WaitFor(0), TWaitResult::wrTimeout);
        event.SetEvent();
        event.SetEvent();
        QCOMPARE(event.WaitFor(0), TWaitResult::wrSignaled);
        QCOMPARE(event.WaitFor(), TWaitResult::wrSignaled);  // stays set for every waiter
        event.ResetEvent();
        QCOMPARE(event.WaitFor(0), TWaitResult::wrTimeout);
    }

    void anAutomaticEventLetsOneWaiterThrough()
    {
        TEvent event(false, true);
        QCOMPARE(event.WaitFor(0), TWaitResult::wrSignaled);
        QCOMPARE(event.WaitFor(0), TWaitResult::wrTimeout);
    }

    void setEventWakesAWaiterWithoutLimit()
    {
        TSimpleEvent event;
        std::atomic<bool> woke{false};
        std::thread waiter([&] {
            if (event.WaitFor() == TWaitResult::wrSignaled)
                woke = true;
        });
        event.SetEvent();
        waiter.join();
        QVERIFY(woke);
    }
};

QTEST_GUILESS_MAIN(TestSyncObjs)
#include "tst_syncobjs.moc"
