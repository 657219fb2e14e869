#include "v.main.h"

#include "Pictures.h"

#include <svc.bsl430.h>
#include <svc.dvcObserverTh.h>
#include <svc.h>
#include <svc.resMng.h>

#include <codesite/CodeSite.h>
#include <linux/SleepInhibitor.h>
#include <rtl/Thread.h>
#include <rtl/Threading.h>
#include <vcl/Dialogs.h>
#include <vcl/Fonts.h>
#include <win/ShellApi.h>

#include <QBoxLayout>
#include <QCoreApplication>
#include <QPainter>
#include <QPixmap>
#include <QPointer>

TvMain* vMain = nullptr;

namespace {

const QString cTahoma = QStringLiteral("Tahoma");
const QString cVideoManualAddress = QStringLiteral("https://www.youtube.com/results?search_query=analyzer+firmware+update");

const QString cWarningHtml = QStringLiteral(
    "<b><font color=\"#EF0000\">Do not disconnect the USB cable or shutdown the device while it is being "
    "updated. </font></b><br>It may cause a serious damage to the device or may make it to be impossible to "
    "recover. Please contact your local customer support and service center when you experience this "
    "malfuction. ");

const QStringList cInstructionNotes{
    QStringLiteral("1. Turn on the Analyzer (USB cable must be disconneted)"),
    QStringLiteral("2. Setting - Next Page - F/W Info - F/W Update "),
    QStringLiteral("3. After step 2, connect the USB cable to the Analyzer"),
    QStringLiteral("4. Once the Analyzer is detected properly, \"Upgrade Firmware\" button will be activated. "),
    QStringLiteral("5. Click the \"Upgrade Firmware\" button, then proceed updating"),
    QStringLiteral("6. The Analyzer will be shut down immediately after the update has been completed . "),
};

// Drawn once, at twice the size: the icon scales it down where the screen needs less.
QIcon GlyphIcon(const QPicture& APicture)
{
    constexpr qreal cRatio = 2.0;
    QPixmap pixmap(APicture.boundingRect().size() * cRatio);
    pixmap.setDevicePixelRatio(cRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.drawPicture(0, 0, APicture);
    painter.end();
    return QIcon(pixmap);
}

}  // namespace

TvMain::TvMain()
{
    // The design: a white, fixed 547 x 450 window with a close button only.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    SetCaption(QStringLiteral(" Firmware Updater"));
    setFixedSize(547, 450);
    SetColor(this, clWhite);
    // Tahoma is looked up once; every other size and weight is made from it.
    const QFont tahoma = PlatformFont({cTahoma}, 13);
    setFont(tahoma);
    SetPositionScreenCenter(true);

    Panel1 = new TPanel(this);
    Panel1->setFixedHeight(25);
    Label4 = new TLabel(Panel1);
    Label4->SetCaption(QStringLiteral("Update version : "));
    Label4->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    LabelBinVersion = new TLabel(Panel1);
    LabelBinVersion->SetCaption(QStringLiteral("..."));
    LabelBinVersion->setFont(ResizedFont(tahoma, 13, true));
    LabelBinVersion->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    LabelBinVersion->setEnabled(false);
    auto* panel1Layout = new QHBoxLayout(Panel1);
    panel1Layout->setContentsMargins(0, 0, 0, 2);
    panel1Layout->setSpacing(0);
    panel1Layout->addWidget(Label4, 1);
    panel1Layout->addWidget(LabelBinVersion);

    GroupBox1 = new TGroupBox(this);
    GroupBox1->SetCaption(QStringLiteral(" Status "));
    GroupBox1->setFixedHeight(53);
    LabelCanUpdate = new TLabel(GroupBox1);
    LabelCanUpdate->setFont(ResizedFont(tahoma, 19, true));
    LabelCanUpdate->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LabelCanUpdate->SetCaption(cNotDetectedText);
    LabelCanUpdate->SetFontColor(cNotDetectedColor);
    auto* groupLayout = new QVBoxLayout(GroupBox1);
    groupLayout->setContentsMargins(8, 0, 8, 2);
    groupLayout->addWidget(LabelCanUpdate);

    ProgressBar = new TProgressBar(this);
    ProgressBar->setFixedHeight(28);

    Image1 = new TImage(this);
    Image1->SetPicture(LogoPicture(tahoma));

    Panel2 = new TPanel(this);
    Panel2->setFixedHeight(32);
    ButtonUpdate = new TButton(Panel2);
    ButtonUpdate->SetCaption(QStringLiteral("Upgrade Firmware"));
    ButtonUpdate->setFixedSize(118, 32);
    ButtonUpdate->setFont(ResizedFont(tahoma, 12));
    ButtonUpdate->setEnabled(false);
    ButtonUpdate->OnClick = [this](TObject* Sender) { ButtonUpdateClick(Sender); };
    LinkLabel1 = new TLinkLabel(Panel2);
    LinkLabel1->SetCaption(QStringLiteral("Watch the video manual"), cVideoManualAddress);
    LinkLabel1->setVisible(false);
    ButtonYoutube = new TRzBitBtn(Panel2);
    ButtonYoutube->SetCaption(QStringLiteral("Video Manual"));
    ButtonYoutube->SetGlyph(GlyphIcon(VideoGlyph()));
    ButtonYoutube->setFixedSize(118, 26);
    ButtonYoutube->setVisible(false);
    ButtonYoutube->OnClick = [this](TObject* Sender) { ButtonYoutubeClick(Sender); };

    Hint = new TAdvOfficeHint(this);
    Hint->HintWidth = 500;
    Hint->Font = PlatformFont({QStringLiteral("Segoe UI"), cTahoma}, 11);
    Hint->Color = clWhite;
    Hint->ColorTo = clSilver;
    Hint->RoundedCorners = false;
    Hint->HelpText = QStringLiteral("Press F1 for more help.");
    const QPicture help = HelpPicture(tahoma);
    Hint->HelpPicture = help;
    Hint->HelpLineColor = clSilver;

    ImageHelp = new TAdvOfficeImage(Panel2);
    ImageHelp->SetPicture(help);
    ImageHelp->OfficeHint.Title = QStringLiteral("Firmware Update Instruction");
    ImageHelp->OfficeHint.Notes = cInstructionNotes;
    ImageHelp->ShowHint = true;

    auto* panel2Layout = new QHBoxLayout(Panel2);
    panel2Layout->setContentsMargins(0, 0, 0, 0);
    panel2Layout->setSpacing(6);
    panel2Layout->addWidget(ButtonYoutube, 0, Qt::AlignVCenter);
    panel2Layout->addWidget(LinkLabel1, 0, Qt::AlignVCenter);
    panel2Layout->addStretch(1);
    panel2Layout->addWidget(ButtonUpdate);
    panel2Layout->addWidget(ImageHelp);

    Memo = new TMemo(this);
    Memo->setReadOnly(true);
    Memo->setFont(ResizedFont(tahoma, 12));

    LabelWarning = new THTMLabel(this);
    LabelWarning->SetHTMLText(cWarningHtml);
    LabelWarning->SetAutoSizing(true);

    LabelVersion = new TLabel(this);
    LabelVersion->SetCaption(QStringLiteral("v1.0.0"));
    LabelVersion->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    LabelVersion->SetFontColor(0xDDDDDD);
    LabelVersion->setFont(ResizedFont(tahoma, 11));

    VersionInfo.SetFilePath(QString());

    // From the top: version strip, status, progress, warning, buttons, the log, the logo.
    auto* bottom = new QHBoxLayout;
    bottom->setContentsMargins(0, 0, 0, 0);
    bottom->addWidget(Image1, 0, Qt::AlignLeft | Qt::AlignBottom);
    bottom->addStretch(1);
    bottom->addWidget(LabelVersion, 0, Qt::AlignRight | Qt::AlignBottom);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 2, 8, 4);
    layout->setSpacing(6);
    layout->addWidget(Panel1);
    layout->addWidget(GroupBox1);
    layout->addWidget(ProgressBar);
    layout->addWidget(LabelWarning);
    layout->addWidget(Panel2);
    layout->addWidget(Memo, 1);
    layout->addLayout(bottom);

