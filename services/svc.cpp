#include "svc.h"

TsvcResMng* svcResMng = nullptr;
TsvcBsl430* svcBsl430 = nullptr;

TsvcResMng* GetSvcResMng()
{
    return svcResMng;
}

TsvcBsl430* GetSvcBsl430()
{
    return svcBsl430;
}
