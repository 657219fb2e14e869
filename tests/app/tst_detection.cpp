// Detection of the analyzer's boot loader through the observer thread, the button's rules,
// and whole updates against the simulated analyzer, as a user drives them.

#include "WindowHarness.h"

#include <codesite/Capture.h>
#include <rtl/SysUtils.h>
#include <support/ProgressReport.h>

#include <QDir>
#include <QFileInfo>

#include <atomic>

Q_DECLARE_METATYPE(sim::Faults)

namespace {

bool Detected()
{
    return vMain->LabelCanUpdate->Caption() == cDetectedText;
}

bool WaitFor(const std::function<bool()>& ACondition)
{
    return QTest::qWaitFor(ACondition, 60000);
}

// An analyzer attached before start and an update clicked in the window; its first pause
// holds until ARelease is set (at most a minute).
void StartHeldUpdate(TWindowHarness& AHarness, std::atomic<bool>& ARelease)
{
    AHarness.World().AddHidDevice(cAnalyzerIds);
    AHarness.Create();
    QVERIFY(AHarness.WaitInitialized());
    QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
    AHarness.Plug();
    AHarness.Clock().SetOnSleep([&ARelease](std::chrono::milliseconds) {
        for (int i = 0; i < 60000 && !ARelease; ++i)
            QThread::msleep(1);
    });
    QTest::mouseClick(vMain->ButtonUpdate, Qt::LeftButton);
}

// Lets every hand-off that is under way reach the window: the observer thread's commands
// run in order, so once a marker device's arrival is seen, the ones before it have run.
void Settle(TWindowHarness& AHarness)
{
    QCoreApplication::processEvents();
    QVERIFY(QTest::qWaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, 60000));
    QCoreApplication::processEvents();
    Q_UNUSED(AHarness);
}

// The texts of the flashing service's reports, as its log records them.
QStringList ReportedMessages(const TCodeSiteCapture& ACapture)
{
    QStringList messages;
    for (const TCodeSiteRecord& record : ACapture.RecordsOf(QStringLiteral("TsvcBsl430")))
        if (const auto report = ReadProgressReport(record.Text))
            messages << report->Message;
    return messages;
}

QStringList MemoLines()
{
    QStringList lines;
    for (int i = 0; i < vMain->Memo->Lines.Count(); ++i)
        lines << vMain->Memo->Lines.Strings(i);
    return lines;
}

// Flash holds every byte of the unpacked image.
bool FlashHoldsImage(const sim::Analyzer& AAnalyzer)
{
    QFile file(GetSvcResMng()->BinFileFullPath());
    if (!file.open(QIODevice::ReadOnly))
        return false;
    quint32 address = 0;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('q'))
            continue;
        if (line.startsWith('@')) {
            address = line.mid(1).toUInt(nullptr, 16);
            continue;
        }
        for (const QByteArray& pair : line.split(' '))
            if (!pair.isEmpty()) {
                if (AAnalyzer.read(address, 1)[0] != std::uint8_t(pair.toUInt(nullptr, 16)))
                    return false;
                ++address;
            }
    }
    return true;
}

}  // namespace

class TestDetection : public QObject {
    Q_OBJECT
private slots:
    // The search reports an analyzer attached before start; the success block and the
    // arrival block may come in either order and end alike.
    void attachedBeforeStart_data()
    {
        QTest::addColumn<bool>("arrivalFirst");
        QTest::newRow("success block first") << false;
        QTest::newRow("arrival block first") << true;
    }
    void attachedBeforeStart()
    {
        QFETCH(bool, arrivalFirst);
        TWindowHarness harness;
        harness.World().AddHidDevice(cAnalyzerIds);
        if (arrivalFirst)
            harness.World().Notifications->HidRegistration.Arm();
        else
            harness.World().Setup->Search.Arm();
        harness.Create();
        if (arrivalFirst) {
            // The interface class is watched, the initialisation waits: the analyzer arrives.
            QVERIFY(WaitFor([&] { return harness.World().Notifications->HidRegistration.Reached(); }));
            harness.World().Arrive(cAnalyzerIds, "A1");
            QVERIFY(WaitFor(Detected));
            QCOMPARE(vMain->Caption(), QString(" Firmware Updater"));
            QVERIFY(vMain->ButtonUpdate->isEnabled());
            harness.World().Notifications->HidRegistration.Open();
        } else {
            QVERIFY(WaitFor([] { return vMain->Caption() == "Q452 Firmware Updater"; }));
            QVERIFY(!Detected());
            QVERIFY(!vMain->ButtonUpdate->isEnabled());
            harness.World().Setup->Search.Open();
        }
        QVERIFY(harness.WaitInitialized());
        QVERIFY(WaitFor(Detected));
        Settle(harness);
        QCOMPARE(vMain->Caption(), QString("Q452 Firmware Updater"));
        QCOMPARE(vMain->LabelCanUpdate->FontColor(), cDetectedColor);
        QVERIFY(vMain->ButtonUpdate->isEnabled());
        QCOMPARE(QApplication::focusWidget(), vMain->ButtonUpdate);
        QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
        QCOMPARE(vMain->ProgressBar->Position(), 0);
    }

