#include "Dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

int MessageDlg(const QString& AMsg, TMsgDlgType ADlgType, TMsgDlgButtons AButtons, int)
{
    QMessageBox box(QApplication::activeWindow());
    switch (ADlgType) {
    case mtWarning:
        box.setWindowTitle(QStringLiteral("Warning"));
        box.setIcon(QMessageBox::Warning);
        break;
    case mtError:
        box.setWindowTitle(QStringLiteral("Error"));
        box.setIcon(QMessageBox::Critical);
        break;
    case mtInformation:
        box.setWindowTitle(QStringLiteral("Information"));
        box.setIcon(QMessageBox::Information);
        break;
    case mtConfirmation:
        box.setWindowTitle(QStringLiteral("Confirm"));
        box.setIcon(QMessageBox::Question);
        break;
    case mtCustom:
        box.setWindowTitle(QApplication::applicationDisplayName());
        break;
    }
    box.setTextFormat(Qt::PlainText);
    box.setText(QString(AMsg).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    struct TChoice {
        TMsgDlgBtn Button;
        QMessageBox::StandardButton Standard;
        int Result;
    };
    const TChoice choices[] = {{mbYes, QMessageBox::Yes, mrYes},
                               {mbNo, QMessageBox::No, mrNo},
                               {mbOK, QMessageBox::Ok, mrOk},
                               {mbCancel, QMessageBox::Cancel, mrCancel}};
    QMessageBox::StandardButtons buttons;
    for (const TChoice& choice : choices)
        if (AButtons.Contains(choice.Button))
            buttons |= choice.Standard;
    box.setStandardButtons(buttons ? buttons : QMessageBox::Ok);
    const int answer = box.exec();
    for (const TChoice& choice : choices)
        if (answer == choice.Standard)
            return choice.Result;
    // Closed by the window's close button: the box's escape button.
    return AButtons.Contains(mbCancel) ? mrCancel : AButtons.Contains(mbNo) ? mrNo : mrOk;
}
