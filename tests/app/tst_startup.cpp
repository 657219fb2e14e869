// The start-up and the shut-down in their orders: the main block's three creations, the
// initialisation task finding the flashing service made after the window, and the end:
// the library unloaded before the window goes, the unpacked image deleted after it.

#include "WindowHarness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <dlfcn.h>

namespace {

bool LibraryLoaded(const QString& APath)
{
    void* handle = dlopen(APath.toLocal8Bit().constData(), RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);
    return true;
}

}  // namespace

class TestStartup : public QObject {
    Q_OBJECT
private slots:
    void init() { QCoreApplication::setApplicationVersion("1.2.3.4"); }

    // The window's task may finish the package before the main block has made the flashing
    // service; it still finds the service made.
    void serviceMadeAfterWindow()
    {
        TWindowHarness harness;
        Application->Initialize();
        Application->CreateForm(svcResMng);
        QCOMPARE(GetSvcBsl430(), nullptr);
        Application->CreateForm(vMain);
        QCOMPARE(Application->MainForm(), vMain);
        QCOMPARE(GetSvcBsl430(), nullptr);
        // No event loop runs: the task gets through the package alone.
        QElapsedTimer waited;
        waited.start();
        while (!GetSvcResMng()->Initialized() && waited.elapsed() < 30000)
            QThread::msleep(1);
        QVERIFY(GetSvcResMng()->Initialized());
        Application->CreateForm(svcBsl430);
        QVERIFY(GetSvcBsl430());
        vMain->show();
        QVERIFY(harness.WaitInitialized());
        QVERIFY(GetSvcBsl430()->Initialized());
        QVERIFY(harness.Boxes().Shown.isEmpty());
    }

    // A close while the initialisation runs is done once the task has ended.
    void closeDuringInitialization()
    {
        TWindowHarness harness;
        harness.Create();
        QVERIFY(!vMain->Close());
        QVERIFY(vMain->isVisible());
        QVERIFY(QTest::qWaitFor([] { return !vMain->isVisible(); }, 30000));
        QVERIFY(Application->Terminated());
        QVERIFY(GetSvcBsl430()->Initialized());
        QVERIFY(harness.Boxes().Shown.isEmpty());
    }

    // A start-up stuck in its task: the first close says that it waits, a close within the
    // wait is held as well, one after it ends the program without the shut-down.
    void closeDuringStalledInitialization()
    {
        TWindowHarness harness;
        harness.World().Notifications->HidRegistration.Arm();
        harness.Create();
        QVERIFY(QTest::qWaitFor([&] { return harness.World().Notifications->HidRegistration.Reached(); }, 30000));
        QVERIFY(!vMain->Close());
        QCOMPARE(vMain->Memo->Lines.Count(), 1);
        QCOMPARE(vMain->Memo->Lines.Strings(0), cCloseAfterStartUpText);
        harness.Clock().Advance(cStartUpCloseWait - std::chrono::milliseconds(1));
        QVERIFY(!vMain->Close());
        QVERIFY(!Application->Terminated());
        QCOMPARE(vMain->Memo->Lines.Count(), 1);
        harness.Clock().Advance(std::chrono::milliseconds(1));
        QVERIFY(vMain->Close());
        QVERIFY(Application->Terminated());
        QVERIFY(vMain->StartUpAbandoned());
        QVERIFY(harness.Boxes().Shown.isEmpty());
        harness.World().Notifications->HidRegistration.Open();
    }

    // Without the device-setup library the observer thread cannot be made: the start ends
    // in the units' initialisation, the units started before are finalised, no window shows.
    void setupLibraryMissing()
    {
        TTestDeviceWorld world(false);
        bool raised = false;
        try {
            TUnits units(ProgramUnits());
        } catch (const Exception&) {
            raised = true;
        }
        QVERIFY(raised);
        QCOMPARE(Application, nullptr);
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // The observer thread releases its device observer through the main thread; the
    // locator's finalisation serves that hand-off and waits for it, so the notifications are
    // withdrawn by the time the logging units end.
    void observerReleasedAtShutDown()
    {
        TWindowHarness harness;
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        QVERIFY(harness.World().Notifications->Withdrawals().isEmpty());
        vMain->Close();
        QVERIFY(QTest::qWaitFor([] { return Application->Terminated(); }, 30000));
        harness.Stop();
        QList<TGUID> withdrawn;
        for (const auto& withdrawal : harness.World().Notifications->Withdrawals())
            withdrawn << withdrawal.Class;
        QVERIFY(withdrawn.contains(GUID_DEVINTERFACE_USB_DEVICE));
    }

    void shutDownOrder()
    {
        TWindowHarness harness;
        QString library;
        QString image;
        bool libraryLoadedAtWindowEnd = true;
        bool imageAtWindowEnd = false;
        QTimer closer;
        closer.setInterval(1);
        QObject::connect(&closer, &QTimer::timeout, [&] {
            if (!vMain || !GetSvcResMng()->Initialized() || vMain->Caption() == " Firmware Updater")
                return;
            closer.stop();
            library = GetSvcResMng()->BSL430Path();
            image = GetSvcResMng()->BinFileFullPath();
            QVERIFY(LibraryLoaded(library));
            QVERIFY(QFile::exists(image));
            // The desktop's view: the menu entry's icon, drawn, and its name.
            QVERIFY(!vMain->windowIcon().pixmap(32).isNull());
            QCOMPARE(QGuiApplication::desktopFileName(), QString("analyzer-updater"));
            QObject::connect(vMain, &QObject::destroyed, [&] {
                libraryLoadedAtWindowEnd = LibraryLoaded(library);
                imageAtWindowEnd = QFile::exists(image);
            });
            // The initialisation task may still be ending: the close then waits for it.
            vMain->Close();
        });
        closer.start();
        MainBlock();
        QVERIFY(Application->Terminated());
        QVERIFY(!image.isEmpty());
        Application->DestroyComponents();
        QVERIFY(!libraryLoadedAtWindowEnd);
        QVERIFY(imageAtWindowEnd);
        QVERIFY(!QFile::exists(image));
        // The library file stays for the next start.
        QVERIFY(QFile::exists(library));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
