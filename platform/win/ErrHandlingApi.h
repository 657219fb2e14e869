#pragma once
// The process's error mode and the calling thread's last system error: a code and, where the
// failing call gave one, its own reason.

#include "WinDef.h"

constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;

// Sets the process's error mode and returns the previous one. Linux shows no dialog for a
// missing drive or medium, so the mode changes nothing but is kept and given back.
UINT SetErrorMode(UINT uMode);

// The calling thread's last error code (win/WinError.h), as the failing call left it.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);
// Sets the last error with a reason of its own (the loader's, say).
void SetLastError(DWORD dwErrCode, const QString& AText);
// The reason of the calling thread's last error: the one it was set with, else the code's text.
QString GetLastErrorText();

// The platform's text for a system error code.
QString WinErrorMessage(DWORD AErrorCode);

// Raises EOSError for the calling thread's last error: "System Error.  Code: %d." and the
// code's text on the next line.
[[noreturn]] void RaiseLastOSError();