    // Only the whole texts 2047 and 0200 are the boot loader, by search or by arrival.
    void otherDevicesIgnored_data()
    {
        QTest::addColumn<QString>("ids");
        QTest::addColumn<bool>("bySearch");
        for (const char* ids : {"VID_2047&PID_0201", "VID_2047&PID_200", "VID_1234&PID_0200", "vid_2047&pid_0200",
                                "VID_2047", "PID_0200"}) {
            QTest::addRow("%s by search", ids) << QString(ids) << true;
            QTest::addRow("%s by arrival", ids) << QString(ids) << false;
        }
    }
    void otherDevicesIgnored()
    {
        QFETCH(QString, ids);
        QFETCH(bool, bySearch);
        TWindowHarness harness;
        if (bySearch)
            harness.World().AddHidDevice(ids);
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        if (!bySearch)
            harness.World().Arrive(ids, "X1");
        // An analyzer after it: once it is seen, the device before it was handled.
        harness.World().Arrive(cAnalyzerIds, "MARK");
        QVERIFY(WaitFor(Detected));
        harness.World().Remove(cAnalyzerIds, "MARK");
        QVERIFY(WaitFor([] { return !Detected(); }));
        Settle(harness);
        QCOMPARE(vMain->LabelCanUpdate->FontColor(), cNotDetectedColor);
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
    }

    // A second analyzer is ignored while the label shows Detected; removing either of two turns
    // the label to Not detected; a removal while Not detected changes nothing.
    void secondAnalyzerAndRemovals()
    {
        TWindowHarness harness;
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        harness.World().Arrive(cAnalyzerIds, "A");
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        // Were the second arrival taken, the button's recomputation would reset the bar.
        vMain->ProgressBar->SetPosition(50);
        harness.World().Arrive(cAnalyzerIds, "B");
        harness.World().Remove("VID_1234&PID_0200", "OTHER");
        Settle(harness);
        QVERIFY(Detected());
        QCOMPARE(vMain->ProgressBar->Position(), 50);
        harness.World().Remove(cAnalyzerIds, "B");
        QVERIFY(WaitFor([] { return !Detected(); }));
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QCOMPARE(vMain->LabelCanUpdate->FontColor(), cNotDetectedColor);
        QCOMPARE(vMain->ProgressBar->Position(), 50);
        harness.World().Remove(cAnalyzerIds, "A");
        Settle(harness);
        QVERIFY(!Detected());
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        // The same analyzer again: detected.
        harness.World().Arrive(cAnalyzerIds, "A");
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        QCOMPARE(vMain->ProgressBar->Position(), 0);
    }

    void update_data()
    {
        QTest::addColumn<sim::Faults>("faults");
        QTest::addColumn<bool>("success");
        QTest::addColumn<QString>("lastLine");
        QTest::newRow("success") << sim::Faults{} << true << "Done!";
        sim::Faults refused;
        refused.refusePassword = true;
        refused.refuseDefaultPassword = true;
        QTest::newRow("both passwords refused") << refused << false << "Password FAILED!";
        sim::Faults crc;
        crc.flipBitAt = 0x8000;
        QTest::newRow("verification fails") << crc << false << "Memory verification error";
    }
    // One click: the update runs in the background; the bar, the log and the button follow.
    void update()
    {
        QFETCH(sim::Faults, faults);
        QFETCH(bool, success);
        QFETCH(QString, lastLine);
        TCodeSiteCapture capture;
        TWindowHarness harness;
        harness.World().AddHidDevice(cAnalyzerIds);
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        const auto analyzer = harness.Plug(faults);
        QTest::mouseClick(vMain->ButtonUpdate, Qt::LeftButton);
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        Settle(harness);
        const QStringList lines = MemoLines();
        QCOMPARE(lines.last(), lastLine);
        // Every report moved the bar; only those with a message added a line.
        QStringList messages = ReportedMessages(capture);
        messages.removeAll(QString());
        QCOMPARE(lines, messages);
        QCOMPARE(vMain->ProgressBar->State(), success ? pbsNormal : pbsError);
        if (success) {
            QCOMPARE(vMain->ProgressBar->Position(), 100);
            QVERIFY(FlashHoldsImage(*analyzer));
            // The analyzer leaves after the final block: grey label, disabled button.
            harness.World().Remove(cAnalyzerIds, "A");
            QVERIFY(WaitFor([] { return !vMain->ButtonUpdate->isEnabled(); }));
            QVERIFY(!Detected());
        } else {
            QVERIFY(vMain->ProgressBar->Position() < 100);
            // A later enabling returns the bar to normal at 0; the log keeps its lines.
            harness.World().Arrive(cAnalyzerIds, "MARK");
            harness.World().Remove(cAnalyzerIds, "MARK");
            QVERIFY(WaitFor([] { return !vMain->ButtonUpdate->isEnabled(); }));
            harness.World().Arrive(cAnalyzerIds, "MARK");
            QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
            QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
            QCOMPARE(vMain->ProgressBar->Position(), 0);
            QCOMPARE(MemoLines(), lines);
        }
        QVERIFY(harness.Boxes().Shown.isEmpty());
    }

