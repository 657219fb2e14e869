#include "svc.h"

TsvcResMng* svcResMng = nullptr;

TsvcResMng* GetSvcResMng()
{
    return svcResMng;
}
