#include "svc.h"

#include "svc.dvcObserverTh.h"

#include <rtl/Thread.h>
#include <spring/Container.h>

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

TdvcObserverTh* GetDvcObserverTh()
{
    return GlobalContainer().Resolve<TdvcObserverTh>();
}

void svc::Initialization()
{
    TdvcObserverTh* observer = TThread::Create<TdvcObserverTh>();
    GlobalContainer().RegisterInstance<TdvcObserverTh>(observer);
    GlobalContainer().Build();
}

void svc::Finalization()
{
    GetDvcObserverTh()->Terminate();
}
