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

QString TStringList::Strings(int AIndex) const
{
    if (AIndex < 0 || AIndex >= Count())
        throw EListError(Format(RtlConsts::SListIndexError, {AIndex}));
    return FItems.at(AIndex);
}

int TStringList::Add(const QString& AText)
{
    FItems.append(AText);
    return Count() - 1;
}
