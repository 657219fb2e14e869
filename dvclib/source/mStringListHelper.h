#pragma once
// One entry of a name=value list, read or written as text or as a GUID.

#include <rtl/GUID.h>
#include <rtl/StringList.h>

#include <QString>

class TStringListHelper {
public:
    TStringListHelper() = delete;

    // The value of the first entry named AName (letter case ignored); empty without one.
    static QString GetValueAsString(const TStringList& AList, const QString& AName);
    // A non-empty value replaces the first entry named AName in place, with the name as given
    // here, or is appended; an empty value deletes that entry.
    static void SetValueAsString(TStringList& AList, const QString& AName, const QString& AValue);
    // The entry read as a 38-character GUID text; the empty GUID for anything else. Never raises.
    static TGUID GetValueAsGUID(const TStringList& AList, const QString& AName);
    // Stores the GUID's text form (upper-case digits).
    static void SetValueAsGUID(TStringList& AList, const QString& AName, const TGUID& AValue);
};
