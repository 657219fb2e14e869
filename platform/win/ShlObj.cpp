#include "ShlObj.h"

#include <QString>

#include <algorithm>
#include <utility>

#include <sys/stat.h>

namespace {

bool Occupied(const QString& APath)
{
    struct stat info;
    return ::lstat(APath.toLocal8Bit().constData(), &info) == 0;
}

// The template split where the number goes: before the last dot, unless that is the first
// character.
std::pair<QString, QString> StemAndExtension(const QString& AName)
{
    const qsizetype dot = AName.lastIndexOf(u'.');
    return dot > 0 ? std::pair{AName.left(dot), AName.mid(dot)} : std::pair{AName, QString()};
}

constexpr int cFirstNumber = 2;
constexpr int cLastNumber = 9999;

}  // namespace

bool IsUniqueNameOf(const QString& AName, const QString& ATemplate)
{
    if (ATemplate.isEmpty())
        return false;
    if (AName == ATemplate)
        return true;
    const auto [stem, extension] = StemAndExtension(ATemplate);
    const QString head = stem + QStringLiteral(" (");
    const QString tail = QStringLiteral(")") + extension;
    if (AName.size() <= head.size() + tail.size() || !AName.startsWith(head) || !AName.endsWith(tail))
        return false;
    const QStringView digits = QStringView(AName).mid(head.size(), AName.size() - head.size() - tail.size());
    if (digits.front() == u'0' || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return false;
    bool ok = false;
    const int number = digits.toInt(&ok);
    return ok && number >= cFirstNumber && number <= cLastNumber;
}

BOOL PathMakeUniqueName(LPWSTR pszUniqueName, UINT cchMax, LPCWSTR pszTemplate, LPCWSTR pszLongPlate,
                        LPCWSTR pszDir)
{
    const QString name = QString::fromUtf16(pszLongPlate ? pszLongPlate : pszTemplate);
    if (!pszUniqueName || !pszDir || name.isEmpty() || name.contains(u'/') || name.contains(QChar(u'\0')))
        return 0;
    QString folder = QString::fromUtf16(pszDir);
    if (!folder.isEmpty() && !folder.endsWith(u'/'))
        folder += u'/';
    const auto [stem, extension] = StemAndExtension(name);
    for (int number = cFirstNumber; number <= cLastNumber; ++number) {
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
