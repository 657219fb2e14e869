#include "Classes.h"

#include "SysUtils.h"

#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <exception>

namespace {

std::atomic<void (*)(TObject*)> HandleExceptionHook{nullptr};

}  // namespace

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner)
{
    if (FOwner)
        FOwner->FComponents.push_back(this);
}

TComponent::~TComponent()
{
    while (!FComponents.empty())
        delete FComponents.back();  // its destructor takes it out of the list
    if (FOwner) {
        auto& siblings = FOwner->FComponents;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

QString ExceptionMessage()
{
    try {
        throw;
    } catch (const Exception& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return QStringLiteral("Unknown exception");
    }
}

void SetApplicationHandleException(void (*AHandler)(TObject* Sender))
{
    HandleExceptionHook = AHandler;
}

void ApplicationHandleException(TObject* Sender)
{
    if (auto handler = HandleExceptionHook.load()) {
        handler(Sender);
        return;
    }
    qCritical("%s", qUtf8Printable(ExceptionMessage()));
}

bool DispatchHandler(TObject* Sender, const std::function<void()>& AHandler)
{
    if (!AHandler)
        return true;
    try {
        AHandler();
        return true;
    } catch (...) {
        ApplicationHandleException(Sender);
        return false;
    }
}

// A failing handler does not abort creation or destruction: the exception goes to the
// application's handling.
void TDataModule::AfterConstruction()
{
    if (OnCreate)
        DispatchHandler(this, [this] { OnCreate(this); });
}

void TDataModule::BeforeDestruction()
{
    if (OnDestroy)
        DispatchHandler(this, [this] { OnDestroy(this); });
}
