#pragma once
// The run-time's classes: the owned-component base (an owner frees the components it owns
// when it goes) and data modules.
//
// Data modules are made with CreateDataModule and destroyed through TOwned. The creation
// handler runs on a completely constructed object and the destruction handler before any
// part is gone. An exception from either handler goes to the application's exception
// handling; creation or destruction goes on.

#include <rtl/System.h>

#include <QString>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    // Frees the owned components (newest first), then leaves the owner's list.
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

private:
    TComponent* FOwner;
    std::vector<TComponent*> FComponents;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// Where an exception from a handler goes: the application's exception handling while the
// application object has set it, else its message is reported through qCritical (the
// program's log). Call it inside a catch block.
void ApplicationHandleException(TObject* Sender);
// The application object sets its handling for its lifetime; null: none.
void SetApplicationHandleException(void (*AHandler)(TObject* Sender));
// The message of the exception being handled; call it inside a catch block.
QString ExceptionMessage();

// Runs AHandler as the message loop runs a handler: an exception goes to the application's
// exception handling and the caller goes on. Answers whether the handler returned normally.
bool DispatchHandler(TObject* Sender, const std::function<void()>& AHandler);

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
