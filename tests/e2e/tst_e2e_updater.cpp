// The real updater binary on an X display of its own (Xvfb) with the simulated analyzer on a
// umockdev USB bus, driven the way a user drives it: wait until the "Upgrade Firmware" button
// looks enabled, click it with the mouse (xdotool), watch the progress to the end. Afterwards
// the analyzer has been reset and its flash holds the package image. A second case loses the
// analyzer half-way through, plugs it in again and updates it from the same window.

#include "FlashingHarness.h"

#include <sim/usb/UsbTestbed.h>
#include <support/ProgressReport.h>

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

// Helpers run outside the mock environment.
QProcessEnvironment PlainEnvironment(const QString& ADisplay = QString())
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* mock : {"LD_PRELOAD", "UMOCKDEV_DIR"})
        env.remove(mock);
    if (!ADisplay.isEmpty())
        env.insert("DISPLAY", ADisplay);
    return env;
}

QByteArray Run(const QString& ADisplay, const QString& AProgram, const QStringList& AArgs, int ATimeoutMs = 20000)
{
    QProcess p;
    p.setProcessEnvironment(PlainEnvironment(ADisplay));
    p.start(AProgram, AArgs);
    if (!p.waitForFinished(ATimeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QByteArray();
    return p.readAllStandardOutput();
}

// The window of the updater and what a user does with it.
class TUserAtWindow {
public:
    TUserAtWindow(QString ADisplay, QString AWindow) : FDisplay(std::move(ADisplay)), FWindow(std::move(AWindow))
    {
        const QString geometry = QString::fromUtf8(Run(FDisplay, "xdotool", {"getwindowgeometry", "--shell", FWindow}));
        const auto width = QRegularExpression("WIDTH=(\\d+)").match(geometry);
        FButton = QPoint(width.hasMatch() ? width.captured(1).toInt() - 105 : 0, 213);
    }

    QImage Screenshot() const
    {
        return QImage::fromData(Run(FDisplay, "import", {"-window", FWindow, "png:-"}), "PNG");
    }

    // The button's caption is black once it is enabled, grey before.
    bool ButtonLooksEnabled() const
    {
        const QImage shot = Screenshot();
        if (shot.isNull())
            return false;
        int darkest = 255;
        for (int y = FButton.y() - 7; y < FButton.y() + 7; ++y)
            for (int x = FButton.x() - 45; x < FButton.x() + 45; ++x)
                if (shot.valid(x, y))
                    darkest = std::min(darkest, qGray(shot.pixel(x, y)));
        return darkest < 64;
    }

    bool WaitForEnabledButton(int ATimeoutMs) const
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ATimeoutMs) {
            if (ButtonLooksEnabled())
                return true;
            QTest::qWait(100);
        }
        return false;
    }

    void ClickButton() const
    {
        Run(FDisplay, "xdotool", {"mousemove", "--window", FWindow, QString::number(FButton.x()),
                                   QString::number(FButton.y()), "click", "1"});
    }

private:
    QString FDisplay;
    QString FWindow;
    QPoint FButton;
};

// The progress reports the updater logs, as "position|message".
class TProgressWatch {
public:
    explicit TProgressWatch(QProcess& AUpdater) : FUpdater(AUpdater) {}

    // Reads until a report with this message arrives; false when none came in time.
    bool WaitFor(const QString& AMessage, int ATimeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < ATimeoutMs && FUpdater.state() == QProcess::Running) {
            FUpdater.waitForReadyRead(100);
            while (FUpdater.canReadLine()) {
                const QString line = QString::fromUtf8(FUpdater.readLine()).trimmed();
                if (const auto report = ReadProgressReport(line)) {
                    Reports << report->Line();
                    if (report->Message == AMessage)
                        return true;
                }
            }
        }
        return false;
    }

    QStringList Reports;

private:
    QProcess& FUpdater;
};

bool Holds(const sim::Analyzer& AAnalyzer, const std::vector<TImageRun>& AImage)
{
    for (const TImageRun& run : AImage) {
        const auto held = AAnalyzer.read(run.Address, std::size_t(run.Bytes.size()));
        if (QByteArray(reinterpret_cast<const char*>(held.data()), qsizetype(held.size())) != run.Bytes)
            return false;
    }
    return true;
}

}  // namespace

class TestUpdaterE2E : public QObject {
    Q_OBJECT
private:
    std::unique_ptr<sim::usb::UsbTestbed> FBus;
    QProcess FXvfb;
    QString FDisplay;
    QTemporaryDir FTemp{"/tmp/e2e-updater-XXXXXX"};
    std::vector<TImageRun> FOld = ReadTiTxt(OLD_FIRMWARE);
    std::vector<TImageRun> FImage = ReadTiTxt(PACKAGE_IMAGE);

