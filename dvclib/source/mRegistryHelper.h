#pragma once
// Reading one text value from the registry, never writing.

#include <win/WinReg.h>

#include <QString>

// The value's text up to its first zero character, REG_EXPAND_SZ as stored; the empty text
// for a missing key, a key that cannot be read and a missing value. Data of another type
// raises the registry reader's ERegistryException.
QString ReadRegistryString(HKEY ARootKey, const QString& AKey, const QString& AName);
