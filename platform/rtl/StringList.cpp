#include "StringList.h"

#include "SysUtils.h"

void TStringList::SetText(const QString& AText)
{
    Clear();
    qsizetype start = 0;
    const qsizetype size = AText.size();
    for (qsizetype i = 0; i < size; ++i) {
        const QChar c = AText.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        FItems.append(AText.mid(start, i - start));
        if (c == u'\r' && i + 1 < size && AText.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        FItems.append(AText.mid(start));
}

QString TStringList::Text() const
{
    QString result;
    for (const QString& line : FItems)
        result += line + u'\n';
    return result;
}

void TStringList::CheckIndex(int AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        throw EListError(Format(RtlConsts::SListIndexError, {AIndex}));
}

QString TStringList::Strings(int AIndex) const
{
    CheckIndex(AIndex);
    return FItems.at(AIndex);
}

void TStringList::SetStrings(int AIndex, const QString& AText)
{
    CheckIndex(AIndex);
    FItems[AIndex] = AText;
}

int TStringList::Add(const QString& AText)
{
    FItems.append(AText);
    return Count() - 1;
}

void TStringList::Delete(int AIndex)
{
    CheckIndex(AIndex);
    FItems.removeAt(AIndex);
}

int TStringList::IndexOf(const QString& AText) const
{
    for (int i = 0; i < Count(); ++i)
        if (FItems.at(i).compare(AText, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int TStringList::IndexOfName(const QString& AName) const
{
    for (int i = 0; i < Count(); ++i) {
        const QString& line = FItems.at(i);
        const qsizetype eq = line.indexOf(u'=');
        if (eq >= 0 && QStringView(line).left(eq).compare(AName, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString TStringList::ValueFromIndex(int AIndex) const
{
    const QString line = Strings(AIndex);
    const qsizetype eq = line.indexOf(u'=');
    return eq >= 0 ? line.mid(eq + 1) : QString();
}

QString TStringList::Values(const QString& AName) const
{
    const int i = IndexOfName(AName);
    return i >= 0 ? ValueFromIndex(i) : QString();
}

void TStringList::SetValues(const QString& AName, const QString& AValue)
{
    const int i = IndexOfName(AName);
    if (AValue.isEmpty()) {
        if (i >= 0)
            Delete(i);
        return;
    }
    const QString line = AName + u'=' + AValue;
    if (i >= 0)
        FItems[i] = line;
    else
        FItems.append(line);
}
