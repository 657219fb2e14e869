#pragma once
// The main window: starts the initialisation in the background, shows whether the analyzer's
// boot loader is attached, runs the update in the background and shows its progress.

#include <rtl/Clock.h>
#include <vcl/AdvOfficeHint.h>
#include <vcl/ComCtrls.h>
#include <vcl/ExtCtrls.h>
#include <vcl/Forms.h>
#include <vcl/Graphics.h>
#include <vcl/HTMLabel.h>
#include <vcl/RzButton.h>
#include <vcl/RzCommon.h>
#include <vcl/StdCtrls.h>

#include <QString>

#include <functional>

class TObservedInfos;

inline const QString cNotDetectedText = QStringLiteral("No Analyzer has been detected.");
constexpr TColor cNotDetectedColor = 0xAAAAAA;
inline const QString cDetectedText = QStringLiteral("Analyzer has been detected.");
constexpr TColor cDetectedColor = 0x000000;

// Shown when the window is closed while the update runs; the close is refused.
inline const QString cUpdateRunningText = QStringLiteral(
    "The firmware update is still running. Do not close the updater or disconnect the Analyzer until it "
    "has finished.");

// Written to the log memo when a close has to wait: a signal during the update, or any close
// while the start-up runs.
inline const QString cCloseAfterUpdateText = QStringLiteral(
    "Asked to close (%1): the updater closes when the firmware update has finished.");
inline const QString cCloseAfterStartUpText = QStringLiteral(
    "Closing: waiting for the start-up to finish. If it does not, close the window again to quit without waiting.");
// From the first close during the start-up: a close after this ends the program unwaited.
constexpr std::chrono::milliseconds cStartUpCloseWait{3000};

class TvMain : public TForm {
    Q_OBJECT
public:
    TvMain();

    TPanel* Panel1;
    TLabel* Label4;
    TLabel* LabelBinVersion;
    TGroupBox* GroupBox1;
    TLabel* LabelCanUpdate;
    TProgressBar* ProgressBar;
    TImage* Image1;
    TPanel* Panel2;
    TButton* ButtonUpdate;
    TLinkLabel* LinkLabel1;
    TRzBitBtn* ButtonYoutube;
    TAdvOfficeHint* Hint;
    TAdvOfficeImage* ImageHelp;
    TMemo* Memo;
    THTMLabel* LabelWarning;
    TLabel* LabelVersion;
    TRzVersionInfo VersionInfo;

    void FormCreate(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void ButtonUpdateClick(TObject* Sender);
    void ButtonYoutubeClick(TObject* Sender);

    // A close asked for from outside (ADetail: a signal's name). Outside an update it is a
    // close of the window; an update is never cut short: the log memo says why the window
    // waits, and it closes when the update has ended.
    void RequestClose(const QString& ADetail);
    // The window was closed while the start-up task had not ended: the program must end without
    // the shut-down, which would free what the task still uses.
    bool StartUpAbandoned() const { return FStartUpAbandoned; }

private:
    void InitDvcObserver();
    void UpdateButton();

    void InitSucceeded();
    void InitFailed(const QString& AErMsg);
    void DvcArrived(const TObservedInfos& AInfos);
    void DvcRemoved(const TObservedInfos& AInfos);
    void ProgressProc(int APosition, const QString& AMsg);
    void UpdateDone(bool ASuccess);

    // Runs AProc on a pool worker; ARunning is true until the task has ended, however it
    // ended (the end is noted on the main thread).
    void RunTask(bool TvMain::*ARunning, std::function<void()> AProc);
    void TaskEnded(bool TvMain::*ARunning);

    bool FBeginUpdate = false;
    bool FInitTaskRunning = false;
    bool FUpdateTaskRunning = false;
    // A close that came while a task ran: done when it has ended.
    bool FCloseRequested = false;
    // When the first close during the start-up came.
    std::chrono::nanoseconds FFirstStartUpClose{0};
    bool FStartUpAbandoned = false;
};

extern TvMain* vMain;