    SetActiveControl(ProgressBar);
    OnCreate = [this](TObject* Sender) { FormCreate(Sender); };
    OnCloseQuery = [this](TObject* Sender, bool& CanClose) { FormCloseQuery(Sender, CanClose); };
}

void TvMain::FormCreate(TObject*)
{
    Application->SetHintHidePause(10000);
    LabelVersion->SetCaption(VersionInfo.FileVersion());
    const QPointer<TvMain> self(this);
    RunTask(&TvMain::FInitTaskRunning, [this, self] {
        QString LErMsg;
        const auto failed = [&] {
            TThread::Synchronize(nullptr, [self, LErMsg] {
                if (self)
                    self->InitFailed(LErMsg);
            });
        };
        if (!GetSvcResMng()->Initialize(LErMsg)) {
            failed();
            return;
        }
        const QString dllPath = GetSvcResMng()->BSL430Path();
        LErMsg.clear();
        // The main thread runs hand-offs only from its message loop, once the main block has
        // created every form: after this one the flashing service exists and is constructed.
        TThread::Synchronize(nullptr, [] {});
        if (!GetSvcBsl430()->Initialize(dllPath, LErMsg)) {
            failed();
            return;
        }
        InitDvcObserver();
        TThread::Synchronize(nullptr, [self] {
            if (self)
                self->InitSucceeded();
        });
    });
}

