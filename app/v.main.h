#pragma once
// The main window: starts the initialisation in the background, shows whether the analyzer's
// boot loader is attached, runs the update in the background and shows its progress.

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
    // A close that came while the initialisation ran: done when it has ended.
    bool FCloseRequested = false;
};

extern TvMain* vMain;
