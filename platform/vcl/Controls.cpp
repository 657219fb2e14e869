#include "Controls.h"

#include <QPalette>

void SetFontColor(QWidget* AControl, TColor AColor)
{
    QPalette palette = AControl->palette();
    const QColor color = ColorToQColor(AColor);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, color);
        palette.setColor(group, QPalette::Text, color);
        palette.setColor(group, QPalette::ButtonText, color);
    }
    AControl->setPalette(palette);
}

TColor FontColor(const QWidget* AControl)
{
    return QColorToColor(AControl->palette().color(QPalette::Active, QPalette::WindowText));
}

void SetColor(QWidget* AControl, TColor AColor)
{
    QPalette palette = AControl->palette();
    palette.setColor(QPalette::Window, ColorToQColor(AColor));
    AControl->setPalette(palette);
    AControl->setAutoFillBackground(true);
}
