#pragma once
// Unique names of the shell.

#include "WinDef.h"

#include <QString>

// Writes into pszUniqueName (cchMax characters) the path of a name in pszDir that nothing
// occupies, formed from the template: "name.txt" gives "name (2).txt", then "name (3).txt",
// and so on; a name without extension gets the number at its end. pszLongPlate, when given,
// is the template. Nothing is created. Zero when the template is empty or holds a "/",
// pszDir is null, the result does not fit, or no number up to 9999 is free.
BOOL PathMakeUniqueName(LPWSTR pszUniqueName, UINT cchMax, LPCWSTR pszTemplate, LPCWSTR pszLongPlate,
                        LPCWSTR pszDir);

// Whether AName (a plain name) is ATemplate itself or a name PathMakeUniqueName forms from it.
bool IsUniqueNameOf(const QString& AName, const QString& ATemplate);
