#include "mStringListHelper.h"

QString TStringListHelper::GetValueAsString(const TStringList& AList, const QString& AName)
{
    return AList.Values(AName);
}

void TStringListHelper::SetValueAsString(TStringList& AList, const QString& AName, const QString& AValue)
{
    AList.SetValues(AName, AValue);
}

TGUID TStringListHelper::GetValueAsGUID(const TStringList& AList, const QString& AName)
{
    try {
        return StringToGUID(GetValueAsString(AList, AName));
    } catch (...) {
        return TGUID::Empty();
    }
}

void TStringListHelper::SetValueAsGUID(TStringList& AList, const QString& AName, const TGUID& AValue)
{
    SetValueAsString(AList, AName, GUIDToString(AValue));
}
