#include "ObserverWorld.h"

#include <rtl/Thread.h>
#include <win/HiddenWindow.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QThread>

#include <functional>

// Hand-offs wait for the worker; sanitizer builds are slow.
#define WAIT_FOR(expr) QTRY_VERIFY_WITH_TIMEOUT(expr, 60000)

using TCmd = TdvcObserverTh::TObserverEvent::TCmd;

namespace {

bool OnMainThread()
{
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Records every callback on the main thread, in order.
struct TRecorder {
    QStringList Events;
    bool AllOnMain = true;

    void Wire(TdvcObserverTh& AThread, bool ARecords = true, bool APorts = true)
    {
        if (ARecords) {
            AThread.SetOnArrived([this](TObservedInfos* AInfos) { Note("arrived " + AInfos->Values("VIdPId")); });
            AThread.SetOnRemoved([this](TObservedInfos* AInfos) { Note("removed " + AInfos->Values("VIdPId")); });
        }
        if (APorts) {
            AThread.SetOnPortArrived([this](const QString& APort, std::int32_t ANumber) {
                Note(QStringLiteral("port arrived %1 %2").arg(APort).arg(ANumber));
            });
            AThread.SetOnPortRemoved([this](const QString& APort, std::int32_t ANumber) {
                Note(QStringLiteral("port removed %1 %2").arg(APort).arg(ANumber));
            });
        }
    }
    void Note(const QString& AEvent)
    {
        AllOnMain = AllOnMain && OnMainThread();
        Events << AEvent;
    }
};

// Some task of this process is named AName.
bool ThreadNamed(const QString& AName)
{
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(task + QStringLiteral("/comm")));
        if (comm.open(QIODevice::ReadOnly) && QString::fromUtf8(comm.readAll()).trimmed() == AName)
            return true;
    }
    return false;
}

const QString kAnalyzer = QStringLiteral("VID_2047&PID_0200");

}  // namespace

class TestDvcObserverTh : public QObject {
    Q_OBJECT
private slots:
    void theMailboxKeepsEachCommandWithItsOwnRecord()
    {
        TdvcObserverTh::TObserverEvent mailbox;
        QCOMPARE(mailbox.WaitFor(0), TWaitResult::wrTimeout);
        {
            TStringList first;
            first.Add(QStringLiteral("Comport=COM3"));
            mailbox.SetEvent(&first, TCmd::ocArrived);
        }  // the poster frees its list at once
        TStringList second;
        second.Add(QStringLiteral("Comport=COM12"));
        mailbox.SetEvent(&second, TCmd::ocRemoved);
        mailbox.SetEvent(TCmd::ocSearch);
        mailbox.SetEvent(nullptr, TCmd::ocArrived);  // no list: posts nothing, spoils nothing
        QCOMPARE(mailbox.WaitFor(0), TWaitResult::wrSignaled);
        QCOMPARE(mailbox.Cmd(), TCmd::ocArrived);
        QCOMPARE(mailbox.Port(), QStringLiteral("COM3"));
        QCOMPARE(mailbox.PortAsInteger(), 3);
        mailbox.ResetEvent();
        QCOMPARE(mailbox.WaitFor(0), TWaitResult::wrSignaled);
        QCOMPARE(mailbox.Cmd(), TCmd::ocRemoved);
        QCOMPARE(mailbox.Port(), QStringLiteral("COM12"));
        mailbox.ResetEvent();
        QCOMPARE(mailbox.Cmd(), TCmd::ocSearch);
        QCOMPARE(mailbox.Port(), QStringLiteral("COM12"));  // a search leaves the record alone
        mailbox.ResetEvent();
        QCOMPARE(mailbox.WaitFor(0), TWaitResult::wrTimeout);
        // Idle: a post without a list clears the record and keeps the command.
        mailbox.SetEvent(nullptr, TCmd::ocRemoved);
        QCOMPARE(mailbox.Infos()->Count(), 0);
        QCOMPARE(mailbox.Cmd(), TCmd::ocSearch);
        QCOMPARE(mailbox.WaitFor(0), TWaitResult::wrTimeout);
    }

