#pragma once
// The temporary folder and the directory entry of a file.

#include "WinDef.h"

// The temporary folder with a final "/": $TMPDIR, else $XDG_RUNTIME_DIR, else /tmp. Returns
// its length without the NUL when it fits into the buffer of nBufferLength characters, else
// the size the buffer needs (NUL included) and leaves the buffer untouched.
DWORD GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);

// Linux has no short names: the long form of an existing path is the path itself. Returns
// the length copied (without the NUL), the size needed when the buffer is too small, or 0
// when nothing exists at the path.
DWORD GetLongPathNameW(LPCWSTR lpszShortPath, LPWSTR lpszLongPath, DWORD cchBuffer);

constexpr DWORD FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;

struct WIN32_FIND_DATAW {
    DWORD dwFileAttributes;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
};

// The entry of the one path named (no wildcards; a symbolic link counts as its target), or
// INVALID_HANDLE_VALUE when there is none. Every handle goes back through FindClose.
HANDLE FindFirstFileW(LPCWSTR lpFileName, WIN32_FIND_DATAW* lpFindFileData);
// Zero for INVALID_HANDLE_VALUE.
BOOL FindClose(HANDLE hFindFile);
