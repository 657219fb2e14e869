#pragma once
// The system's 128-bit identifier in its byte layout: a 32-bit, two 16-bit
// fields (little-endian in memory) and eight single bytes. Compared on all 16 bytes.

#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>

struct TGUID {
    std::uint32_t D1 = 0;
    std::uint16_t D2 = 0;
    std::uint16_t D3 = 0;
    std::uint8_t D4[8] = {};

    static TGUID Empty() { return TGUID(); }

    friend bool operator==(const TGUID& A, const TGUID& B);
    friend bool operator<(const TGUID& A, const TGUID& B);
};
static_assert(sizeof(TGUID) == 16 && alignof(TGUID) == 4);

bool IsEqualGUID(const TGUID& A, const TGUID& B);

// The 38-character form: braces around 8-4-4-4-12 hexadecimal digits, upper case.
QString GUIDToString(const TGUID& AGuid);
// Reads exactly that form, digits of either case; anything else raises EConvertError
// "'%s' is not a valid GUID value".
TGUID StringToGUID(const QString& AText);
// The same without raising; false for a text that is not in the form.
bool TryStringToGUID(const QString& AText, TGUID& AGuid);

template <>
struct std::hash<TGUID> {
    std::size_t operator()(const TGUID& AGuid) const noexcept;
};
