#pragma once
// A setup facet that a test fills with exactly the devices and class descriptions its case
// needs. Safe to fill on one thread while another searches.

#include "SetupWorld.h"

#include <mutex>

namespace win {

class TMemorySetupWorld : public ISetupWorld {
public:
    // Adds a present device of its ClassGuid's class, after those added before; returns its
    // device instance (numbered from 1 when the record holds 0).
    DWORD AddDevice(TSetupDevice ADevice);
    // Takes the device out of the world; sets opened before keep it.
    void RemoveDevice(DWORD ADevInst);
    void SetClassDescription(const TGUID& AClass, const QString& ADescription);
    // Searches of AClass fail with AError from now on (ERROR_SUCCESS: they succeed again).
    void SetSearchError(const TGUID& AClass, DWORD AError);
    // Searches made so far.
    int SearchCount() const;

    bool PresentDevices(const TGUID& AClass, std::vector<TSetupDevice>& ADevices, DWORD& AError) override;
    std::optional<QString> ClassDescription(const TGUID& AClass) override;

private:
    mutable std::mutex FLock;
    std::vector<TSetupDevice> FDevices;
    std::vector<std::pair<TGUID, QString>> FDescriptions;
    std::vector<std::pair<TGUID, DWORD>> FSearchErrors;
    DWORD FNextDevInst = 1;
    int FSearchCount = 0;
};

}  // namespace win
