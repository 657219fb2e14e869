#include "Registry.h"

#include <win/DeviceWorld.h>

namespace {

QString NormalKey(QString AKey)
{
    while (AKey.startsWith(u'\\'))
        AKey.remove(0, 1);
    while (AKey.endsWith(u'\\'))
        AKey.chop(1);
    return AKey;
}

}  // namespace

namespace win {

TRegistryValue RegistryString(const QString& AText, DWORD AType)
{
    TRegistryValue value;
    value.Type = AType;
    value.Data = QByteArray(reinterpret_cast<const char*>(AText.utf16()), (AText.size() + 1) * 2);
    return value;
}

}  // namespace win

TRegistry::TRegistry(DWORD) : FWorld(win::DeviceWorld().Registry) {}

void TRegistry::SetRootKey(HKEY AValue)
{
    CloseKey();
    FRootKey = AValue;
}

bool TRegistry::KeyExists(const QString& AKey)
{
    return FWorld && FWorld->KeyAccess(FRootKey, NormalKey(AKey)) != win::TRegistryKeyAccess::Missing;
}

bool TRegistry::OpenKeyReadOnly(const QString& AKey)
{
    CloseKey();
    const QString path = NormalKey(AKey);
    if (!FWorld || FWorld->KeyAccess(FRootKey, path) != win::TRegistryKeyAccess::Readable)
        return false;
    FOpen = true;
    FCurrentPath = path;
    return true;
}

void TRegistry::CloseKey()
{
    FOpen = false;
    FCurrentPath.clear();
}

std::optional<win::TRegistryValue> TRegistry::Read(const QString& AName)
{
    if (!FOpen || !FWorld)
        return std::nullopt;
    return FWorld->Value(FRootKey, FCurrentPath, AName);
}

bool TRegistry::ValueExists(const QString& AName)
{
    return Read(AName).has_value();
}

QString TRegistry::ReadString(const QString& AName)
{
    const auto value = Read(AName);
    if (!value)
        return QString();
    if (value->Type != REG_SZ && value->Type != REG_EXPAND_SZ)
        throw ERegistryException(Format(RtlConsts::SInvalidRegType, {AName}));
    // Whole UTF-16 units only; the text ends at the first zero.
    const auto* units = reinterpret_cast<const char16_t*>(value->Data.constData());
    const qsizetype count = value->Data.size() / 2;
    qsizetype length = 0;
    while (length < count && units[length] != 0)
        ++length;
    return QString::fromUtf16(units, length);
}
