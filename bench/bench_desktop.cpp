// Figures, not tests, for the program on a desktop (run it under umockdev-wrapper):
//   bench_desktop UPDATER [RUNS]
// - Start-up: from launching the real updater (offscreen, outside the mock environment) to its
//   window shown with the package unpacked (the success block's last log record): the first
//   run into an empty working folder, then warm runs with the library already there, each
//   next to a launch of a trivial window of the same size (bench_hello), so the figure that
//   travels between machines is the ratio of the two.
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

// CPU time of a running process's threads in milliseconds (the scheduler's nanosecond counts):
// on a busy machine it varies far less than the wall time.
double CpuMs(qint64 APid)
{
    double ns = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(APid);
    for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + "/" + task + "/schedstat");
        if (stat.open(QIODevice::ReadOnly))
            ns += stat.readAll().split(' ').value(0).toDouble();
    }
    return ns / 1e6;
}

struct TStart {
    double WallMs = -1;
    double CpuMs = -1;
};

// From launching AProgram to AMarker on its standard error.
TStart StartOnce(const QString& AProgram, const QByteArray& AMarker, const QString& ATemp)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* mock : {"LD_PRELOAD", "UMOCKDEV_DIR"})
        env.remove(mock);
    env.insert("TMPDIR", ATemp);
    env.insert("XDG_RUNTIME_DIR", ATemp);
    env.insert("XDG_STATE_HOME", ATemp + "/state");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess program;
    program.setProcessEnvironment(env);
    program.setReadChannel(QProcess::StandardError);
    QElapsedTimer clock;
    clock.start();
    program.start(AProgram, {});
    QByteArray seen;
    TStart start;
    while (clock.elapsed() < 20000 && program.state() != QProcess::NotRunning) {
        program.waitForReadyRead(100);
        seen += program.readAllStandardError();
        if (seen.contains(AMarker)) {
            start.WallMs = double(clock.nsecsElapsed()) / 1e6;
            start.CpuMs = CpuMs(program.processId());
            break;
        }
    }
    program.terminate();
    program.waitForFinished(5000);
    // Killed before its shut-down: the next run must not find its image.
    const QRegularExpression image("BinFileFullPath = ([^\\n]*)");
    if (const auto m = image.match(QString::fromUtf8(seen)); m.hasMatch())
        QFile::remove(m.captured(1).trimmed());
    return start;
}

double Median(std::vector<double> AValues)
{
    std::sort(AValues.begin(), AValues.end());
    return AValues.empty() ? -1 : AValues[AValues.size() / 2];
}

void StartUp(const QString& AUpdater, int ARuns)
{
    QTemporaryDir temp(QDir::tempPath() + "/bench-start-XXXXXX");
    const QString hello = QStringLiteral(BENCH_HELLO);
    const QByteArray updaterShown = "BinFileFullPath = ", helloShown = "shown";
    // Both programs' libraries in the page cache before anything is timed.
    StartOnce(hello, helloShown, temp.path());
    const TStart helloFirst = StartOnce(hello, helloShown, temp.path());
    const TStart first = StartOnce(AUpdater, updaterShown, temp.path());
    std::printf("start-up, launch to window with the package unpacked, against a trivial window of the same size:\n");
    std::printf("  first run (empty working folder): %.1f ms (CPU %.1f ms); trivial window %.1f ms (CPU %.1f ms)\n",
                first.WallMs, first.CpuMs, helloFirst.WallMs, helloFirst.CpuMs);
    if (ARuns <= 0)
        return;
    // Alternating, so that both see the same load on the machine.
    std::vector<double> wall, cpu, helloWall, helloCpu;
    for (int i = 0; i < ARuns; ++i) {
        const TStart h = StartOnce(hello, helloShown, temp.path());
        const TStart u = StartOnce(AUpdater, updaterShown, temp.path());
        helloWall.push_back(h.WallMs);
        helloCpu.push_back(h.CpuMs);
        wall.push_back(u.WallMs);
        cpu.push_back(u.CpuMs);
    }
    std::sort(wall.begin(), wall.end());
    std::printf("  warm (%d runs): min %.1f ms, median %.1f ms, max %.1f ms; trivial window median %.1f ms\n", ARuns,
                wall.front(), Median(wall), wall.back(), Median(helloWall));
    std::printf("  CPU time, medians: %.1f ms; trivial window %.1f ms\n", Median(cpu), Median(helloCpu));
    std::printf("  ratio to the trivial window (medians): wall %.2f, CPU %.2f\n", Median(wall) / Median(helloWall),
                Median(cpu) / Median(helloCpu));
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
