// The device-change notification window over the in-memory device world.
#include "MemoryWorld.h"

#include <mDeviceObserver.Windows.h>

#include <win/Dbt.h>
#include <win/DeviceClassGuids.h>
#include <win/HiddenWindow.h>

#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <thread>

namespace {

class TProbe : public TWinDeviceObserver {
public:
    TProbe() : TWinDeviceObserver(nullptr) {}
    using TWinDeviceObserver::WndProc;
};

const QString cName = UsbInterfaceName("VID_2047&PID_0200", "X");

}  // namespace

class TestDvcWindow : public QObject {
    Q_OBJECT
private slots:
    void nodeChange_data()
    {
        QTest::addColumn<bool>("method");
        QTest::addColumn<bool>("proc");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("both: only the method event, with 7") << true << true << QStringList{"method 7"};
        QTest::newRow("only the procedure") << false << true << QStringList{"proc"};
        QTest::newRow("only the method event") << true << false << QStringList{"method 7"};
        QTest::newRow("neither") << false << false << QStringList{};
    }
    void nodeChange()
    {
        QFETCH(bool, method);
        QFETCH(bool, proc);
        QFETCH(QStringList, expected);
        TTestWorld world;
        TProbe window;
        QStringList calls;
        if (method)
            window.SetOnNodeChange([&](TObject* ASender, std::int32_t AValue) {
                QCOMPARE(ASender, &window);
                calls << QString("method %1").arg(AValue);
            });
        if (proc)
            window.SetOnNodeChangePorc([&] { calls << "proc"; });
        world.Notifications->DevNodesChanged();
        QCOMPARE(calls, expected);
    }

