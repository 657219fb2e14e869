#pragma once
// A list of text lines, also read as name=value entries.
//
// A line's name is the text before its first "="; its value is the rest. Names, and whole
// lines in IndexOf, compare without regard to letter case; lookups act on the first match.
// The list is not sorted: lines stay where they were added.

#include <rtl/System.h>

#include <QString>
#include <QStringList>

class TStringList : public TObject {
public:
    TStringList() = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;

    // Replaces the lines with those of AText: a line ends at CR, at LF or at CR LF (one
    // break); a break at the very end adds no empty line; an empty text gives no lines.
    void SetText(const QString& AText);
    // The lines, each followed by a line break.
    QString Text() const;

    int Count() const { return int(FItems.size()); }
    // EListError "List index out of bounds (%d)" for an index outside 0..Count()-1.
    QString Strings(int AIndex) const;
    void SetStrings(int AIndex, const QString& AText);
    int Add(const QString& AText);
    void Clear() { FItems.clear(); }
    void Assign(const TStringList& ASource) { FItems = ASource.FItems; }

    // The index of the first line equal to AText, ignoring letter case, or -1.
    int IndexOf(const QString& AText) const;
    // The value of the first line named AName; empty when there is none.
    QString Values(const QString& AName) const;
    // A non-empty value rewrites the first line named AName in place (or appends one); an
    // empty value deletes that line.
    void SetValues(const QString& AName, const QString& AValue);

    const QStringList& Lines() const { return FItems; }
    bool operator==(const TStringList& AOther) const { return FItems == AOther.FItems; }

private:
    void CheckIndex(int AIndex) const;
    void Delete(int AIndex);
    // The index of the first line whose name is AName, ignoring letter case, or -1.
    int IndexOfName(const QString& AName) const;
    // The value of the line at AIndex (a line without "=" has none).
    QString ValueFromIndex(int AIndex) const;

    QStringList FItems;
};