void TvMain::InitSucceeded()
{
    TsvcResMng* resMng = GetSvcResMng();
    SetCaption(resMng->BinTarget() + QStringLiteral(" Firmware Updater"));
    LabelBinVersion->setEnabled(true);
    LabelBinVersion->SetCaption(QStringLiteral("FW_VERSION ") + resMng->BinVersion());
    CodeSite()->Send(QStringLiteral("Pass"), resMng->Pass());
    CodeSite()->Send(QStringLiteral("RamBSL"), resMng->RamBSL());
    CodeSite()->Send(QStringLiteral("RamBSLVersion"), resMng->RamBSLVersion());
    CodeSite()->Send(QStringLiteral("ForcedBOR"), resMng->ForcedBOR());
    CodeSite()->Send(QStringLiteral("BinFileFullPath"), resMng->BinFileFullPath());
    UpdateButton();
}

void TvMain::InitFailed(const QString& AErMsg)
{
    MessageDlg(QStringLiteral("Fatal error during initailization.\r\n") + AErMsg, mtError, {mbOK}, 0);
}

void TvMain::InitDvcObserver()
{
    const QPointer<TvMain> self(this);
    TdvcObserverTh* observer = GetDvcObserverTh();
    observer->SetOnArrived([self](TObservedInfos* AInfos) {
        if (self)
            self->DvcArrived(*AInfos);
    });
    observer->SetOnRemoved([self](TObservedInfos* AInfos) {
        if (self)
            self->DvcRemoved(*AInfos);
    });
    observer->ClearAndReg({GUID_DEVINTERFACE_USB_DEVICE, GUID_DEVCLASS_HIDCLASS});
    observer->Search();
}

void TvMain::DvcArrived(const TObservedInfos& AInfos)
{
    // Taken while the label does not show the analyzer (not while the button is disabled):
    // a removal that reached the window before a failing update ended leaves the button
    // enabled under "No Analyzer has been detected.", and a re-plug must still be seen.
    if (LabelCanUpdate->Caption() == cDetectedText)
        return;
    if (AInfos.VID() != QLatin1String("2047") || AInfos.PID() != QLatin1String("0200"))
        return;
    LabelCanUpdate->SetCaption(cDetectedText);
    LabelCanUpdate->SetFontColor(cDetectedColor);
    UpdateButton();
}

void TvMain::DvcRemoved(const TObservedInfos& AInfos)
{
    if (LabelCanUpdate->Caption() != cDetectedText)
        return;
    if (AInfos.VID() != QLatin1String("2047") || AInfos.PID() != QLatin1String("0200"))
        return;
    LabelCanUpdate->SetCaption(cNotDetectedText);
    LabelCanUpdate->SetFontColor(cNotDetectedColor);
    UpdateButton();
}

