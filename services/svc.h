#pragma once
// The service locator: the program's long-lived services, stored by the start-up.

class TsvcResMng;

// The package manager; empty until the start-up has stored it.
extern TsvcResMng* svcResMng;

// The content of svcResMng at the moment of the call.
TsvcResMng* GetSvcResMng();
