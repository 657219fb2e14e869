#pragma once
// An in-memory device world with a setup facet for one test, selected while the fixture
// lives; SetupAPI is bound meanwhile.

#include <win/DeviceWorld.h>
#include <win/MemorySetupWorld.h>
#include <win/SetupApi.h>

#include <memory>

class TSetupFixture {
public:
    TSetupFixture() : Setup(std::make_shared<win::TMemorySetupWorld>())
    {
        win::TDeviceWorld world = win::DeviceWorld();
        world.Setup = Setup;
        win::SelectDeviceWorld(world);
        FLoaded = LoadSetupApi();
    }
    ~TSetupFixture()
    {
        if (FLoaded)
            UnloadSetupApi();
        win::TDeviceWorld world = win::DeviceWorld();
        world.Setup.reset();
        win::SelectDeviceWorld(world);
    }
    TSetupFixture(const TSetupFixture&) = delete;
    TSetupFixture& operator=(const TSetupFixture&) = delete;

    bool Loaded() const { return FLoaded; }

    std::shared_ptr<win::TMemorySetupWorld> Setup;

private:
    bool FLoaded = false;
};
