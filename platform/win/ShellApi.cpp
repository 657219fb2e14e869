#include "ShellApi.h"

#include <QDesktopServices>
#include <QUrl>

namespace {

QString Text(LPCWSTR AText)
{
    return AText ? QString::fromUtf16(AText) : QString();
}

HINSTANCE Result(std::uintptr_t ACode)
{
    return reinterpret_cast<HINSTANCE>(ACode);
}

}  // namespace

HINSTANCE ShellExecuteW(HWND, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR, LPCWSTR, int)
{
    const QString verb = Text(lpOperation);
    const QString file = Text(lpFile);
    if (file.isEmpty())
        return Result(2);
    if (!verb.isEmpty() && verb.compare(QLatin1String("open"), Qt::CaseInsensitive) != 0)
        return Result(31);
    const QUrl url = QUrl::fromUserInput(file);
    return QDesktopServices::openUrl(url) ? Result(42) : Result(31);
}
