#include "mRegistryHelper.h"

#include <win/Registry.h>

QString ReadRegistryString(HKEY ARootKey, const QString& AKey, const QString& AName)
{
    QString result;
    TRegistry registry(KEY_READ);
    registry.SetRootKey(ARootKey);
    if (registry.KeyExists(AKey) && registry.OpenKeyReadOnly(AKey)) {
        if (registry.ValueExists(AName))
            result = registry.ReadString(AName);
        registry.CloseKey();
    }
    return result;
}
