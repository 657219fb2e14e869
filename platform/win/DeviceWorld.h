#pragma once
// The platform's device facilities (the registry, device notifications, setup-class
// searches and device properties) answer from one device world: the Linux world over
// libudev in the program, an in-memory world that a test fills with what its case needs.
// Each facility is one facet of the world, declared in its own header.

#include <memory>

namespace win {

class IRegistryWorld;      // win/RegistryWorld.h
class INotificationWorld;  // win/NotificationWorld.h
class ISetupWorld;         // win/SetupWorld.h

struct TDeviceWorld {
    std::shared_ptr<IRegistryWorld> Registry;
    std::shared_ptr<INotificationWorld> Notifications;
    std::shared_ptr<ISetupWorld> Setup;
};

// The world in use. A caller keeps the copy for as long as it talks to a facet, so a world
// selected meanwhile never frees one under it.
TDeviceWorld DeviceWorld();
// Selects the world for every later call (a test's, or the Linux world at start-up).
void SelectDeviceWorld(TDeviceWorld AWorld);

}  // namespace win
