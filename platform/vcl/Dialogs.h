#pragma once
// Message boxes: MessageDlg shows a modal box and answers the button
// that closed it.

#include <QString>

#include <initializer_list>

enum TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };
enum TMsgDlgBtn { mbYes, mbNo, mbOK, mbCancel };

class TMsgDlgButtons {
public:
    TMsgDlgButtons(std::initializer_list<TMsgDlgBtn> AButtons)
    {
        for (TMsgDlgBtn button : AButtons)
            FBits |= 1u << button;
    }
    bool Contains(TMsgDlgBtn AButton) const { return (FBits & (1u << AButton)) != 0; }

private:
    unsigned FBits = 0;
};

// Modal results.
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;
constexpr int mrYes = 6;
constexpr int mrNo = 7;

// The box belongs to the application's active window. Its text is plain text; the
// platform's CR LF line breaks become line breaks. AHelpCtx is not used: there is no help.
int MessageDlg(const QString& AMsg, TMsgDlgType ADlgType, TMsgDlgButtons AButtons, int AHelpCtx);
