#include "ComCtrls.h"

#include <QPalette>

#include <algorithm>

namespace {

// The bar's own colours: green while normal, red for an error.
const QColor cNormalColor(0x06, 0xB0, 0x25);
const QColor cErrorColor(0xDA, 0x26, 0x26);

}  // namespace

TProgressBar::TProgressBar(QWidget* AParent) : QProgressBar(AParent)
{
    setRange(0, 100);
    setValue(0);
    setTextVisible(false);
    SetState(pbsNormal);
}

void TProgressBar::SetPosition(int AValue)
{
    setValue(std::clamp(AValue, minimum(), maximum()));
}

void TProgressBar::SetState(TProgressBarState AValue)
{
    FState = AValue;
    QPalette palette = this->palette();
    const QColor color = AValue == pbsError ? cErrorColor : cNormalColor;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled})
        palette.setColor(group, QPalette::Highlight, color);
    setPalette(palette);
}
