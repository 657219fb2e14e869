#include "RegularExpressions.h"

#include <QRegularExpression>

TMatch TRegEx::Match(const QString& AInput, const QString& APattern)
{
    const QRegularExpression expression(APattern);
    if (!expression.isValid())
        return TMatch();
    const QRegularExpressionMatch match = expression.match(AInput);
    if (!match.hasMatch())
        return TMatch();
    return TMatch(match.captured(0));
}
