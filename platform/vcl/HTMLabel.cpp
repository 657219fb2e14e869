#include "HTMLabel.h"

THTMLabel::THTMLabel(QWidget* AParent) : QLabel(AParent)
{
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setOpenExternalLinks(false);
}

void THTMLabel::SetAutoSizing(bool AValue)
{
    FAutoSizing = AValue;
    QSizePolicy policy = sizePolicy();
    policy.setVerticalPolicy(AValue ? QSizePolicy::Minimum : QSizePolicy::Preferred);
    policy.setHeightForWidth(AValue);
    setSizePolicy(policy);
    updateGeometry();
}

QSize THTMLabel::sizeHint() const
{
    const QSize hint = QLabel::sizeHint();
    if (!FAutoSizing || width() <= 0)
        return hint;
    return QSize(hint.width(), heightForWidth(width()));
}
