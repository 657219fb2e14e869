#include <rtl/Threading.h>
#include <rtl/SysUtils.h>

#include <QTest>
#include <QThread>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

class TestTask : public QObject {
    Q_OBJECT
private slots:
    // A task runs on a pool worker; its exception stays with it until someone waits.
    void run()
    {
        QThread* ran = nullptr;
        ITask ok = TTask::Run([&] { ran = QThread::currentThread(); });
        QVERIFY(ok->Wait(60s));
        QCOMPARE(ok->Status(), TTaskStatus::Completed);
        QVERIFY(ran && ran != QThread::currentThread());

        ITask failing = TTask::Run([] { throw EConvertError("not a number"); });
        QVERIFY_THROWS_EXCEPTION(EConvertError, failing->Wait(60s));
        QCOMPARE(failing->Status(), TTaskStatus::Exception);
    }

    // A task dropped at once still runs to its end.
    void dropped()
    {
        std::atomic<bool> done{false};
        TTask::Run([&] { done = true; });
        QVERIFY(QTest::qWaitFor([&] { return done.load(); }, 60000));
    }

    void waitBounded()
    {
        std::atomic<bool> release{false};
        ITask task = TTask::Run([&] {
            while (!release)
                QThread::yieldCurrentThread();
        });
        QVERIFY(!task->Wait(0ms));
        release = true;
        QVERIFY(task->Wait(60s));
    }
};

QTEST_GUILESS_MAIN(TestTask)
#include "tst_task.moc"
