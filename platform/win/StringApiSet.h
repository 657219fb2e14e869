#pragma once
// Conversion between the system's UTF-16 texts and the system's ANSI code page, which is
// UTF-8 here. Characters that cannot be encoded (lone surrogates) become '?', bytes that are
// not valid UTF-8 become U+FFFD.

#include <win/WinDef.h>

#include <QByteArray>
#include <QString>

constexpr UINT CP_ACP = 0;  // the system's ANSI code page; the only one the system uses

// NUL-terminated bytes (QByteArray::constData() never returns null, also for "").
QByteArray WideCharToMultiByte(UINT ACodePage, const QString& AText);

// A NUL-terminated text; null gives the empty text.
QString MultiByteToWideChar(UINT ACodePage, const char* AText);
