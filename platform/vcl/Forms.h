#pragma once
// Window-toolkit stand-in: the data module base with its creation and destruction events.
// Data modules are made with CreateDataModule and destroyed through TOwned, so the events
// run on a completely constructed object, as the toolkit does it.

#include <rtl/System.h>

#include <functional>
#include <memory>
#include <utility>

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Where an exception from a creation or destruction handler goes (the application's
// exception handling; until an application installs its own, the message goes to stderr).
void ApplicationHandleException(TObject* Sender);

class TDataModule : public TObject {
public:
    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;

    virtual void AfterConstruction();
    virtual void BeforeDestruction();

protected:
    TDataModule() = default;
};

struct TDataModuleDeleter {
    void operator()(TDataModule* ADataModule) const
    {
        ADataModule->BeforeDestruction();
        delete ADataModule;
    }
};

template <class T>
using TOwned = std::unique_ptr<T, TDataModuleDeleter>;

template <class T, class... TArgs>
TOwned<T> CreateDataModule(TArgs&&... AArgs)
{
    TOwned<T> result(new T(std::forward<TArgs>(AArgs)...));
    result->AfterConstruction();
    return result;
}
