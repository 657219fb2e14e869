#pragma once
// A list of text lines.

#include <QString>
#include <QStringList>

class TStringList {
public:
    // Replaces the lines with those of AText: a line ends at CR, at LF or at CR LF (one
    // break); a break at the very end adds no empty line; an empty text gives no lines.
    void SetText(const QString& AText);

    int Count() const { return int(FItems.size()); }
    // EListError "List index out of bounds (%d)" for an index outside 0..Count()-1.
    QString Strings(int AIndex) const;
    int Add(const QString& AText);
    void Clear() { FItems.clear(); }

private:
    QStringList FItems;
};
