// The updater program: the platform's start (the application over Qt, the units'
// initialisations), the main block, and the end in the platform's order: the application's
// components, the last created first, then the units' finalisations in reverse order.

#include "MainBlock.h"
#include "v.main.h"

#include <codesite/CodeSite.h>
#include <linux/CloseSignals.h>
#include <linux/InstanceLock.h>
#include <rtl/SysUtils.h>
#include <svc.resMng.h>
#include <vcl/Dialogs.h>
#include <vcl/Forms.h>
#include <win/DeviceWorld.h>
#include <win/udev/UdevDeviceWorld.h>

#include <QApplication>

#include <cstdlib>
#include <exception>

int main(int argc, char* argv[])
{
    // Qt's messages and the platform's reports go to the log file too, from the start.
    const TCodeSiteQtMessages qtMessages;
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral(ANALYZER_UPDATER_NAME));
    // The program's version resource.
    QCoreApplication::setApplicationVersion(QStringLiteral(ANALYZER_UPDATER_FILE_VERSION));
    // The device facilities answer from udev; the monitor is read on this thread's loop.
    win::SelectDeviceWorld(win::LinuxDeviceWorld());
    struct TWorld {
        ~TWorld() { win::SelectDeviceWorld({}); }
    } world;
    try {
        TUnits units(ProgramUnits());
        // A second copy must neither unpack over this one's working folder nor talk to the
        // same boot loader: it says so and ends before anything is created.
        TInstanceLock::TStatus lockStatus;
        QString lockErMsg;
        // Without the lock nothing keeps a second copy away: a lock that cannot be taken ends
        // the start as a busy one does.
        // The lock is made in the working folder: its parts are judged first and once more when
        // the lock has made them, so that it is never made where a link points.
        std::unique_ptr<TInstanceLock> instanceLock;
        if (TsvcResMng::CheckWorkFolderPath(lockErMsg)) {
            instanceLock = TInstanceLock::Acquire(TsvcResMng::GetWorkFolder(), lockStatus, lockErMsg);
            if (instanceLock && !TsvcResMng::CheckWorkFolderPath(lockErMsg))
                instanceLock.reset();
        }
        if (!instanceLock) {
            CodeSite()->SendError(lockErMsg);
            MessageDlg(lockErMsg, mtError, {mbOK}, 0);
            return 1;
        }
        // A logout, Ctrl+C or a hang-up asks the window to close, up to the end of the shut-down.
        // The main form is the window while it lives; the shut-down empties it before it goes.
        const TCloseSignals closeSignals([](int ASignal) {
            if (auto* window = qobject_cast<TvMain*>(Application ? Application->MainForm() : nullptr))
                window->RequestClose(TCloseSignals::Name(ASignal));
        });
        struct TComponents {
            ~TComponents() { Application->DestroyComponents(); }
        } components;
        MainBlock();
        // The start-up's task still runs and uses what the shut-down would free: end here, as
        // a killed copy does; the next start removes the image it may have left.
        if (vMain && vMain->StartUpAbandoned()) {
            CodeSite()->SendError(QStringLiteral("Closed while the start-up did not end; ended without the shut-down"));
            std::_Exit(1);
        }
    } catch (const Exception& e) {
        // An exception the program does not handle ends it, as the run-time library does.
        CodeSite()->SendError(e.Message());
        return 1;
    } catch (const std::exception& e) {
        CodeSite()->SendError(QString::fromLocal8Bit(e.what()));
        return 1;
    }
    return 0;
}
