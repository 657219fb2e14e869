#pragma once
// The service locator: the program's long-lived services, stored by the start-up, and the
// observer thread, which the unit's initialisation creates and registers in the container.
// The accessors read at the moment of the call, cache nothing and take no lock.

class TsvcResMng;
class TsvcBsl430;
class TdvcObserverTh;

// The package manager; empty until the start-up has stored it.
extern TsvcResMng* svcResMng;
// The flashing service; empty until the start-up has stored it.
extern TsvcBsl430* svcBsl430;

// The content of svcResMng at the moment of the call.
TsvcResMng* GetSvcResMng();
// The content of svcBsl430 at the moment of the call.
TsvcBsl430* GetSvcBsl430();
// The observer thread registered in the global container.
TdvcObserverTh* GetDvcObserverTh();

namespace svc {
// Creates the observer thread and registers it; raises when it cannot be created.
void Initialization();
// Terminates the observer thread and waits until it has released its objects.
void Finalization();
}  // namespace svc
