// The updater program: the platform's start (the application over Qt, the units'
// initialisations), the main block, and the end in the platform's order: the application's
// components, the last created first, then the units' finalisations in reverse order.

#include "MainBlock.h"

#include <codesite/CodeSite.h>
#include <linux/InstanceLock.h>
#include <rtl/SysUtils.h>
#include <svc.resMng.h>
#include <vcl/Dialogs.h>
#include <vcl/Forms.h>
#include <win/DeviceWorld.h>
#include <win/udev/UdevDeviceWorld.h>

#include <QApplication>

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
        const auto instanceLock = TInstanceLock::Acquire(TsvcResMng::GetWorkFolder(), lockStatus, lockErMsg);
        if (lockStatus == TInstanceLock::TStatus::Busy) {
            CodeSite()->SendError(lockErMsg);
            MessageDlg(lockErMsg, mtError, {mbOK}, 0);
            return 1;
        }
        // The package manager reports an unusable folder in its own words.
        if (!instanceLock)
            CodeSite()->SendError(lockErMsg);
        struct TComponents {
            ~TComponents() { Application->DestroyComponents(); }
        } components;
        MainBlock();
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
