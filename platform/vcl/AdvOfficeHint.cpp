#include "AdvOfficeHint.h"

#include "Controls.h"
#include "Forms.h"

#include <QApplication>
#include <QEvent>
#include <QHelpEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>

namespace {

constexpr int cMargin = 8;
constexpr int cNoteIndent = 12;
constexpr int cHelpPicture = 16;
const QColor cBorderColor(0x76, 0x76, 0x76);
const QColor cTextColor(0x4C, 0x4C, 0x4C);

}  // namespace

TAdvOfficeHintWindow::TAdvOfficeHintWindow(const TAdvOfficeHint& AStyle, TAdvHintInfo AInfo)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint), FStyle(AStyle), FInfo(std::move(AInfo))
{
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFont(FStyle.Font);
    setFixedSize(FStyle.HintWidth, Layout(false, nullptr));
}

QString TAdvOfficeHintWindow::HelpText() const
{
    return FInfo.ShowHelp ? FStyle.HelpText : QString();
}

void TAdvOfficeHintWindow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, ColorToQColor(FStyle.Color));
    gradient.setColorAt(1, ColorToQColor(FStyle.ColorTo));
    painter.setBrush(gradient);
    painter.setPen(cBorderColor);
    if (FStyle.RoundedCorners)
        painter.drawRoundedRect(frame, 4, 4);
    else
        painter.drawRect(frame);
    Layout(true, &painter);
}

// The height the hint needs; with APaint it also draws the texts.
int TAdvOfficeHintWindow::Layout(bool APaint, QPainter* APainter)
{
    QFont bold = font();
    bold.setBold(true);
    const QFontMetrics plainMetrics(font());
    const QFontMetrics boldMetrics(bold);
    const int textWidth = FStyle.HintWidth - 2 * cMargin;
    int y = cMargin;
    if (APaint)
        APainter->setPen(cTextColor);
    if (!FInfo.Title.isEmpty()) {
        if (APaint) {
            APainter->setFont(bold);
            APainter->drawText(QRect(cMargin, y, textWidth, boldMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                               FInfo.Title);
        }
        y += boldMetrics.height() + 4;
    }
    if (APaint)
        APainter->setFont(font());
    for (const QString& note : FInfo.Notes) {
        const QRect bounds = plainMetrics.boundingRect(QRect(cMargin + cNoteIndent, y, textWidth - cNoteIndent, 10000),
                                                       Qt::TextWordWrap, note);
        if (APaint)
            APainter->drawText(QRect(cMargin + cNoteIndent, y, textWidth - cNoteIndent, bounds.height()),
                               Qt::TextWordWrap | Qt::AlignLeft, note);
        y += std::max(bounds.height(), plainMetrics.height());
    }
    if (FInfo.ShowHelp && !FStyle.HelpText.isEmpty()) {
        y += 6;
        if (APaint) {
            APainter->setPen(ColorToQColor(FStyle.HelpLineColor));
            APainter->drawLine(QPointF(cMargin, y + 0.5), QPointF(FStyle.HintWidth - cMargin, y + 0.5));
        }
        y += 5;
        const int lineHeight = std::max(cHelpPicture, boldMetrics.height());
        if (APaint) {
            if (!FStyle.HelpPicture.isNull()) {
                const QRect picture = FStyle.HelpPicture.boundingRect();
                APainter->save();
                APainter->translate(cMargin, y + (lineHeight - cHelpPicture) / 2);
                APainter->scale(double(cHelpPicture) / std::max(1, picture.width()),
                                double(cHelpPicture) / std::max(1, picture.height()));
                APainter->drawPicture(-picture.topLeft(), FStyle.HelpPicture);
                APainter->restore();
            }
            APainter->setPen(cTextColor);
            APainter->setFont(bold);
            APainter->drawText(QRect(cMargin + cHelpPicture + 6, y, textWidth - cHelpPicture - 6, lineHeight),
                               Qt::AlignLeft | Qt::AlignVCenter, FStyle.HelpText);
        }
        y += lineHeight;
    }
    return y + cMargin;
}

TAdvOfficeHint::TAdvOfficeHint(QWidget* AOwner) : QObject(AOwner), FOwner(AOwner)
{
    FHideTimer.setSingleShot(true);
    connect(&FHideTimer, &QTimer::timeout, this, &TAdvOfficeHint::CancelHint);
    qApp->installEventFilter(this);
}

TAdvOfficeHint::~TAdvOfficeHint()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void TAdvOfficeHint::ActivateHint(QWidget* AControl, const TAdvHintInfo& AInfo, const QPoint& AGlobalPos)
{
    FControl = AControl;
    FWindow = std::make_unique<TAdvOfficeHintWindow>(*this, AInfo);
    // Below the cursor, kept on the screen.
    QPoint pos = AGlobalPos + QPoint(0, 20);
    if (QScreen* screen = QGuiApplication::screenAt(AGlobalPos)) {
        const QRect area = screen->availableGeometry();
        pos.setX(std::clamp(pos.x(), area.left(), std::max(area.left(), area.right() - FWindow->width())));
        if (pos.y() + FWindow->height() > area.bottom())
            pos.setY(AGlobalPos.y() - FWindow->height() - 4);
        pos.setY(std::max(pos.y(), area.top()));
    }
    FWindow->move(pos);
    FWindow->show();
    FHideTimer.start(Application ? Application->HintHidePause() : 2500);
}

void TAdvOfficeHint::CancelHint()
{
    FHideTimer.stop();
    FControl = nullptr;
    FWindow.reset();
}

bool TAdvOfficeHint::eventFilter(QObject* AWatched, QEvent* AEvent)
{
    switch (AEvent->type()) {
    case QEvent::ToolTip:
        if (auto* image = qobject_cast<TAdvOfficeImage*>(AWatched);
            image && image->ShowHint && FOwner && image->window() == FOwner->window()) {
            ActivateHint(image, image->OfficeHint, static_cast<QHelpEvent*>(AEvent)->globalPos());
            return true;
        }
        break;
    case QEvent::Leave:
    case QEvent::MouseButtonPress:
    case QEvent::Hide:
        if (FWindow && AWatched == FControl.data())
            CancelHint();
        break;
    case QEvent::WindowDeactivate:
        if (FWindow && FOwner && AWatched == FOwner->window())
            CancelHint();
        break;
    default:
        break;
    }
    return QObject::eventFilter(AWatched, AEvent);
}
