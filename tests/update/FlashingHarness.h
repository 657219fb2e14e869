#pragma once
// One whole firmware update as the program runs it: the package manager unpacks the test
// package (its library is the spy in front of the simulated-analyzer BSL library), the
// flashing service loads that library from the working folder and runs CustomSelectedFirmware
// on a worker thread while this thread's Qt event loop receives the reports. Time is the test
// clock's; the analyzer is the simulated one on the in-process bus.

#include <m.bsl430.h>
#include <mCodeSite.h>
#include <mCodeSiteHelper.h>
#include <svc.bsl430.h>
#include <svc.h>
#include <svc.resMng.h>

#include <codesite/Capture.h>
#include <rtl/Clock.h>
#include <rtl/Units.h>
#include <sim/Analyzer.h>
#include <support/ProgressReport.h>
#include <win/LibLoaderApi.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QThread>

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

struct TRunResult {
    bool Result = false;
    QString ErMsg;
    std::exception_ptr Exception;
    QStringList Reports;      // as the callback received them on this thread: "position|message"
    QStringList WorkerTrace;  // the service's report log lines and the waits, in worker order
    QStringList Exits;        // exit records: "Method" or "Method=True/False"
    bool Balanced = false;    // every exit closes the innermost open entry, none left open
    QStringList Calls;        // calls into the library, as the spy saw them
};

// A contiguous run of image bytes.
struct TImageRun {
    quint32 Address;
    QByteArray Bytes;
};

// TI-TXT: "@addr" lines, lines of hex byte pairs, "q".
inline std::vector<TImageRun> ReadTiTxt(const QString& APath)
{
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(APath));
    std::vector<TImageRun> runs;
    for (const QByteArray& raw : file.readAll().split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line.startsWith('q'))
            continue;
        if (line.startsWith('@')) {
            runs.push_back({line.mid(1).toUInt(nullptr, 16), QByteArray()});
            continue;
        }
        for (const QByteArray& pair : line.split(' '))
            if (!pair.isEmpty())
                runs.back().Bytes.append(char(pair.toUInt(nullptr, 16)));
    }
    return runs;
}

class TFlashingHarness {
public:
    using TCallHook = std::function<void(const QString& AName, const QString& AArgs)>;

    TFlashingHarness()
        : FUnits({{mCodeSite::Initialization, mCodeSite::Finalization},
                  {mCodeSiteHelper::Initialization, mCodeSiteHelper::Finalization},
                  {m_bsl430::Initialization, m_bsl430::Finalization}}),
          FClockOverride(FClock)
    {
        FClock.SetOnSleep([this](std::chrono::milliseconds AWait) { Slept(AWait); });
        FResMng = CreateDataModule<TsvcResMng>();
        svcResMng = FResMng.get();
        QString erMsg;
        if (!FResMng->Initialize(erMsg))
            qFatal("package: %s", qPrintable(erMsg));
        // Our own reference to the library the service loads: the spy's controls.
        FSpy = LoadLibraryW(FResMng->BSL430Path());
        if (!FSpy)
            qFatal("spy: %s", qPrintable(GetLastErrorText()));
        Spy<void (*)()>("Spy_Reset")();
        Spy<void (*)(THook, void*)>("Spy_SetHook")(&TFlashingHarness::OnSpyCall, this);
        FService = CreateDataModule<TsvcBsl430>();
        if (!FService->Initialize(FResMng->BSL430Path(), erMsg))
            qFatal("service: %s", qPrintable(erMsg));
    }

    ~TFlashingHarness()
    {
        FService.reset();
        Spy<void (*)()>("Spy_Reset")();
        FreeLibrary(FSpy);
        sim::Bus::instance().unplugAll();
        FResMng.reset();
        svcResMng = nullptr;
        QCoreApplication::sendPostedEvents();
    }

    TFlashingHarness(const TFlashingHarness&) = delete;
    TFlashingHarness& operator=(const TFlashingHarness&) = delete;

