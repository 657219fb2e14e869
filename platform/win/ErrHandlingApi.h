#pragma once
// The process's error mode and the calling thread's last system error.

#include "WinDef.h"

constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;

// Sets the process's error mode and returns the previous one. Linux shows no dialog for a
// missing drive or medium, so the mode changes nothing but is kept and given back.
UINT SetErrorMode(UINT uMode);

// The calling thread's last error code (win/WinError.h), as the failing call left it.
DWORD GetLastError();
void SetLastError(DWORD dwErrCode);

// The platform's text for a system error code.
QString WinErrorMessage(DWORD AErrorCode);

// Raises EOSError for the calling thread's last error: "System Error.  Code: %d." and the
// code's text on the next line.
[[noreturn]] void RaiseLastOSError();
