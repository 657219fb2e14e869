#include <rtl/Clock.h>

#include <QTest>

using namespace std::chrono_literals;

namespace {

TStopwatch Started()
{
    TStopwatch stopwatch = TStopwatch::Create();
    stopwatch.Start();
    return stopwatch;
}

// The reading as the system shows it, in milliseconds within the minute.
qint64 Millis(const TStopwatch& AStopwatch)
{
    return AStopwatch.Elapsed().Seconds() * 1000 + AStopwatch.Elapsed().Milliseconds();
}

}  // namespace

class TestClock : public QObject {
    Q_OBJECT
private slots:
    void elapsedComponents_data()
    {
        QTest::addColumn<qint64>("milliseconds");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<int>("millis");
        QTest::newRow("12.345 s") << qint64(12345) << 12 << 345;
        QTest::newRow("5.007 s") << qint64(5007) << 5 << 7;
        QTest::newRow("72.5 s drops the minute") << qint64(72500) << 12 << 500;
        QTest::newRow("an hour and a bit") << qint64(3600000 + 59999) << 59 << 999;
        QTest::newRow("nothing") << qint64(0) << 0 << 0;
    }
    void elapsedComponents()
    {
        QFETCH(qint64, milliseconds);
        QFETCH(int, seconds);
        QFETCH(int, millis);
        TTestClock clock;
        TClockOverride use(clock);
        TStopwatch stopwatch = Started();
        clock.Advance(std::chrono::milliseconds(milliseconds) + 400us);
        stopwatch.Stop();
        QCOMPARE(stopwatch.Elapsed().Seconds(), seconds);
        QCOMPARE(stopwatch.Elapsed().Milliseconds(), millis);
    }

    void startStopReset()
    {
        TTestClock clock;
        TClockOverride use(clock);
        TStopwatch stopwatch = TStopwatch::Create();
        clock.Advance(1s);
        QCOMPARE(Millis(stopwatch), 0);
        stopwatch.Start();
        clock.Advance(2s);
        stopwatch.Start();  // no effect while running
        QCOMPARE(Millis(stopwatch), 2000);  // read while running
        clock.Advance(1s);
        stopwatch.Stop();
        clock.Advance(5s);
        QCOMPARE(Millis(stopwatch), 3000);
        stopwatch.Start();
        clock.Advance(500ms);
        stopwatch.Stop();
        QCOMPARE(Millis(stopwatch), 3500);
        stopwatch.Reset();
        clock.Advance(1s);
        QCOMPARE(Millis(stopwatch), 0);  // stopped
    }

    void testClockSleepsInstantly()
    {
        TTestClock clock;
        std::vector<std::chrono::milliseconds> seen;
        clock.SetOnSleep([&seen](std::chrono::milliseconds AWait) { seen.push_back(AWait); });
        {
            TClockOverride use(clock);
            TStopwatch stopwatch = Started();
            Sleep(1000);
            Sleep(0);
            Sleep(2000);
            QCOMPARE(Millis(stopwatch), 3000);
        }
        const std::vector<std::chrono::milliseconds> expected{1000ms, 0ms, 2000ms};
        QVERIFY(clock.Waits() == expected);
        QVERIFY(seen == expected);
        // Restored: the steady clock no longer feeds the test clock.
        Sleep(1);
        QCOMPARE(clock.Waits().size(), std::size_t(3));
    }

    void hookMayThrow()
    {
        TTestClock clock;
        clock.SetOnSleep([](std::chrono::milliseconds) { throw std::runtime_error("woken"); });
        TClockOverride use(clock);
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, Sleep(10));
        QCOMPARE(clock.Waits().size(), std::size_t(1));
    }

    // The default clock really waits (a lower bound only).
    void steadyClockWaits()
    {
        TStopwatch stopwatch = Started();
        Sleep(20);
        stopwatch.Stop();
        QVERIFY(Millis(stopwatch) >= 20);
    }
};

QTEST_GUILESS_MAIN(TestClock)
#include "tst_clock.moc"
