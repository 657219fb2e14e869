#pragma once
// The in-memory device world's registry, for tests: keys and values of any type, and keys
// that cannot be opened for reading. A key exists when it was added, holds a value, or lies
// above such a key.

#include <win/RegistryWorld.h>

#include <map>
#include <mutex>
#include <set>

namespace win {

class TMemoryRegistryWorld : public IRegistryWorld {
public:
    TRegistryKeyAccess KeyAccess(HKEY ARoot, const QString& AKeyPath) override;
    std::optional<TRegistryValue> Value(HKEY ARoot, const QString& AKeyPath, const QString& AName) override;

    void AddKey(HKEY ARoot, const QString& AKeyPath);
    void SetValue(HKEY ARoot, const QString& AKeyPath, const QString& AName, const TRegistryValue& AValue);
    void SetString(HKEY ARoot, const QString& AKeyPath, const QString& AName, const QString& AText);
    void DenyKey(HKEY ARoot, const QString& AKeyPath);
    void Clear();

private:
    struct TKey {
        bool Denied = false;
        std::map<QString, TRegistryValue> Values;  // by lower-case name
    };
    using TKeyName = std::pair<HKEY, QString>;  // lower-case path without outer backslashes
    static TKeyName Name(HKEY ARoot, const QString& AKeyPath);

    std::mutex FLock;
    std::map<TKeyName, TKey> FKeys;
};

}  // namespace win
