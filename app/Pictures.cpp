#include "Pictures.h"

#include <vcl/Fonts.h>

#include <QPainter>
#include <QPainterPath>

namespace {

// A recording keeps the bounds of what was drawn; this fixes them to the whole area.
void SetBounds(QPicture& APicture, const QRect& ABounds)
{
    APicture.setBoundingRect(ABounds);
}

}  // namespace

QPicture LogoPicture(const QFont& AFont)
{
    QPicture picture;
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        // Three rising bars, then the word mark.
        const QColor colors[] = {QColor(0x1F, 0x5F, 0xA8), QColor(0x2E, 0x86, 0xC8), QColor(0x5B, 0xB0, 0xE0)};
        for (int i = 0; i < 3; ++i) {
            const int height = 10 + 5 * i;
            painter.setPen(Qt::NoPen);
            painter.setBrush(colors[i]);
            painter.drawRoundedRect(QRectF(4 + 7 * i, 22 - height, 5, height), 1, 1);
        }
        painter.setPen(QColor(0x40, 0x4A, 0x55));
        painter.setFont(ResizedFont(AFont, 15, true));
        painter.drawText(QRect(30, 0, 191, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ANALYZER"));
        painter.setPen(QColor(0x80, 0x8A, 0x95));
        painter.setFont(ResizedFont(AFont, 11));
        painter.drawText(QRect(122, 0, 99, 24), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Firmware Service"));
    }
    SetBounds(picture, QRect(0, 0, 221, 24));
    return picture;
}

QPicture HelpPicture(const QFont& AFont)
{
    constexpr int cSize = 32;
    QPicture picture;
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF circle(1, 1, cSize - 2, cSize - 2);
        QRadialGradient gradient(circle.center() - QPointF(cSize / 6.0, cSize / 6.0), cSize * 0.7);
        gradient.setColorAt(0, QColor(0x6C, 0xB4, 0xF0));
        gradient.setColorAt(1, QColor(0x1C, 0x64, 0xB4));
        painter.setBrush(gradient);
        painter.setPen(QPen(QColor(0x15, 0x4C, 0x8C), cSize / 32.0 + 0.5));
        painter.drawEllipse(circle);
        painter.setPen(Qt::white);
        painter.setFont(ResizedFont(AFont, cSize * 3 / 4, true));
        painter.drawText(circle, Qt::AlignCenter, QStringLiteral("?"));
    }
    SetBounds(picture, QRect(0, 0, cSize, cSize));
    return picture;
}

QPicture VideoGlyph()
{
    QPicture picture;
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xE0, 0x20, 0x20));
        painter.drawRoundedRect(QRectF(0, 2, 16, 12), 3, 3);
        QPainterPath triangle;
        triangle.moveTo(6, 5);
        triangle.lineTo(11.5, 8);
        triangle.lineTo(6, 11);
        triangle.closeSubpath();
        painter.setBrush(Qt::white);
        painter.drawPath(triangle);
    }
    SetBounds(picture, QRect(0, 0, 16, 16));
    return picture;
}
