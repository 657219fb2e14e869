#pragma once
// The table behind every handle the stand-ins give out (hidden windows, notification
// registrations, device information sets, loaded libraries).
//
// Handles are small integers counting up from the table's first one and never reused within
// a run, so a stale handle finds nothing. None passes the table's last one: a table whose
// handles the system keeps in 32 bits ends at the largest 32-bit value; the default end lies
// below INVALID_HANDLE_VALUE and out of reach within a run. Each handle counts references: Add gives one,
// AddReference one more to a value already held, Release drops one and the handle goes with
// the last. Safe from any thread: the lock guards the map only, and values are copied in and
// out, so a value's own work (and its destruction on release) runs outside it.

#include <cstdint>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace win {

template <typename THandle, typename T>
class THandleTable {
public:
    explicit THandleTable(std::uintptr_t AFirst = 1,
                          std::uintptr_t ALast = std::numeric_limits<std::uintptr_t>::max() - 1)
        : FNext(AFirst), FLast(ALast)
    {
    }
    THandleTable(const THandleTable&) = delete;
    THandleTable& operator=(const THandleTable&) = delete;

    // A new handle for AValue; the null handle when the handles are used up.
    THandle Add(T AValue)
    {
        std::lock_guard guard(FLock);
        return Insert(std::move(AValue));
    }

    // The handle already holding a value equal to AValue, with one more reference; else as Add.
    THandle AddReference(const T& AValue)
    {
        std::lock_guard guard(FLock);
        for (auto& [handle, entry] : FEntries)
            if (entry.Value == AValue) {
                ++entry.References;
                return ToHandle(handle);
            }
        return Insert(AValue);
    }

    std::optional<T> Find(THandle AHandle) const
    {
        std::lock_guard guard(FLock);
        const auto it = FEntries.find(ToKey(AHandle));
        if (it == FEntries.end())
            return std::nullopt;
        return it->second.Value;
    }

    // Drops one reference: the value, or nothing for an unknown handle.
    std::optional<T> Release(THandle AHandle)
    {
        std::lock_guard guard(FLock);
        const auto it = FEntries.find(ToKey(AHandle));
        if (it == FEntries.end())
            return std::nullopt;
        if (--it->second.References > 0)
            return it->second.Value;
        std::optional<T> value(std::move(it->second.Value));
        FEntries.erase(it);
        return value;
    }

    // Every live handle with its value, in the order they were given out.
    std::vector<std::pair<THandle, T>> Entries() const
    {
        std::lock_guard guard(FLock);
        std::vector<std::pair<THandle, T>> result;
        result.reserve(FEntries.size());
        for (const auto& [handle, entry] : FEntries)
            result.emplace_back(ToHandle(handle), entry.Value);
        return result;
    }

    int Count() const
    {
        std::lock_guard guard(FLock);
        return int(FEntries.size());
    }

private:
    struct TEntry {
        T Value;
        int References;
    };

    static std::uintptr_t ToKey(THandle AHandle)
    {
        if constexpr (std::is_pointer_v<THandle>)
            return reinterpret_cast<std::uintptr_t>(AHandle);
        else
            return std::uintptr_t(AHandle);
    }
    static THandle ToHandle(std::uintptr_t AKey)
    {
        if constexpr (std::is_pointer_v<THandle>)
            return reinterpret_cast<THandle>(AKey);
        else
            return THandle(AKey);
    }

    THandle Insert(T AValue)
    {
        if (FNext > FLast)
            return ToHandle(0);
        const std::uintptr_t handle = FNext++;
        FEntries.emplace(handle, TEntry{std::move(AValue), 1});
        return ToHandle(handle);
    }

    mutable std::mutex FLock;
    std::map<std::uintptr_t, TEntry> FEntries;
    std::uintptr_t FNext;
    const std::uintptr_t FLast;
};

}  // namespace win
