#include "ShlObj.h"

#include <QString>

#include <algorithm>

#include <sys/stat.h>

namespace {

bool Occupied(const QString& APath)
{
    struct stat info;
    return ::lstat(APath.toLocal8Bit().constData(), &info) == 0;
}

}  // namespace

BOOL PathMakeUniqueName(LPWSTR pszUniqueName, UINT cchMax, LPCWSTR pszTemplate, LPCWSTR pszLongPlate,
                        LPCWSTR pszDir)
{
    const QString name = QString::fromUtf16(pszLongPlate ? pszLongPlate : pszTemplate);
    if (!pszUniqueName || !pszDir || name.isEmpty() || name.contains(u'/') || name.contains(QChar(u'\0')))
        return 0;
    QString folder = QString::fromUtf16(pszDir);
    if (!folder.isEmpty() && !folder.endsWith(u'/'))
        folder += u'/';
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int number = 2; number <= 9999; ++number) {
        const QString candidate = folder + stem + QStringLiteral(" (%1)").arg(number) + extension;
        if (Occupied(candidate))
            continue;
        if (UINT(candidate.size()) + 1 > cchMax)
            return 0;
        std::copy_n(candidate.utf16(), candidate.size(), pszUniqueName);
        pszUniqueName[candidate.size()] = 0;
        return 1;
    }
    return 0;
}
