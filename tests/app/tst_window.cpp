#include "WindowHarness.h"

#include <codesite/Capture.h>
#include <codesite/CodeSite.h>

#include <QFontInfo>
#include <QHelpEvent>
#include <QImage>

class TestWindow : public QObject {
    Q_OBJECT
private slots:
    void init() { QCoreApplication::setApplicationVersion("4.3.2.1"); }

    // What the window shows before the initialisation has handed anything back.
    void design()
    {
        TWindowHarness harness;
        harness.Create();
        QCOMPARE(Application->MainForm(), vMain);
        QCOMPARE(vMain->Caption(), QString(" Firmware Updater"));
        QCOMPARE(vMain->size(), QSize(547, 450));
        QCOMPARE(vMain->minimumSize(), vMain->maximumSize());
        QVERIFY(!(vMain->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(vMain->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(vMain->windowFlags() & Qt::WindowCloseButtonHint);
        QCOMPARE(vMain->palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(vMain->font().pixelSize(), 13);
        QCOMPARE(vMain->font().family(), QString("Tahoma"));
        QCOMPARE(QFontInfo(vMain->font()).family(), QString("Tahoma"));
        QCOMPARE(QFontInfo(vMain->LabelCanUpdate->font()).styleName(), QString("Bold"));

        QCOMPARE(vMain->Label4->Caption(), QString("Update version : "));
        QCOMPARE(vMain->LabelBinVersion->Caption(), QString("..."));
        QVERIFY(!vMain->LabelBinVersion->isEnabled());
        QVERIFY(vMain->LabelBinVersion->font().bold());
        QCOMPARE(vMain->GroupBox1->Caption(), QString(" Status "));
        QCOMPARE(vMain->LabelCanUpdate->Caption(), QString("No Analyzer has been detected."));
        QCOMPARE(vMain->LabelCanUpdate->FontColor(), TColor(0xAAAAAA));
        QCOMPARE(vMain->LabelCanUpdate->font().pixelSize(), 19);
        QVERIFY(vMain->LabelCanUpdate->font().bold());
        QCOMPARE(vMain->ProgressBar->Position(), 0);
        QCOMPARE(vMain->ProgressBar->State(), pbsNormal);
        QCOMPARE(vMain->ProgressBar->minimum(), 0);
        QCOMPARE(vMain->ProgressBar->maximum(), 100);
        QCOMPARE(vMain->Memo->Lines.Count(), 0);
        QVERIFY(vMain->Memo->isReadOnly());
        QCOMPARE(vMain->Memo->font().pixelSize(), 12);
        QCOMPARE(vMain->ButtonUpdate->Caption(), QString("Upgrade Firmware"));
        QCOMPARE(vMain->ButtonUpdate->size(), QSize(118, 32));
        QCOMPARE(vMain->ButtonUpdate->font().pixelSize(), 12);
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QVERIFY(!vMain->ButtonYoutube->isVisible());
        QCOMPARE(vMain->ButtonYoutube->size(), QSize(118, 26));
        QVERIFY(!vMain->LinkLabel1->isVisible());
        QVERIFY(vMain->LinkLabel1->text().contains("Watch the video manual"));
        QCOMPARE(vMain->Image1->size(), QSize(221, 24));
        QCOMPARE(vMain->ImageHelp->size(), QSize(32, 32));
        QCOMPARE(vMain->LabelVersion->Caption(), QString("4.3.2.1"));
        QCOMPARE(vMain->LabelVersion->FontColor(), TColor(0xDDDDDD));
        QCOMPARE(vMain->LabelVersion->font().pixelSize(), 11);
        QCOMPARE(Application->HintHidePause(), 10000);
        QVERIFY(vMain->LabelWarning->HTMLText().contains(
            "<font color=\"#EF0000\">Do not disconnect the USB cable or shutdown the device while it is being updated. "
            "</font>"));
        QVERIFY(vMain->LabelWarning->HTMLText().contains(
            "<br>It may cause a serious damage to the device or may make it to be impossible to recover. Please "
            "contact your local customer support and service center when you experience this malfuction. "));
        QVERIFY(QTest::qWaitForWindowExposed(vMain));
        QCOMPARE(QApplication::focusWidget(), vMain->ProgressBar);
    }

    // From the top: version strip, status, progress, warning, buttons, the log above the logo.
    void layout()
    {
        TWindowHarness harness;
        harness.Create();
        QVERIFY(QTest::qWaitForWindowExposed(vMain));
        const QWidget* order[] = {vMain->Panel1, vMain->GroupBox1, vMain->ProgressBar, vMain->LabelWarning,
                                  vMain->Panel2, vMain->Memo, vMain->Image1};
        for (std::size_t i = 1; i < std::size(order); ++i)
            QVERIFY2(order[i - 1]->geometry().bottom() < order[i]->geometry().top(), order[i]->metaObject()->className());
        QCOMPARE(vMain->Panel1->height(), 25);
        QCOMPARE(vMain->GroupBox1->height(), 53);
        QCOMPARE(vMain->ProgressBar->height(), 28);
        QCOMPARE(vMain->Panel2->height(), 32);
        // The warning shows all its lines, and no more lines than its designed 70 px hold.
        QVERIFY(vMain->LabelWarning->height() >= vMain->LabelWarning->heightForWidth(vMain->LabelWarning->width()));
        QVERIFY2(vMain->LabelWarning->height() <= 70, qPrintable(QString::number(vMain->LabelWarning->height())));
        // Button and help picture at the right of their strip, the help picture last.
        QVERIFY(vMain->ButtonUpdate->geometry().right() < vMain->ImageHelp->geometry().left());
        QCOMPARE(vMain->ImageHelp->geometry().right(), vMain->Panel2->width() - 1);
        // The version in the bottom-right corner.
        const QRect version = vMain->LabelVersion->geometry();
        QVERIFY(version.right() > vMain->width() - 20);
        QVERIFY(version.bottom() > vMain->height() - 20);
        QVERIFY(vMain->Image1->geometry().left() < 20);
    }

    void initSucceeded()
    {
        TCodeSiteCapture capture;
        TWindowHarness harness;
        harness.Create();
        QVERIFY(harness.WaitInitialized());
        QCOMPARE(vMain->Caption(), QString("Q452 Firmware Updater"));
        QCOMPARE(vMain->LabelBinVersion->Caption(), QString("FW_VERSION 2.04.0"));
        QVERIFY(vMain->LabelBinVersion->isEnabled());
        QVERIFY(GetSvcBsl430()->Initialized());
        QVERIFY(!vMain->ButtonUpdate->isEnabled());
        QVERIFY(harness.Boxes().Shown.isEmpty());
        // The package texts go to the global logger, in this order.
        QStringList sent;
        for (const TCodeSiteRecord& record : capture.Records())
            if (record.Logger == CodeSite() && record.Kind == TCodeSiteMsgKind::Value)
                sent << record.Text + "=" + record.ValueText();
        TsvcResMng* resMng = GetSvcResMng();
        QCOMPARE(sent, QStringList({"Pass=" + resMng->Pass(), "RamBSL=" + resMng->RamBSL(),
                                    "RamBSLVersion=" + resMng->RamBSLVersion(), "ForcedBOR=" + resMng->ForcedBOR(),
                                    "BinFileFullPath=" + resMng->BinFileFullPath()}));
    }

    // The instruction hint: title, the six notes, the help line; shown for ten seconds.
    void instructionHint()
    {
        TWindowHarness harness;
        harness.Create();
        QVERIFY(QTest::qWaitForWindowExposed(vMain));
        const QPoint local(16, 16);
        QHelpEvent help(QEvent::ToolTip, local, vMain->ImageHelp->mapToGlobal(local));
        QCoreApplication::sendEvent(vMain->ImageHelp, &help);
        TAdvOfficeHintWindow* hint = vMain->Hint->HintWindow();
        QVERIFY(hint);
        QVERIFY(hint->isVisible());
        QCOMPARE(hint->width(), 500);
        QCOMPARE(hint->Info().Title, QString("Firmware Update Instruction"));
        QCOMPARE(hint->Info().Notes,
                 QStringList({"1. Turn on the Analyzer (USB cable must be disconneted)",
                              "2. Setting - Next Page - F/W Info - F/W Update ",
                              "3. After step 2, connect the USB cable to the Analyzer",
                              "4. Once the Analyzer is detected properly, \"Upgrade Firmware\" button will be activated. ",
                              "5. Click the \"Upgrade Firmware\" button, then proceed updating",
                              "6. The Analyzer will be shut down immediately after the update has been completed . "}));
        QCOMPARE(hint->HelpText(), QString("Press F1 for more help."));
        QCOMPARE(hint->font().pixelSize(), 11);
        // Each note on one line: as high as the same hint with one-letter notes.
        TAdvHintInfo oneLetterNotes = hint->Info();
        for (QString& note : oneLetterNotes.Notes)
            note = "x";
        QCOMPARE(hint->height(), TAdvOfficeHintWindow(*vMain->Hint, oneLetterNotes).height());
        QCOMPARE(vMain->Hint->HideTimeout(), 10000);
        // Leaving the picture hides the hint.
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(vMain->ImageHelp, &leave);
        QVERIFY(!vMain->Hint->HintWindow());
    }

    // The progress bar's states, as drawn: the error state is red.
    void progressBarStates()
    {
        TWindowHarness harness;
        harness.Create();
        QVERIFY(QTest::qWaitForWindowExposed(vMain));
        TProgressBar* bar = vMain->ProgressBar;
        bar->SetPosition(60);
        const auto chunk = [bar] {
            const QImage image = bar->grab().toImage();
            return image.pixelColor(image.width() / 4, image.height() / 2);
        };
        const QColor normal = chunk();
        QVERIFY2(normal.green() > normal.red(), qPrintable(normal.name()));
        bar->SetState(pbsError);
        const QColor error = chunk();
        QVERIFY2(error.red() > 180 && error.green() < 90 && error.blue() < 90, qPrintable(error.name()));
        QCOMPARE(bar->Position(), 60);
        bar->SetPosition(130);
        QCOMPARE(bar->Position(), 100);
    }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
