#pragma once
// What the device property reader's text operations share: flag-name tables and the joining
// of names and multi-strings.

#include <win/WinDef.h>

#include <QString>

#include <array>

struct TFlagName {
    DWORD Flag;
    QString Name;
};

extern const std::array<TFlagName, 10> cDevCapNames;
extern const std::array<TFlagName, 16> cConfigFlagNames;
extern const std::array<TFlagName, 9> cPowerCapNames;

// True when every bit of AFlag is set in AValue.
bool IsFlagSet(DWORD AValue, DWORD AFlag);
// Appends AItem to AText, after ", " when AText is not empty.
void AppendDelimited(QString& AText, const QString& AItem);
// Appends the items of a multi-string (each ended by a NUL, an empty item ends the list) to
// ADest, joined by ", ". The walk also ends after ALength characters, so data without its
// closing NULs is never read past its end.
void MultiSzToDelimited(const WCHAR* AData, qsizetype ALength, QString& ADest);