void TvMain::UpdateButton()
{
    const bool enable = GetSvcResMng()->Initialized() && LabelCanUpdate->Caption() == cDetectedText && !FBeginUpdate;
    ButtonUpdate->SetEnabled(enable);
    if (enable) {
        ButtonUpdate->SetFocus();
        ProgressBar->SetState(pbsNormal);
        ProgressBar->SetPosition(0);
    }
}

void TvMain::ButtonUpdateClick(TObject*)
{
    ButtonUpdate->SetEnabled(false);
    FBeginUpdate = true;
    const QPointer<TvMain> self(this);
    GetSvcBsl430()->SetOnProgress([self](int APosition, const QString& AMsg) {
        if (self)
            self->ProgressProc(APosition, AMsg);
    });
    RunTask(&TvMain::FUpdateTaskRunning, [self] {
        QString LErMsg;
        bool LSuccess = false;
        {
            // The computer must not sleep in the middle of the update.
            const TSleepInhibitor inhibitor(QCoreApplication::applicationName(), QStringLiteral("Firmware update running"));
            LSuccess = GetSvcBsl430()->CustomSelectedFirmware(LErMsg);
        }
        TThread::Synchronize(nullptr, [self, LSuccess] {
            if (self)
                self->UpdateDone(LSuccess);
        });
    });
}

void TvMain::ProgressProc(int APosition, const QString& AMsg)
{
    ProgressBar->SetPosition(APosition);
    if (!AMsg.isEmpty())
        Memo->Lines.Add(AMsg);
}

void TvMain::UpdateDone(bool ASuccess)
{
    if (!ASuccess)
        ProgressBar->SetState(pbsError);
    ButtonUpdate->SetEnabled(true);
    FBeginUpdate = false;
    // The update has returned from the library: the window may close from here on.
    FUpdateTaskRunning = false;
}

void TvMain::ButtonYoutubeClick(TObject*)
{
    ShellExecuteW(Application->Handle(), PChar(QStringLiteral("open")), PChar(cVideoManualAddress), nullptr,
                  nullptr, SW_SHOW);
}

// The update works inside the library and on the device: the window must outlive it, and
// the device must not be left half programmed without the user knowing.
void TvMain::FormCloseQuery(TObject*, bool& CanClose)
{
    if (FUpdateTaskRunning) {
        CanClose = false;
        MessageDlg(cUpdateRunningText, mtWarning, {mbOK}, 0);
        return;
    }
    // The initialisation is short and the window closes as soon as it has ended. A task stuck
    // on its folder must not keep the program forever: nothing has touched a device yet.
    if (FInitTaskRunning) {
        if (FCloseRequested && CurrentClock().Now() - FFirstStartUpClose >= cStartUpCloseWait) {
            FStartUpAbandoned = true;
            return;
        }
        CanClose = false;
        if (!FCloseRequested) {
            FCloseRequested = true;
            FFirstStartUpClose = CurrentClock().Now();
            Memo->Lines.Add(cCloseAfterStartUpText);
            CodeSite()->Send(QStringLiteral("Close"), cCloseAfterStartUpText);
        }
    }
}

void TvMain::RequestClose(const QString& ADetail)
{
    if (!FUpdateTaskRunning) {
        Close();
        return;
    }
    if (FCloseRequested)
        return;
    FCloseRequested = true;
    const QString text = cCloseAfterUpdateText.arg(ADetail);
    Memo->Lines.Add(text);
    CodeSite()->Send(QStringLiteral("Close"), text);
}

void TvMain::RunTask(bool TvMain::*ARunning, std::function<void()> AProc)
{
    this->*ARunning = true;
    const QPointer<TvMain> self(this);
    TTask::Run([self, ARunning, AProc = std::move(AProc)] {
        struct TEndNote {
            QPointer<TvMain> Self;
            bool TvMain::*Running;
            ~TEndNote()
            {
                TThread::Queue(nullptr, [self = Self, running = Running] {
                    if (self)
                        self->TaskEnded(running);
                });
            }
        } endNote{self, ARunning};
        AProc();
    });
}

void TvMain::TaskEnded(bool TvMain::*ARunning)
{
    this->*ARunning = false;
    if (FCloseRequested && !FInitTaskRunning && !FUpdateTaskRunning) {
        FCloseRequested = false;
        Close();
    }
}
