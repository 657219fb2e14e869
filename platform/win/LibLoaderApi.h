#pragma once
// Dynamic libraries as the platform's loader offers them: LoadLibraryW, GetProcAddress and
// FreeLibrary over dlopen/dlsym/dlclose. A module handle is a small nonzero integer from a
// handle table, so it fits the 32-bit handles the system's code passes around; 0 means no
// library. Handles are not reused after the last FreeLibrary, so a stale one finds nothing.
// A failure leaves its code and reason as the calling thread's last error (GetLastErrorText).

#include <win/ErrHandlingApi.h>

#include <QString>

#include <cstdint>

using HMODULE = std::uintptr_t;
using FARPROC = void (*)();

// Loads the library at AFileName (immediate binding, local symbols). Loading a library that
// is already loaded gives its handle again and counts one more reference. 0 on failure, with
// the reason in GetLastErrorText().
HMODULE LoadLibraryW(const QString& AFileName);

// The named export of the loaded library, or null (also for handle 0 or an unknown handle).
FARPROC GetProcAddress(HMODULE AModule, const char* AProcName);

// Drops one reference; the library is unloaded with the last. False for an unknown handle.
bool FreeLibrary(HMODULE AModule);
