#pragma once
// The device world's facet for the registry: keys and values as the registry reader asks
// for them. Key paths come without a leading or final backslash; keys and value names
// compare without regard to letter case.

#include <win/WinReg.h>

#include <QByteArray>
#include <QString>

#include <optional>

namespace win {

struct TRegistryValue {
    DWORD Type = REG_NONE;
    // The data as stored; texts in UTF-16 with their zero character.
    QByteArray Data;
};

enum class TRegistryKeyAccess { Missing, Readable, Denied };

class IRegistryWorld {
public:
    virtual ~IRegistryWorld() = default;
    virtual TRegistryKeyAccess KeyAccess(HKEY ARoot, const QString& AKeyPath) = 0;
    virtual std::optional<TRegistryValue> Value(HKEY ARoot, const QString& AKeyPath, const QString& AName) = 0;
};

// A REG_SZ (or, with AType, REG_EXPAND_SZ) value holding AText and its zero character.
TRegistryValue RegistryString(const QString& AText, DWORD AType = REG_SZ);

}  // namespace win