    void constructionNamesTheThreadAndTakesANewLoggerEachTime()
    {
        TObserverWorld world;
        TObserverRun firstRun, secondRun;
        TdvcObserverTh* first = firstRun.Thread;
        TdvcObserverTh* second = secondRun.Thread;
        QVERIFY(first->Log() != second->Log());
        QCOMPARE(first->Log(), TCodeSiteLoggerFactory::Loggers(QStringLiteral("TdvcObserverTh")));
        QCOMPARE(second->Log(), TCodeSiteLoggerFactory::Loggers(QStringLiteral("TdvcObserverTh[1]")));
        WAIT_FOR(ThreadNamed(QStringLiteral("TdvcObserverTh")));
        firstRun.Terminate();
        secondRun.Terminate();
        WAIT_FOR(firstRun.Destroyed() && secondRun.Destroyed());
    }

    void constructionWithoutTheLibraryFailsAndLeavesNoWindow()
    {
        win::SelectDeviceWorld({nullptr, std::make_shared<win::TMemoryNotificationWorld>(), nullptr});
        QVERIFY_THROWS_EXCEPTION(EOSError, TThread::Create<TdvcObserverTh>());
        QVERIFY(win::HiddenWindows().empty());
        win::SelectDeviceWorld({});
    }

    void theSixFlagFormRegistersWhatItIsTold()
    {
        TObserverWorld world;
        {
            TObserverRun plain;
        }
        QVERIFY(world.Notifications->RegistrationAttempts().isEmpty());
        TObserverRun flagged(true, true, false, true, false, false);
        QCOMPARE(world.Notifications->RegistrationAttempts(),
                 (QList<TGUID>{GUID_DEVINTERFACE_COMPORT, GUID_DEVINTERFACE_USB_DEVICE}));
    }

