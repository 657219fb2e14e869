// Figures, not tests, for the program on a desktop (run it under umockdev-wrapper):
//   bench_desktop UPDATER [RUNS]
// - Start-up: from launching the real updater (offscreen, outside the mock environment) to its
//   window shown with the package unpacked (the success block's last log record): the first
//   run into an empty working folder, then warm runs with the library already there.
// - Responsiveness: the longest gap between main-thread ticks (a 1 ms timer) during a whole
//   update through the window, clicked when it enables its button, against the simulated
//   analyzer on the umockdev bus taking its datasheet times for real. The aim is under 16 ms.

#include "MainBlock.h"
#include "v.main.h"

#include <m.bsl430.h>
#include <mCodeSite.h>
#include <mCodeSiteHelper.h>
#include <svc.bsl430.h>
#include <svc.h>
#include <svc.resMng.h>

#include <rtl/Units.h>
#include <sim/Analyzer.h>
#include <sim/usb/UsbTestbed.h>
#include <vcl/Forms.h>
#include <win/udev/UdevDeviceWorld.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QThread>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Milliseconds from launch to the package shown, or -1.
double StartOnce(const QString& AUpdater, const QString& ATemp)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* mock : {"LD_PRELOAD", "UMOCKDEV_DIR"})
        env.remove(mock);
    env.insert("TMPDIR", ATemp);
    env.insert("XDG_RUNTIME_DIR", ATemp);
    env.insert("XDG_STATE_HOME", ATemp + "/state");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess updater;
    updater.setProcessEnvironment(env);
    updater.setReadChannel(QProcess::StandardError);
    QElapsedTimer clock;
    clock.start();
    updater.start(AUpdater, {});
    QByteArray seen;
    double ms = -1;
    while (clock.elapsed() < 20000 && updater.state() != QProcess::NotRunning) {
        updater.waitForReadyRead(100);
        seen += updater.readAllStandardError();
        if (seen.contains("BinFileFullPath = ")) {
            ms = double(clock.nsecsElapsed()) / 1e6;
            break;
        }
    }
    updater.terminate();
    updater.waitForFinished(5000);
    // Killed before its shut-down: the next run must not find its image.
    const QRegularExpression image("BinFileFullPath = ([^\\n]*)");
    if (const auto m = image.match(QString::fromUtf8(seen)); m.hasMatch())
        QFile::remove(m.captured(1).trimmed());
    return ms;
}

void StartUp(const QString& AUpdater, int ARuns)
{
    QTemporaryDir temp(QDir::tempPath() + "/bench-start-XXXXXX");
    const double first = StartOnce(AUpdater, temp.path());
    std::vector<double> warm;
    for (int i = 0; i < ARuns; ++i)
        warm.push_back(StartOnce(AUpdater, temp.path()));
    std::sort(warm.begin(), warm.end());
    std::printf("start-up, launch to window with the package unpacked:\n");
    std::printf("  first run (empty working folder): %.1f ms\n", first);
    if (!warm.empty())
        std::printf("  warm (%d runs): min %.1f ms, median %.1f ms, max %.1f ms\n", ARuns, warm.front(),
                    warm[warm.size() / 2], warm.back());
}

QByteArray PasswordOf(const QString& APassFile)
{
    QFile file(APassFile);
    file.open(QIODevice::ReadOnly);
    QByteArray bytes;
    for (const QByteArray& word : file.readAll().simplified().split(' '))
        if (!word.startsWith('@') && word != "q" && !word.isEmpty())
            bytes.append(char(word.toUInt(nullptr, 16)));
    return bytes;
}

// Gaps between 1 ms main-thread ticks while AWork runs on a worker.
struct TStalls {
    std::vector<qint64> Gaps;
    void Print(const char* AWhat)
    {
        if (Gaps.empty())
            return;
        std::sort(Gaps.begin(), Gaps.end());
        std::printf("%s (%zu ticks of 1 ms): longest %.2f ms, 99.9%% %.2f ms, median %.2f ms (aim: under 16 ms)\n", AWhat,
                    Gaps.size(), double(Gaps.back()) / 1e6, double(Gaps[Gaps.size() * 999 / 1000]) / 1e6,
                    double(Gaps[Gaps.size() / 2]) / 1e6);
    }
};