    std::shared_ptr<sim::Analyzer> PlugAnalyzer(const sim::Faults& AFaults = {})
    {
        auto analyzer = sim::Analyzer::create(sim::Options{sim::Timing::Instant, AFaults});
        for (const TImageRun& run : FOld)
            analyzer->load(run.Address, {run.Bytes.begin(), run.Bytes.end()});
        FBus->plug(analyzer);
        return analyzer;
    }

    void StartUpdater(QProcess& AUpdater)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", FDisplay);
        env.insert("TMPDIR", FTemp.path());
        env.insert("XDG_RUNTIME_DIR", FTemp.path());
        env.remove("QT_QPA_PLATFORM");
        AUpdater.setProcessEnvironment(env);
        AUpdater.setReadChannel(QProcess::StandardError);
        AUpdater.start(UPDATER, {});
        QVERIFY(AUpdater.waitForStarted(10000));
    }

    QString WindowOf()
    {
        return QString::fromUtf8(
                   Run(FDisplay, "xdotool", {"search", "--sync", "--limit", "1", "--name", "Firmware Updater"}, 30000))
            .trimmed();
    }

    // Ends the updater on every way out of a case.
    struct TRunning {
        QProcess& Updater;
        ~TRunning()
        {
            Updater.terminate();
            if (!Updater.waitForFinished(10000))
                Updater.kill();
            Updater.waitForFinished(5000);
        }
    };

private slots:
    void initTestCase()
    {
        FBus = std::make_unique<sim::usb::UsbTestbed>();
        FXvfb.setProcessEnvironment(PlainEnvironment());
        FXvfb.setStandardOutputFile(FTemp.filePath("display"));
        FXvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"});
        QVERIFY(FXvfb.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile(FTemp.filePath("display")).size() > 0, 20000);
        QFile display(FTemp.filePath("display"));
        QVERIFY(display.open(QIODevice::ReadOnly));
        FDisplay = ":" + QString::fromUtf8(display.readLine()).trimmed();
    }

    void cleanupTestCase()
    {
        FXvfb.terminate();
        FXvfb.waitForFinished(10000);
        FBus.reset();
    }

    void detectionUpdateAndReset()
    {
        const auto analyzer = PlugAnalyzer();
        QProcess updater;
        StartUpdater(updater);
        const TRunning running{updater};
        const QString window = WindowOf();
        QVERIFY(!window.isEmpty());
        const TUserAtWindow user(FDisplay, window);
        QVERIFY2(user.WaitForEnabledButton(30000), "the analyzer was not detected");
        user.ClickButton();
        TProgressWatch progress(updater);
        QVERIFY2(progress.WaitFor("Done!", 120000), qPrintable(progress.Reports.join("\n")));
        QVERIFY(progress.Reports.contains("85|Memory successfully verified"));
        QCOMPARE(progress.Reports.last(), QString("100|Done!"));
        // The forced reset: the firmware runs, the boot loader is gone from the bus.
        QTRY_COMPARE_WITH_TIMEOUT(analyzer->mode(), sim::Mode::Application, 10000);
        QCOMPARE(analyzer->stats().resets, 1u);
        QVERIFY(Holds(*analyzer, FImage));
    }

    void lostHalfWayThenUpdatedAgain()
    {
        sim::Faults faults;
        faults.unplugAfterCommand = 0x1B;  // RX Data Block Fast: in the middle of the image
        faults.unplugAfterCount = 2000;
        const auto lost = PlugAnalyzer(faults);
        QProcess updater;
        StartUpdater(updater);
        const TRunning running{updater};
        const QString window = WindowOf();
        QVERIFY(!window.isEmpty());
        const TUserAtWindow user(FDisplay, window);
        QVERIFY(user.WaitForEnabledButton(30000));
        user.ClickButton();
        TProgressWatch progress(updater);
        QVERIFY2(progress.WaitFor("Memory verification error", 120000), qPrintable(progress.Reports.join("\n")));
        QCOMPARE(lost->mode(), sim::Mode::Unplugged);
        // The reset vector is written last: still blank, so the device powers up in its boot loader.
        QCOMPARE(lost->read(0xFFFE, 2), (std::vector<std::uint8_t>{0xFF, 0xFF}));

        // Plugged in again: the same device, its memory as it was left.
        auto again = sim::Analyzer::create();
        for (const auto& [start, end] : {std::pair{0x1800u, 0x1A00u}, std::pair{0x8000u, 0x48000u}})
            again->load(start, lost->read(start, end - start));
        FBus->plug(again);
        QVERIFY(user.WaitForEnabledButton(30000));
        user.ClickButton();
        QVERIFY2(progress.WaitFor("Done!", 120000), qPrintable(progress.Reports.join("\n")));
        QTRY_COMPARE_WITH_TIMEOUT(again->mode(), sim::Mode::Application, 10000);
        QVERIFY(Holds(*again, FImage));
    }
};

QTEST_GUILESS_MAIN(TestUpdaterE2E)
#include "tst_e2e_updater.moc"
