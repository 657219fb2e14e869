#pragma once
// ShellExecuteW: opens a document or an address with the user's default handler.

#include <win/WinDef.h>

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Only the verb "open" (or none) is known. The result is greater than 32 on success; 31
// (SE_ERR_NOASSOC) when nothing could open the file, 2 (ERROR_FILE_NOT_FOUND) without a file.
// The window, the parameters, the directory and the show command are not used.
HINSTANCE ShellExecuteW(HWND hwnd, LPCWSTR lpOperation, LPCWSTR lpFile, LPCWSTR lpParameters, LPCWSTR lpDirectory,
                        int nShowCmd);
