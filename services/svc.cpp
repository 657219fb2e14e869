#include "svc.h"

#include "svc.dvcObserverTh.h"

#include <rtl/Thread.h>
#include <spring/Container.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

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

// The observer thread releases its notification window through the main thread and holds a
// logger of the factory: the units finalised after this one must find it gone. The wait has
// a bound; a thread that overstays it is left to the end of the process.
void svc::Finalization()
{
    TdvcObserverTh* observer = GetDvcObserverTh();
    auto released = std::make_shared<std::atomic<bool>>(false);
    observer->SetOnTerminate([released](TObject*) { *released = true; });
    observer->Terminate();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!*released && std::chrono::steady_clock::now() < deadline)
        if (!CheckSynchronize())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