    // The analyzer leaves while the update runs (the cable pulled): the label turns grey, the
    // final block enables the button all the same, on success as on failure. Plugging the
    // analyzer in again, during the update or after it, brings "Analyzer has been detected."
    // back; while the update runs the button stays disabled, and the enabling after it returns
    // the bar to normal at 0 as every enabling does, the log keeping its lines.
    void removalDuringUpdate_data()
    {
        QTest::addColumn<bool>("fails");
        QTest::addColumn<bool>("backDuring");
        QTest::newRow("succeeds, back after it") << false << false;
        QTest::newRow("fails, back after it") << true << false;
        QTest::newRow("fails, back during it") << true << true;
    }
    void removalDuringUpdate()
    {
        QFETCH(bool, fails);
        QFETCH(bool, backDuring);
        TWindowHarness harness;
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        harness.World().Arrive(cAnalyzerIds, "A");
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        sim::Faults faults;
        if (fails)
            faults.flipBitAt = 0x8000;
        harness.Plug(faults);
        // At the update's first pause the analyzer leaves, with backDuring it comes back at the
        // second; the update goes on once the window shows each step.
        std::atomic<int> step{-1};
        std::atomic<bool> stepSeen{false};
        std::atomic<bool> enabledWhileRunning{false};
        harness.Clock().SetOnSleep([&](std::chrono::milliseconds) {
            const int next = step + 1;
            if (next > (backDuring ? 1 : 0))
                return;
            stepSeen = false;
            step = next;
            QMetaObject::invokeMethod(qApp, [&harness, next] {
                if (next == 0)
                    harness.World().Remove(cAnalyzerIds, "A");
                else
                    harness.World().Arrive(cAnalyzerIds, "A");
            }, Qt::QueuedConnection);
            for (int i = 0; i < 60000 && !stepSeen; ++i)
                QThread::msleep(1);
        });
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (stepSeen || step < 0 || Detected() != (step == 1))
                return;
            enabledWhileRunning = enabledWhileRunning || vMain->ButtonUpdate->isEnabled();
            stepSeen = true;
        });
        watch.start(1);
        QTest::mouseClick(vMain->ButtonUpdate, Qt::LeftButton);
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        harness.Clock().SetOnSleep(nullptr);
        watch.stop();
        QCOMPARE(step.load(), backDuring ? 1 : 0);
        QVERIFY(stepSeen);
        QVERIFY(!enabledWhileRunning);
        QCOMPARE(vMain->ProgressBar->State(), fails ? pbsError : pbsNormal);
        if (!fails)
            QCOMPARE(vMain->ProgressBar->Position(), 100);
        QCOMPARE(Detected(), backDuring);
        const QStringList lines = MemoLines();
        if (!backDuring) {
            harness.World().Arrive(cAnalyzerIds, "A");
            QVERIFY(WaitFor(Detected));
            Settle(harness);
            QCOMPARE(vMain->LabelCanUpdate->FontColor(), cDetectedColor);
            QVERIFY(vMain->ButtonUpdate->isEnabled());
            QCOMPARE(QApplication::focusWidget(), vMain->ButtonUpdate);
            QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
            QCOMPARE(vMain->ProgressBar->Position(), 0);
            QCOMPARE(MemoLines(), lines);
        }
        // A second analyzer while the label shows Detected is still ignored: taken, it would
        // recompute the button and reset the bar.
        vMain->ProgressBar->SetPosition(50);
        harness.World().Arrive(cAnalyzerIds, "B");
        Settle(harness);
        QVERIFY(Detected());
        QCOMPARE(vMain->ProgressBar->Position(), 50);
    }

    // A second update uses the image unpacked at start; the package is not read again.
    void secondUpdateReusesTheImage()
    {
        TWindowHarness harness;
        harness.World().AddHidDevice(cAnalyzerIds);
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        const QString image = GetSvcResMng()->BinFileFullPath();
        const QDateTime written = QFileInfo(image).lastModified();
        for (int round = 0; round < 2; ++round) {
            sim::Bus::instance().unplugAll();
            const auto analyzer = harness.Plug();
            QTest::mouseClick(vMain->ButtonUpdate, Qt::LeftButton);
            QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
            QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
            QCOMPARE(vMain->ProgressBar->Position(), 100);
            QVERIFY(FlashHoldsImage(*analyzer));
        }
        QCOMPARE(GetSvcResMng()->BinFileFullPath(), image);
        QCOMPARE(QFileInfo(image).lastModified(), written);
        QCOMPARE(QDir(QFileInfo(image).path()).entryList({"*.txt"}, QDir::Files), QStringList{QFileInfo(image).fileName()});
        QCOMPARE(MemoLines().count("Done!"), 2);
    }

    // An exception out of the update ends its task silently: no final block, the button stays
    // disabled for the run; the window can be closed, nothing runs in the library any more.
    void updateTaskRaises()
    {
        TWindowHarness harness;
        harness.World().AddHidDevice(cAnalyzerIds);
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        harness.Plug();
        harness.Clock().SetOnSleep([](std::chrono::milliseconds) { throw EConvertError("the clock failed"); });
        QTest::mouseClick(vMain->ButtonUpdate, Qt::LeftButton);
        Settle(harness);
        harness.Clock().SetOnSleep(nullptr);
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
        harness.World().Remove(cAnalyzerIds, "A");
        QVERIFY(WaitFor([] { return !Detected(); }));
        harness.World().Arrive(cAnalyzerIds, "A");
        QVERIFY(WaitFor(Detected));
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QVERIFY(harness.Boxes().Shown.isEmpty());
        QVERIFY(vMain->Close());
    }

    // Closing while the update runs is refused with a message; afterwards the window closes.
    void closeDuringUpdate()
    {
        TWindowHarness harness;
        std::atomic<bool> closeTried{false};
        StartHeldUpdate(harness, closeTried);
        QVERIFY(!vMain->Close());
        closeTried = true;
        QVERIFY(vMain->isVisible());
        QVERIFY(!Application->Terminated());
        QCOMPARE(harness.Boxes().Shown.size(), 1);
        QCOMPARE(harness.Boxes().Shown.first().Icon, QMessageBox::Warning);
        QCOMPARE(harness.Boxes().Shown.first().Text, cUpdateRunningText);
        QVERIFY(WaitFor([] { return vMain->ButtonUpdate->isEnabled(); }));
        harness.Clock().SetOnSleep(nullptr);
        QCOMPARE(vMain->ProgressBar->Position(), 100);
        QVERIFY(vMain->Close());
        QVERIFY(Application->Terminated());
    }

    // A close asked for by a signal during the update: no box, the log memo says why the
    // window waits; the update runs to its end, then the window closes by itself.
    void signalDuringUpdate()
    {
        TWindowHarness harness;
        std::atomic<bool> asked{false};
        StartHeldUpdate(harness, asked);
        vMain->RequestClose("SIGTERM");
        asked = true;
        QVERIFY(vMain->isVisible());
        QVERIFY(!Application->Terminated());
        QVERIFY(harness.Boxes().Shown.isEmpty());
        const QString waiting = cCloseAfterUpdateText.arg("SIGTERM");
        QVERIFY(vMain->Memo->toPlainText().split(u'\n').contains(waiting));
        QVERIFY(WaitFor([] { return Application->Terminated(); }));
        harness.Clock().SetOnSleep(nullptr);
        QVERIFY(!vMain->isVisible());
        QCOMPARE(vMain->ProgressBar->Position(), 100);
        QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
        const int lines = vMain->Memo->Lines.Count();
        QCOMPARE(vMain->Memo->Lines.Strings(lines - 1), QString("Done!"));
    }
};

QTEST_MAIN(TestDetection)
#include "tst_detection.moc"