    void arrivalsAndRemovalsCallBothInOrder_data()
    {
        QTest::addColumn<bool>("arrival");
        QTest::newRow("arrival") << true;
        QTest::newRow("removal") << false;
    }
    void arrivalsAndRemovalsCallBothInOrder()
    {
        QFETCH(bool, arrival);
        TTestWorld world;
        TProbe window;
        QStringList calls;
        auto method = [&](TObject* ASender, PDEV_BROADCAST_DEVICEINTERFACE ARecord) {
            QCOMPARE(ASender, &window);
            calls << "method " + GetDvcName(ARecord);
        };
        auto proc = [&](PDEV_BROADCAST_DEVICEINTERFACE ARecord) { calls << "proc " + GetDvcName(ARecord); };
        window.SetOnArrived(method);
        window.SetOnArrivedProc(proc);
        window.SetOnRemoved([&](TObject*, PDEV_BROADCAST_DEVICEINTERFACE) { calls << "removed method"; });
        window.SetOnRemovedProc([&](PDEV_BROADCAST_DEVICEINTERFACE) { calls << "removed proc"; });
        if (!arrival) {
            window.SetOnArrived(nullptr);
            window.SetOnArrivedProc(nullptr);
            window.SetOnRemoved(method);
            window.SetOnRemovedProc(proc);
        }
        QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
        if (arrival)
            world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, cName);
        else
            world.Notifications->Remove(GUID_DEVINTERFACE_USB_DEVICE, cName);
        QCOMPARE(calls, (QStringList{"method " + cName, "proc " + cName}));
        // Another class is not delivered to this window.
        calls.clear();
        world.Notifications->Arrive(GUID_DEVINTERFACE_COMPORT, cName);
        QCOMPARE(calls, QStringList{});
    }

    void otherCodesAndMessagesAreLeftAtZero_data()
    {
        QTest::addColumn<uint>("msg");
        QTest::addColumn<uint>("code");
        QTest::newRow("query remove") << uint(WM_DEVICECHANGE) << uint(DBT_DEVICEQUERYREMOVE);
        QTest::newRow("remove pending") << uint(WM_DEVICECHANGE) << uint(DBT_DEVICEREMOVEPENDING);
        QTest::newRow("other message") << 0x0400u << uint(DBT_DEVICEARRIVAL);
    }
    void otherCodesAndMessagesAreLeftAtZero()
    {
        QFETCH(uint, msg);
        QFETCH(uint, code);
        TTestWorld world;
        TProbe window;
        int calls = 0;
        window.SetOnArrived([&](TObject*, PDEV_BROADCAST_DEVICEINTERFACE) { ++calls; });
        window.SetOnArrivedProc([&](PDEV_BROADCAST_DEVICEINTERFACE) { ++calls; });
        window.SetOnRemovedProc([&](PDEV_BROADCAST_DEVICEINTERFACE) { ++calls; });
        window.SetOnNodeChangePorc([&] { ++calls; });
        const QByteArray record = win::DeviceInterfaceRecord(GUID_DEVINTERFACE_USB_DEVICE, cName);
        TMessage message{msg, code, reinterpret_cast<LPARAM>(record.constData()), 0};
        window.WndProc(message);
        QCOMPARE(message.Result, LRESULT(0));
        QCOMPARE(calls, 0);
    }

    void registrations()
    {
        TTestWorld world;
        auto& notifications = *world.Notifications;
        TProbe window;
        QVERIFY(window.RegNotifications().empty());

        notifications.RefuseRegistration(GUID_DEVCLASS_PORTS);
        QVERIFY(!window.AddNotifycation(GUID_DEVCLASS_PORTS));
        QVERIFY(!window.ExistsNotifycation(GUID_DEVCLASS_PORTS));

        QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
        QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
        QCOMPARE(notifications.RegistrationCount(), 2);
        QCOMPARE(window.RegNotifications(), std::vector<TGUID>{GUID_DEVINTERFACE_USB_DEVICE});
        // Both registrations deliver.
        int arrivals = 0;
        window.SetOnArrivedProc([&](PDEV_BROADCAST_DEVICEINTERFACE) { ++arrivals; });
        notifications.Arrive(GUID_DEVINTERFACE_USB_DEVICE, cName);
        QCOMPARE(arrivals, 2);

        window.RemoveNotification(GUID_DEVINTERFACE_COMPORT);
        QVERIFY(notifications.Withdrawals().isEmpty());

        QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_COMPORT));
        notifications.RefuseWithdrawal(GUID_DEVINTERFACE_COMPORT);
        window.RemoveNotification(GUID_DEVINTERFACE_COMPORT);
        QVERIFY(window.ExistsNotifycation(GUID_DEVINTERFACE_COMPORT));
        notifications.RefuseWithdrawal(GUID_DEVINTERFACE_COMPORT, false);
        window.RemoveNotification(GUID_DEVINTERFACE_COMPORT);
        QVERIFY(!window.ExistsNotifycation(GUID_DEVINTERFACE_COMPORT));
        QCOMPARE(notifications.Withdrawals().size(), 2);
    }

    void destructionWithdrawsBeforeTheWindowGoes()
    {
        TTestWorld world;
        auto& notifications = *world.Notifications;
        HWND handle = nullptr;
        {
            TProbe window;
            handle = window.Handle();
            QVERIFY(win::IsWindow(handle));
            QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
            QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));  // the first handle is lost
            QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_COMPORT));
            notifications.RefuseWithdrawal(GUID_DEVINTERFACE_COMPORT);
        }
        QVERIFY(!win::IsWindow(handle));
        const auto withdrawals = notifications.Withdrawals();
        QCOMPARE(withdrawals.size(), 2);
        for (const auto& withdrawal : withdrawals)
            QVERIFY(withdrawal.WindowAlive);
        // The refused withdrawal did not stop the next one.
        QCOMPARE(notifications.RegistrationCount(), 2);
        // A message to the gone window reaches nothing.
        QVERIFY(!win::SendWindowMessage(handle, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED));
    }

    void ownedByAnOwner()
    {
        TTestWorld world;
        auto owner = std::make_unique<TComponent>(nullptr);
        auto* window = new TWinDeviceObserver(owner.get());
        QVERIFY(window->AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
        const HWND handle = window->Handle();
        owner.reset();
        QVERIFY(!win::IsWindow(handle));
        QCOMPARE(world.Notifications->RegistrationCount(), 0);
    }

    void eventsFromAnotherThreadRunOnTheWindowsThread()
    {
        TTestWorld world;
        TProbe window;
        QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
        QList<Qt::HANDLE> threads;
        QStringList names;
        window.SetOnArrivedProc([&](PDEV_BROADCAST_DEVICEINTERFACE ARecord) {
            threads << QThread::currentThreadId();
            names << GetDvcName(ARecord);
        });
        std::thread sender([&] {
            world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, "a#b#c#d");
            world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, "e#f#g#h");
        });
        sender.join();
        QVERIFY(names.isEmpty());  // queued until the loop runs
        QTRY_COMPARE(names, (QStringList{"a#b#c#d", "e#f#g#h"}));
        QCOMPARE(threads, (QList<Qt::HANDLE>{QThread::currentThreadId(), QThread::currentThreadId()}));
    }

    // Released on another thread with messages still queued: none reaches the gone object.
    void releaseOnAnotherThreadDropsQueuedMessages()
    {
        TTestWorld world;
        auto alive = std::make_shared<std::atomic<bool>>(true);
        std::atomic<int> late{0};
        auto* window = new TProbe();
        QVERIFY(window->AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
        window->SetOnArrivedProc([alive, &late](PDEV_BROADCAST_DEVICEINTERFACE) {
            if (!*alive)
                ++late;
        });
        std::thread releaser([&] {
            for (int i = 0; i < 50; ++i)
                world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, "a#b#c#d");
            *alive = false;
            delete window;
        });
        releaser.join();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        QCOMPARE(late.load(), 0);
    }

    void exceptionOfAHandlerLeavesTheDispatch()
    {
        TTestWorld world;
        TProbe window;
        QVERIFY(window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
        window.SetOnArrivedProc([](PDEV_BROADCAST_DEVICEINTERFACE) { throw Exception("handler"); });
        QVERIFY_THROWS_EXCEPTION(Exception, world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, cName));
        int calls = 0;
        window.SetOnArrivedProc([&](PDEV_BROADCAST_DEVICEINTERFACE) { ++calls; });
        world.Notifications->Arrive(GUID_DEVINTERFACE_USB_DEVICE, cName);
        QCOMPARE(calls, 1);
    }

    void registrationNeedsAWindowAndAnInterfaceFilter()
    {
        TTestWorld world;
        TProbe window;
        DEV_BROADCAST_DEVICEINTERFACE filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        QVERIFY(RegisterDeviceNotificationW(window.Handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE));
        QVERIFY(!RegisterDeviceNotificationW(reinterpret_cast<HWND>(std::uintptr_t(0xBAD)), &filter, 0));
        QVERIFY(!RegisterDeviceNotificationW(window.Handle(), nullptr, 0));
        QVERIFY(!RegisterDeviceNotificationW(window.Handle(), &filter, 1));  // a service handle
        filter.dbcc_devicetype = DBT_DEVTYP_VOLUME;
        QVERIFY(!RegisterDeviceNotificationW(window.Handle(), &filter, 0));
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_size = 28;
        QVERIFY(!RegisterDeviceNotificationW(window.Handle(), &filter, 0));
        QVERIFY(!UnregisterDeviceNotification(nullptr));
        QVERIFY(!UnregisterDeviceNotification(reinterpret_cast<HDEVNOTIFY>(std::uintptr_t(0xBAD))));
        win::SelectDeviceWorld({});
        QVERIFY(!window.AddNotifycation(GUID_DEVINTERFACE_USB_DEVICE));
    }
};

QTEST_GUILESS_MAIN(TestDvcWindow)
#include "tst_dvc_window.moc"
