#pragma once
// The service locator: the program's long-lived services, stored by the start-up.
// The accessors read at the moment of the call, cache nothing and take no lock.

class TsvcResMng;
class TsvcBsl430;

// The package manager; empty until the start-up has stored it.
extern TsvcResMng* svcResMng;
// The flashing service; empty until the start-up has stored it.
extern TsvcBsl430* svcBsl430;

// The content of svcResMng at the moment of the call.
TsvcResMng* GetSvcResMng();
// The content of svcBsl430 at the moment of the call.
TsvcBsl430* GetSvcBsl430();