    void aSearchReportsOnlyTheRegisteredSetupClasses()
    {
        TObserverWorld world;
        world.AddHidDevice(QStringLiteral("HID\\VID_2047&PID_0200"));
        world.AddUsbDevice(kAnalyzer, QStringLiteral("X"), QStringLiteral("Analyzer"));
        {
            // Nothing registered: the search lists nothing.
            TObserverRun run;
            TRecorder recorder;
            recorder.Wire(*run.Thread);
            run->Search();
            run.Terminate();
            WAIT_FOR(run.Destroyed());
            QCOMPARE(recorder.Events, QStringList{});
            QCOMPARE(world.Setup->SearchCount(), 0);
        }
        // A device-interface class searched as a setup class lists nothing either; the arrival
        // after it shows the search has been carried out.
        TObserverRun run;
        TRecorder recorder;
        recorder.Wire(*run.Thread, true, false);
        run->ClearAndReg({GUID_DEVINTERFACE_USB_DEVICE});
        run->Search();
        world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, UsbName(kAnalyzer, QStringLiteral("X")));
        WAIT_FOR(recorder.Events.size() == 1);
        QCOMPARE(recorder.Events, QStringList{"arrived VID_2047&PID_0200\\X"});
        QCOMPARE(world.Setup->SearchCount(), 1);
    }

    void handOffsComeInTheirOrders_data()
    {
        QTest::addColumn<bool>("records");
        QTest::addColumn<bool>("ports");
        QTest::addColumn<QStringList>("events");
        const QStringList all{"port arrived COM4 4", "arrived HID\\VID_2047&PID_0200",
                              "arrived VID_2047&PID_0200\\X", "port arrived COM7 7",
                              "removed VID_2047&PID_0200\\X", "port removed COM7 7"};
        QTest::newRow("all four") << true << true << all;
        QTest::newRow("records only") << true << false << QStringList{all[1], all[2], all[4]};
        QTest::newRow("ports only") << false << true << QStringList{all[0], all[3], all[5]};
    }
    void handOffsComeInTheirOrders()
    {
        QFETCH(bool, records);
        QFETCH(bool, ports);
        QFETCH(QStringList, events);
        TObserverWorld world;
        world.AddHidDevice(QStringLiteral("HID\\VID_2047&PID_0200"), QStringLiteral("Analyzer (COM4)"));
        world.AddUsbDevice(kAnalyzer, QStringLiteral("X"), QStringLiteral("Analyzer"), QStringLiteral("Analyzer (COM7)"));
        TObserverRun run;
        TdvcObserverTh* thread = run.Thread;
        TRecorder recorder;
        recorder.Wire(*thread, records, ports);
        thread->ClearAndReg({GUID_DEVINTERFACE_USB_DEVICE, GUID_DEVCLASS_HIDCLASS});
        thread->Search();
        const int searched = records && ports ? 2 : 1;
        WAIT_FOR(recorder.Events.size() == searched);
        world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, UsbName(kAnalyzer, QStringLiteral("X")));
        WAIT_FOR(recorder.Events.size() == searched + (records && ports ? 2 : 1));
        world.Notifications->Remove(GUID_DEVINTERFACE_USB_DEVICE, UsbName(kAnalyzer, QStringLiteral("X")));
        WAIT_FOR(recorder.Events.size() == events.size());
        QCOMPARE(recorder.Events, events);
        QVERIFY(recorder.AllOnMain);
        run.Terminate();
        WAIT_FOR(run.Destroyed());
    }

    void rejectPortsListsThePortsASearchReports_data()
    {
        QTest::addColumn<QString>("rejectPorts");
        QTest::addColumn<QStringList>("reported");
        QTest::newRow("empty") << QString() << QStringList{"A", "B", "C"};
        QTest::newRow("one, lower case") << QStringLiteral("com3") << QStringList{"A"};
        QTest::newRow("two") << QStringLiteral("COM12\r\ncom3\n") << QStringList{"A", "B"};
        QTest::newRow("none present") << QStringLiteral("COM5") << QStringList{};
    }
    void rejectPortsListsThePortsASearchReports()
    {
        QFETCH(QString, rejectPorts);
        QFETCH(QStringList, reported);
        TObserverWorld world;
        world.AddHidDevice(QStringLiteral("A"), QStringLiteral("First (COM3)"));
        world.AddHidDevice(QStringLiteral("B"), QStringLiteral("Second (COM12)"));
        world.AddHidDevice(QStringLiteral("C"));
        world.AddUsbDevice(kAnalyzer, QStringLiteral("END"), QStringLiteral("Analyzer"));
        TObserverRun run;
        TdvcObserverTh* thread = run.Thread;
        TRecorder recorder;
        recorder.Wire(*thread, true, false);
        thread->SetRejectPorts(rejectPorts);
        thread->ClearAndReg({GUID_DEVCLASS_HIDCLASS, GUID_DEVINTERFACE_USB_DEVICE});
        thread->Search();
        // Arrivals are not filtered; this one closes the search's reports.
        world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, UsbName(kAnalyzer, QStringLiteral("END")));
        WAIT_FOR(!recorder.Events.isEmpty() && recorder.Events.last().endsWith(QStringLiteral("END")));
        QStringList expected;
        for (const QString& id : reported)
            expected << "arrived " + id;
        expected << "arrived VID_2047&PID_0200\\END";
        QCOMPARE(recorder.Events, expected);
        run.Terminate();
        WAIT_FOR(run.Destroyed());
    }

    void aBurstOfArrivalsDuringASearchIsDeliveredWhole()
    {
        TObserverWorld world;
        world.AddHidDevice(QStringLiteral("A"));
        world.AddHidDevice(QStringLiteral("B"));
        constexpr int kBurst = 20;
        for (int i = 0; i < kBurst; ++i)
            world.AddUsbDevice(kAnalyzer, QString::number(i), QStringLiteral("Analyzer"));
        TObserverRun run;
        TdvcObserverTh* thread = run.Thread;
        TRecorder recorder;
        recorder.Wire(*thread, true, false);
        bool burst = false;
        thread->SetOnArrived([&](TObservedInfos* AInfos) {
            recorder.Note("arrived " + AInfos->Values("VIdPId"));
            if (std::exchange(burst, true))
                return;
            // The worker is in the middle of its search, waiting for this hand-off.
            for (int i = 0; i < kBurst; ++i) {
                const QString name = UsbName(kAnalyzer, QString::number(i));
                if (i % 2)
                    world.Notifications->Remove(GUID_DEVINTERFACE_USB_DEVICE, name);
                else
                    world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, name);
            }
        });
        thread->ClearAndReg({GUID_DEVCLASS_HIDCLASS, GUID_DEVINTERFACE_USB_DEVICE});
        thread->Search();
        WAIT_FOR(recorder.Events.size() == 2 + kBurst);
        QStringList expected{"arrived A", "arrived B"};
        for (int i = 0; i < kBurst; ++i)
            expected << QStringLiteral("%1 VID_2047&PID_0200\\%2").arg(i % 2 ? "removed" : "arrived").arg(i);
        QCOMPARE(recorder.Events, expected);
        run.Terminate();
        WAIT_FOR(run.Destroyed());
    }

    void terminatingAWaitingWorkerReleasesEverything()
    {
        TObserverWorld world;
        TObserverRun run;
        TdvcObserverTh* thread = run.Thread;
        thread->ClearAndReg({GUID_DEVINTERFACE_USB_DEVICE});
        QCOMPARE(int(win::HiddenWindows().size()), 1);
        QVERIFY(IsSetupApiLoaded());
        run.Terminate();
        WAIT_FOR(run.Destroyed());
        QVERIFY(win::HiddenWindows().empty());
        const auto withdrawals = world.Notifications->Withdrawals();
        QCOMPARE(withdrawals.size(), 1);
        QVERIFY(withdrawals[0].Class == GUID_DEVINTERFACE_USB_DEVICE && withdrawals[0].WindowAlive);
        QVERIFY(!IsSetupApiLoaded());
    }

    void terminateLetsTheCommandInHandFinish()
    {
        TObserverWorld world;
        for (const char* id : {"A", "B", "C"})
            world.AddHidDevice(QString::fromLatin1(id));
        world.AddUsbDevice(kAnalyzer, QStringLiteral("X"), QStringLiteral("Analyzer"));
        TObserverRun run;
        TdvcObserverTh* thread = run.Thread;
        TRecorder recorder;
        bool terminated = false;
        thread->SetOnArrived([&](TObservedInfos* AInfos) {
            recorder.Note("arrived " + AInfos->Values("VIdPId"));
            if (std::exchange(terminated, true))
                return;
            world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, UsbName(kAnalyzer, QStringLiteral("X")));
            run.Terminate();
        });
        thread->ClearAndReg({GUID_DEVCLASS_HIDCLASS, GUID_DEVINTERFACE_USB_DEVICE});
        thread->Search();
        WAIT_FOR(run.Destroyed());
        QCOMPARE(recorder.Events, (QStringList{"arrived A", "arrived B", "arrived C"}));
    }

    void aCallbackThatRaisesEndsTheWorkerButNotTheThread()
    {
        TObserverWorld world;
        world.AddHidDevice(QStringLiteral("A"));
        world.AddHidDevice(QStringLiteral("B"));
        world.AddUsbDevice(kAnalyzer, QStringLiteral("X"), QStringLiteral("Analyzer"));
        TObserverRun run;
        TdvcObserverTh* thread = run.Thread;
        QStringList events;
        thread->SetOnArrived([&](TObservedInfos* AInfos) {
            events << AInfos->Values("VIdPId");
            throw Exception(QStringLiteral("refused"));
        });
        thread->ClearAndReg({GUID_DEVCLASS_HIDCLASS, GUID_DEVINTERFACE_USB_DEVICE});
        thread->Search();
        // The device observer goes, and its notifications with it.
        WAIT_FOR(win::HiddenWindows().empty());
        QCOMPARE(events, QStringList{"A"});
        world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, UsbName(kAnalyzer, QStringLiteral("X")));
        thread->Search();
        QVERIFY(!run.Destroyed());  // it waits for the Terminate that shut-down will send
        run.Terminate();
        WAIT_FOR(run.Destroyed());
        QCOMPARE(events, QStringList{"A"});
        QVERIFY(!IsSetupApiLoaded());
    }
};

QTEST_GUILESS_MAIN(TestDvcObserverTh)
#include "tst_dvcobserverth.moc"
