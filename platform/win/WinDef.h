#pragma once
// The basic types of the platform's interface, as the system's code spells them.

#include <QString>

#include <cstdint>

using DWORD = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using HANDLE = void*;
using HWND = HANDLE;
using HINSTANCE = HANDLE;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t(0));

// The longest path, in characters with its terminating NUL: Linux's PATH_MAX.
constexpr DWORD MAX_PATH = 4096;

// The text of a string as the platform's functions take it, valid while the string lives
// unchanged.
inline LPCWSTR PChar(const QString& S)
{
    return reinterpret_cast<LPCWSTR>(S.utf16());
}
