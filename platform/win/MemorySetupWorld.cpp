#include "MemorySetupWorld.h"

#include "WinError.h"

#include <algorithm>

namespace win {

DWORD TMemorySetupWorld::AddDevice(TSetupDevice ADevice)
{
    std::lock_guard guard(FLock);
    if (ADevice.DevInst == 0)
        ADevice.DevInst = FNextDevInst++;
    const DWORD devInst = ADevice.DevInst;
    FDevices.push_back(std::move(ADevice));
    return devInst;
}

void TMemorySetupWorld::RemoveDevice(DWORD ADevInst)
{
    std::lock_guard guard(FLock);
    std::erase_if(FDevices, [&](const TSetupDevice& d) { return d.DevInst == ADevInst; });
}

void TMemorySetupWorld::SetClassDescription(const TGUID& AClass, const QString& ADescription)
{
    std::lock_guard guard(FLock);
    std::erase_if(FDescriptions, [&](const auto& d) { return d.first == AClass; });
    FDescriptions.emplace_back(AClass, ADescription);
}

void TMemorySetupWorld::SetSearchError(const TGUID& AClass, DWORD AError)
{
    std::lock_guard guard(FLock);
    std::erase_if(FSearchErrors, [&](const auto& e) { return e.first == AClass; });
    if (AError != ERROR_SUCCESS)
        FSearchErrors.emplace_back(AClass, AError);
}

int TMemorySetupWorld::SearchCount() const
{
    std::lock_guard guard(FLock);
    return FSearchCount;
}

bool TMemorySetupWorld::PresentDevices(const TGUID& AClass, std::vector<TSetupDevice>& ADevices, DWORD& AError)
{
    std::lock_guard guard(FLock);
    ++FSearchCount;
    for (const auto& [guid, error] : FSearchErrors) {
        if (guid == AClass) {
            AError = error;
            return false;
        }
    }
    ADevices.clear();
    for (const TSetupDevice& device : FDevices)
        if (device.ClassGuid == AClass)
            ADevices.push_back(device);
    return true;
}

std::optional<QString> TMemorySetupWorld::ClassDescription(const TGUID& AClass)
{
    std::lock_guard guard(FLock);
    for (const auto& [guid, text] : FDescriptions)
        if (guid == AClass)
            return text;
    return std::nullopt;
}

}  // namespace win