// The flashing service on a worker, its reports shown in a progress bar and a log on this
// thread, as the window shows them: the main thread's share without the window's layout.
void EngineUpdate(sim::usb::UsbTestbed& ABus, const QByteArray& APassword)
{
    TUnits units({{mCodeSite::Initialization, mCodeSite::Finalization},
                  {mCodeSiteHelper::Initialization, mCodeSiteHelper::Finalization},
                  {m_bsl430::Initialization, m_bsl430::Finalization}});
    auto resMng = CreateDataModule<TsvcResMng>();
    svcResMng = resMng.get();
    QString erMsg;
    auto service = CreateDataModule<TsvcBsl430>();
    svcBsl430 = service.get();
    if (!resMng->Initialize(erMsg) || !service->Initialize(resMng->BSL430Path(), erMsg)) {
        std::printf("engine: %s\n", qPrintable(erMsg));
        return;
    }
    auto analyzer = sim::Analyzer::create(sim::Options{sim::Timing::RealTime, {}});
    analyzer->load(0xFFE0, {APassword.begin(), APassword.end()});
    ABus.plug(analyzer);
    QProgressBar bar;
    QPlainTextEdit memo;
    bar.show();
    memo.show();
    service->SetOnProgress([&](int APosition, const QString& AMsg) {
        bar.setValue(APosition);
        if (!AMsg.isEmpty())
            memo.appendPlainText(AMsg);
    });
    bool ok = false;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        QString workerErMsg;
        ok = svcBsl430->CustomSelectedFirmware(workerErMsg);
    }));
    TStalls stalls;
    QElapsedTimer clock;
    qint64 last = 0;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (last)
            stalls.Gaps.push_back(now - last);
        last = now;
    });
    QEventLoop loop;
    QObject::connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit);
    clock.start();
    heartbeat.start(1);
    worker->start();
    loop.exec();
    worker->wait();
    heartbeat.stop();
    QCoreApplication::sendPostedEvents();
    std::printf("update through the flashing service: %s, %.2f s\n", ok ? "done" : "failed", double(clock.nsecsElapsed()) / 1e9);
    stalls.Print("main thread during that update");
    service->SetOnProgress(nullptr);
    service.reset();
    svcBsl430 = nullptr;
    resMng.reset();
    svcResMng = nullptr;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: umockdev-wrapper bench_desktop UPDATER [RUNS]\n");
        return 2;
    }
    // The bus before anything asks whether this is a mock environment.
    sim::usb::UsbTestbed bus;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("bench_desktop");
    StartUp(QString::fromLocal8Bit(argv[1]), argc > 2 ? std::atoi(argv[2]) : 10);

    QTemporaryDir temp(QDir::tempPath() + "/bench-update-XXXXXX");
    qputenv("TMPDIR", QFile::encodeName(temp.path()));
    const QByteArray password = PasswordOf(BENCH_PACKAGE_DIR "/Pass");
    EngineUpdate(bus, password);
    auto analyzer = sim::Analyzer::create(sim::Options{sim::Timing::RealTime, {}});
    analyzer->load(0xFFE0, {password.begin(), password.end()});
    bus.plug(analyzer);

    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longest = 0, updateStart = 0, updateEnd = 0, ticks = 0;
    bool clicked = false, done = false;
    std::vector<qint64> gaps;
    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (clicked && !done && lastTick) {
            gaps.push_back(now - lastTick);
            longest = std::max(longest, now - lastTick);
            ++ticks;
        }
        lastTick = now;
        if (!vMain)
            return;
        if (!clicked && vMain->ButtonUpdate->isEnabled()) {
            clicked = true;
            updateStart = now;
            vMain->ButtonUpdate->click();
            return;
        }
        const int lines = vMain->Memo->Lines.Count();
        const QString last = lines ? vMain->Memo->Lines.Strings(lines - 1) : QString();
        if (clicked && !done && vMain->ButtonUpdate->isEnabled()) {
            done = true;
            updateEnd = now;
            std::printf("update through the window: %s, %.2f s\n", qPrintable(last), double(updateEnd - updateStart) / 1e9);
            QTimer::singleShot(100, vMain, [] { vMain->Close(); });
        }
        if (!clicked && clock.elapsed() > 20000) {
            std::printf("the analyzer was not detected in 20 s: no update\n");
            done = true;
            vMain->Close();
        }
    });
    heartbeat.start(1);
    try {
        // As the updater: the device facilities answer from udev.
        win::SelectDeviceWorld(win::LinuxDeviceWorld());
        TUnits units(ProgramUnits());
        struct TComponents {
            ~TComponents() { Application->DestroyComponents(); }
        } components;
        MainBlock();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    if (!gaps.empty()) {
        std::sort(gaps.begin(), gaps.end());
        std::printf("main thread during the update (1 ms ticks, %lld gaps): longest %.2f ms, 99.9%% %.2f ms, "
                    "median %.2f ms (aim: under 16 ms)\n",
                    static_cast<long long>(ticks), double(longest) / 1e6, double(gaps[gaps.size() * 999 / 1000]) / 1e6,
                    double(gaps[gaps.size() / 2]) / 1e6);
    }
    std::printf("device: %s, %llu resets\n", analyzer->mode() == sim::Mode::Application ? "application runs" : "still in its boot loader",
                static_cast<unsigned long long>(analyzer->stats().resets));
    return 0;
}
