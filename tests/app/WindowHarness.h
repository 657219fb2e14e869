#pragma once
// The program as its main block builds it, inside a test: the program's units, the package
// manager, the main window and the flashing service made by the application object, on the
// offscreen platform. The test clock stands in for the update's pauses; message boxes are
// recorded and closed as soon as they show, so nothing blocks.

#include <MainBlock.h>
#include <svc.bsl430.h>
#include <svc.h>
#include <svc.resMng.h>
#include <v.main.h>

#include <rtl/Clock.h>
#include <rtl/Units.h>
#include <sim/Analyzer.h>
#include <vcl/Forms.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QRegularExpression>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>

struct TShownBox {
    QMessageBox::Icon Icon;
    QString Text;
};

// Records every message box when it shows and presses its first button.
class TMessageBoxes : public QObject {
public:
    TMessageBoxes() { qApp->installEventFilter(this); }
    ~TMessageBoxes() override { qApp->removeEventFilter(this); }

    QList<TShownBox> Shown;

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override
    {
        if (AEvent->type() == QEvent::Show)
            if (auto* box = qobject_cast<QMessageBox*>(AWatched)) {
                Shown.append({box->icon(), box->text()});
                QPointer<QMessageBox> guard(box);
                QTimer::singleShot(0, box, [guard] {
                    if (guard && !guard->buttons().isEmpty())
                        guard->buttons().first()->click();
                });
            }
        return QObject::eventFilter(AWatched, AEvent);
    }
};

// The package's password bytes, from its TI-TXT text.
inline std::vector<std::uint8_t> PackagePassword()
{
    std::vector<std::uint8_t> bytes;
    for (const QString& pair : GetSvcResMng()->Pass().split(QRegularExpression("\\s+"), Qt::SkipEmptyParts))
        if (!pair.startsWith('@') && pair != "q")
            bytes.push_back(std::uint8_t(pair.toUInt(nullptr, 16)));
    return bytes;
}

class TWindowHarness {
public:
    TWindowHarness() : FClockOverride(FClock), FUnits(std::make_unique<TUnits>(ProgramUnits())) {}

    ~TWindowHarness() { Stop(); }

    TWindowHarness(const TWindowHarness&) = delete;
    TWindowHarness& operator=(const TWindowHarness&) = delete;

    // The main block's creation steps; the window is shown as Run shows it.
    void Create()
    {
        Application->Initialize();
        Application->SetMainFormOnTaskBar(true);
        Application->CreateForm(svcResMng);
        Application->CreateForm(vMain);
        Application->CreateForm(svcBsl430);
        vMain->show();
    }

    // Waits until the initialisation task has handed back its result.
    bool WaitInitialized()
    {
        return QTest::qWaitFor([] { return GetSvcResMng()->Initialized() && vMain->windowTitle() != " Firmware Updater"; },
                               30000);
    }

    // The shut-down: the application's components, then the units' finalisations.
    void Stop()
    {
        if (!FUnits)
            return;
        // The program refuses to close while a task runs; a test ends only after them too.
        if (!QTest::qWaitFor([] { return QThreadPool::globalInstance()->activeThreadCount() == 0; }, 60000))
            qFatal("a task of the window did not end");
        if (Application)
            Application->DestroyComponents();
        sim::Bus::instance().unplugAll();
        FUnits.reset();
        QCoreApplication::sendPostedEvents();
    }

    // An analyzer in update mode on the simulated bus, with the firmware the package expects.
    std::shared_ptr<sim::Analyzer> Plug(const sim::Faults& AFaults = {})
    {
        auto analyzer = sim::Analyzer::create(sim::Options{sim::Timing::Instant, AFaults});
        analyzer->load(0xFFE0, PackagePassword());
        sim::Bus::instance().plug(analyzer);
        return analyzer;
    }

    TTestClock& Clock() { return FClock; }
    TMessageBoxes& Boxes() { return FBoxes; }

private:
    TTestClock FClock;
    TClockOverride FClockOverride;
    TMessageBoxes FBoxes;
    std::unique_ptr<TUnits> FUnits;
};
