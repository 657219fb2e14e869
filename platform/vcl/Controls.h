#pragma once
// What the window's controls share: colour words as Qt colours, and a control's font colour.

#include <vcl/Graphics.h>

#include <QColor>
#include <QWidget>

// TColor is $BBGGRR.
inline QColor ColorToQColor(TColor AColor)
{
    return QColor(int(AColor & 0xFF), int((AColor >> 8) & 0xFF), int((AColor >> 16) & 0xFF));
}

inline TColor QColorToColor(const QColor& AColor)
{
    return TColor(AColor.red()) | TColor(AColor.green()) << 8 | TColor(AColor.blue()) << 16;
}

// The colour of a control's text (its palette's text of every state but the disabled one,
// which is drawn greyed).
void SetFontColor(QWidget* AControl, TColor AColor);
TColor FontColor(const QWidget* AControl);

// The background of a control and the controls it holds.
void SetColor(QWidget* AControl, TColor AColor);
