#pragma once
// The registry reader. Read only: it opens keys for reading and reads values; it never
// creates or writes a key. Answers come from the device world's registry facet; without
// one, no key exists.

#include <win/RegistryWorld.h>

#include <rtl/SysUtils.h>

#include <QString>

#include <memory>
#include <optional>

class ERegistryException : public Exception {
public:
    using Exception::Exception;
};

namespace RtlConsts {
inline const QString SInvalidRegType = QStringLiteral("Invalid data type for '%s'");
}

class TRegistry {
public:
    explicit TRegistry(DWORD AAccess = KEY_READ);

    // Closes an open key first.
    void SetRootKey(HKEY AValue);

    // A path relative to the root; a leading or final backslash is ignored.
    bool KeyExists(const QString& AKey);
    // Opens the key for reading; false when it is missing or cannot be read.
    bool OpenKeyReadOnly(const QString& AKey);
    void CloseKey();

    bool ValueExists(const QString& AName);
    // The text up to its first zero character; a missing value gives the empty text. Data of
    // a type other than REG_SZ and REG_EXPAND_SZ raises ERegistryException
    // "Invalid data type for '<name>'". REG_EXPAND_SZ comes as stored.
    QString ReadString(const QString& AName);

private:
    std::optional<win::TRegistryValue> Read(const QString& AName);

    HKEY FRootKey = HKEY_CURRENT_USER;
    bool FOpen = false;
    QString FCurrentPath;
    // The facet of the world selected when the reader was made.
    std::shared_ptr<win::IRegistryWorld> FWorld;
};
