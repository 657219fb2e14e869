#include "StringApiSet.h"

#include <rtl/SysUtils.h>

namespace {

void CheckCodePage(UINT ACodePage)
{
    if (ACodePage != CP_ACP)
        throw EArgumentOutOfRangeException(QStringLiteral("Unsupported code page %1").arg(ACodePage));
}

}  // namespace

QByteArray WideCharToMultiByte(UINT ACodePage, const QString& AText)
{
    CheckCodePage(ACodePage);
    return AText.toUtf8();
}

QString MultiByteToWideChar(UINT ACodePage, const char* AText)
{
    CheckCodePage(ACodePage);
    return AText ? QString::fromUtf8(AText) : QString();
}
