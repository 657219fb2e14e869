#pragma once
// The process's error mode. Linux shows no dialog for a missing drive or medium, so the mode
// changes nothing but is kept and given back as the platform does.

#include "WinDef.h"

constexpr UINT SEM_FAILCRITICALERRORS = 0x0001;

// Sets the process's error mode and returns the previous one.
UINT SetErrorMode(UINT uMode);
