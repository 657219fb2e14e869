#pragma once
// The window's bitmap button: a push button with a glyph.

#include <vcl/StdCtrls.h>

#include <QIcon>

class TRzBitBtn : public TButton {
public:
    explicit TRzBitBtn(QWidget* AParent) : TButton(AParent) {}

    void SetGlyph(const QIcon& AGlyph) { setIcon(AGlyph); }
};
