#include "ExtCtrls.h"

#include <QPainter>

void TImage::SetPicture(const QPicture& APicture, bool AAutoSize)
{
    FPicture = APicture;
    if (AAutoSize)
        setFixedSize(FPicture.boundingRect().size());
    update();
}

void TImage::paintEvent(QPaintEvent*)
{
    if (FPicture.isNull())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawPicture(-FPicture.boundingRect().topLeft(), FPicture);
}
