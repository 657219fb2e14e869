#include "MemoryRegistryWorld.h"

namespace win {

TMemoryRegistryWorld::TKeyName TMemoryRegistryWorld::Name(HKEY ARoot, const QString& AKeyPath)
{
    QString path = AKeyPath.toLower();
    while (path.startsWith(u'\\'))
        path.remove(0, 1);
    while (path.endsWith(u'\\'))
        path.chop(1);
    return {ARoot, path};
}

TRegistryKeyAccess TMemoryRegistryWorld::KeyAccess(HKEY ARoot, const QString& AKeyPath)
{
    const TKeyName name = Name(ARoot, AKeyPath);
    std::lock_guard guard(FLock);
    if (const auto it = FKeys.find(name); it != FKeys.end())
        return it->second.Denied ? TRegistryKeyAccess::Denied : TRegistryKeyAccess::Readable;
    if (name.second.isEmpty())
        return TRegistryKeyAccess::Readable;  // the root itself
    const QString prefix = name.second + u'\\';
    for (const auto& [key, value] : FKeys)
        if (key.first == ARoot && key.second.startsWith(prefix))
            return TRegistryKeyAccess::Readable;
    return TRegistryKeyAccess::Missing;
}

std::optional<TRegistryValue> TMemoryRegistryWorld::Value(HKEY ARoot, const QString& AKeyPath, const QString& AName)
{
    std::lock_guard guard(FLock);
    const auto key = FKeys.find(Name(ARoot, AKeyPath));
    if (key == FKeys.end() || key->second.Denied)
        return std::nullopt;
    const auto value = key->second.Values.find(AName.toLower());
    if (value == key->second.Values.end())
        return std::nullopt;
    return value->second;
}

void TMemoryRegistryWorld::AddKey(HKEY ARoot, const QString& AKeyPath)
{
    std::lock_guard guard(FLock);
    FKeys[Name(ARoot, AKeyPath)];
}

void TMemoryRegistryWorld::SetValue(HKEY ARoot, const QString& AKeyPath, const QString& AName, const TRegistryValue& AValue)
{
    std::lock_guard guard(FLock);
    FKeys[Name(ARoot, AKeyPath)].Values[AName.toLower()] = AValue;
}

void TMemoryRegistryWorld::SetString(HKEY ARoot, const QString& AKeyPath, const QString& AName, const QString& AText)
{
    SetValue(ARoot, AKeyPath, AName, RegistryString(AText));
}

void TMemoryRegistryWorld::DenyKey(HKEY ARoot, const QString& AKeyPath)
{
    std::lock_guard guard(FLock);
    FKeys[Name(ARoot, AKeyPath)].Denied = true;
}

void TMemoryRegistryWorld::Clear()
{
    std::lock_guard guard(FLock);
    FKeys.clear();
}

}  // namespace win
