#include "DeviceWorld.h"

#include <mutex>
#include <utility>

namespace win {
namespace {

std::mutex& WorldLock()
{
    static std::mutex lock;
    return lock;
}

TDeviceWorld& CurrentWorld()
{
    static TDeviceWorld world;
    return world;
}

}  // namespace

TDeviceWorld DeviceWorld()
{
    std::lock_guard guard(WorldLock());
    return CurrentWorld();
}

void SelectDeviceWorld(TDeviceWorld AWorld)
{
    TDeviceWorld old;
    {
        std::lock_guard guard(WorldLock());
        old = std::exchange(CurrentWorld(), std::move(AWorld));
    }
    // The old facets are released here, outside the lock.
}

}  // namespace win