    // A device in update mode. AOldPassword: the password area holds the package's password
    // (the firmware on the device is the one the package expects).
    std::shared_ptr<sim::Analyzer> Plug(const sim::Faults& AFaults = {}, bool AOldPassword = true)
    {
        auto analyzer = sim::Analyzer::create(sim::Options{sim::Timing::Instant, AFaults});
        if (AOldPassword)
            analyzer->load(0xFFE0, PackagePassword());
        sim::Bus::instance().plug(analyzer);
        return analyzer;
    }

    // The 32 bytes of the package's password text.
    std::vector<std::uint8_t> PackagePassword() const
    {
        std::vector<std::uint8_t> bytes;
        for (const QString& pair : FResMng->Pass().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
            if (!pair.startsWith('@') && pair != "q")
                bytes.push_back(std::uint8_t(pair.toUInt(nullptr, 16)));
        if (bytes.size() != 32)
            qFatal("package password has %zu bytes", bytes.size());
        return bytes;
    }

    // Called on the worker before each library call is forwarded; may throw.
    void OnCall(TCallHook AHook)
    {
        std::lock_guard lock(FMutex);
        FCallHook = std::move(AHook);
    }
    // Called on the worker after each wait; may throw.
    void OnSleep(std::function<void(std::chrono::milliseconds)> AHook)
    {
        std::lock_guard lock(FMutex);
        FSleepHook = std::move(AHook);
    }

    // Runs the update on a worker while this thread's event loop delivers the reports.
    // ASpinLoop false: no loop runs and the callback stays as the test set it; the reports
    // wait in the queue for the test to deliver them.
    TRunResult Run(bool ASpinLoop = true)
    {
        TRunResult r;
        if (ASpinLoop)
            FService->SetOnProgress([&r](int APosition, const QString& AMsg) {
                r.Reports << QString::number(APosition) + "|" + AMsg;
            });
        FCapture.Clear();
        {
            std::lock_guard lock(FMutex);
            FWaits.clear();
        }
        // QThread::wait hands the worker's writes over inside Qt, where ThreadSanitizer does not
        // see it: the worker holds this lock while it works, and this thread takes it after.
        std::mutex working;
        std::unique_ptr<QThread> worker(QThread::create([this, &r, &working] {
            std::lock_guard lock(working);
            try {
                r.Result = FService->CustomSelectedFirmware(r.ErMsg);
            } catch (...) {
                r.Exception = std::current_exception();
            }
        }));
        worker->start();
        // The reports are taken while the worker runs. Its end is awaited here rather than
        // signalled to a loop: a signal Qt queues from its own thread's end hands its event over
        // inside Qt, where ThreadSanitizer does not see it.
        if (ASpinLoop) {
            while (!worker->wait(QDeadlineTimer(10)))
                QCoreApplication::processEvents();
        }
        worker->wait();
        { std::lock_guard lock(working); }
        if (ASpinLoop) {
            QCoreApplication::sendPostedEvents();
            FService->SetOnProgress(nullptr);
        }
        Collect(r);
        return r;
    }

    // Loads another library into the service (after unloading the one it has).
    bool ReinitializeService(const QString& ADllPath, QString& AErMsg)
    {
        FService->Finalize();
        return FService->Initialize(ADllPath, AErMsg);
    }

    TsvcBsl430& Service() { return *FService; }
    TOwned<TsvcBsl430>& ServiceOwner() { return FService; }
    TsvcResMng& ResMng() { return *FResMng; }
    TTestClock& Clock() { return FClock; }
    TCodeSiteCapture& Capture() { return FCapture; }

    // Every image byte is on the device.
    bool FlashHoldsImage(const sim::Analyzer& AAnalyzer, QString& AWhere) const
    {
        for (const TImageRun& run : ReadTiTxt(FResMng->BinFileFullPath())) {
            const std::vector<std::uint8_t> held = AAnalyzer.read(run.Address, std::size_t(run.Bytes.size()));
            for (qsizetype i = 0; i < run.Bytes.size(); ++i)
                if (held[std::size_t(i)] != std::uint8_t(run.Bytes[i])) {
                    AWhere = QString::number(run.Address + quint32(i), 16);
                    return false;
                }
        }
        return true;
    }

    // The expected list with {image} standing for the unpacked image's path.
    QStringList Expand(QStringList AExpected) const
    {
        for (QString& entry : AExpected)
            entry.replace("{image}", FResMng->BinFileFullPath());
        return AExpected;
    }

private:
    using THook = void (*)(const char*, const char*, void*);

    template <class T>
    T Spy(const char* AName) const
    {
        FARPROC proc = GetProcAddress(FSpy, AName);
        if (!proc)
            qFatal("spy control %s missing", AName);
        return reinterpret_cast<T>(proc);
    }

    static void OnSpyCall(const char* AName, const char* AArgs, void* AContext)
    {
        auto* self = static_cast<TFlashingHarness*>(AContext);
        TCallHook hook;
        {
            std::lock_guard lock(self->FMutex);
            hook = self->FCallHook;
        }
        if (hook)
            hook(QString::fromUtf8(AName), QString::fromUtf8(AArgs));
    }

    void Slept(std::chrono::milliseconds AWait)
    {
        std::function<void(std::chrono::milliseconds)> hook;
        {
            std::lock_guard lock(FMutex);
            FWaits.push_back({FCapture.Records().size(), AWait});
            hook = FSleepHook;
        }
        if (hook)
            hook(AWait);
    }

    void Collect(TRunResult& AResult)
    {
        const QList<TCodeSiteRecord> records = FCapture.Records();
        std::vector<std::pair<qsizetype, std::chrono::milliseconds>> waits;
        {
            std::lock_guard lock(FMutex);
            waits = FWaits;
        }
        std::size_t nextWait = 0;
        QStringList open;
        AResult.Balanced = true;
        for (qsizetype i = 0; i <= records.size(); ++i) {
            while (nextWait < waits.size() && waits[nextWait].first == i)
                AResult.WorkerTrace << "wait " + QString::number(waits[nextWait++].second.count());
            if (i == records.size())
                break;
            const TCodeSiteRecord& record = records[i];
            if (record.Category != "TsvcBsl430")
                continue;
            if (record.Kind == TCodeSiteMsgKind::Enter) {
                open << record.Text;
            } else if (record.Kind == TCodeSiteMsgKind::Exit) {
                if (open.isEmpty() || open.takeLast() != record.Text)
                    AResult.Balanced = false;
                AResult.Exits << (record.Value.isValid() ? record.Text + "=" + record.ValueText() : record.Text);
            } else if (const auto report = ReadProgressReport(record.Text)) {
                AResult.WorkerTrace << report->Line();
            }
        }
        if (!open.isEmpty())
            AResult.Balanced = false;
        AResult.Calls = QString::fromUtf8(Spy<const char* (*)()>("Spy_Calls")()).split('\n', Qt::SkipEmptyParts);
    }

    TUnits FUnits;
    TTestClock FClock;
    TClockOverride FClockOverride;
    TCodeSiteCapture FCapture;
    TOwned<TsvcResMng> FResMng;
    TOwned<TsvcBsl430> FService;
    HMODULE FSpy = 0;

    std::mutex FMutex;
    TCallHook FCallHook;
    std::function<void(std::chrono::milliseconds)> FSleepHook;
    std::vector<std::pair<qsizetype, std::chrono::milliseconds>> FWaits;
};

// The reports of a trace, without the waits.
inline QStringList WithoutWaits(const QStringList& ATrace)
{
    QStringList reports;
    for (const QString& entry : ATrace)
        if (!entry.startsWith("wait "))
            reports << entry;
    return reports;
}
