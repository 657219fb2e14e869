#include "Forms.h"

#include <rtl/SysUtils.h>

#include <cstdio>
#include <exception>

void ApplicationHandleException(TObject*)
{
    try {
        throw;
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", e.Message().toLocal8Bit().constData());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
    }
}

// Like the toolkit, a failing handler does not abort creation or destruction: the
// exception goes to the application's handling.
void TDataModule::AfterConstruction()
{
    if (!OnCreate)
        return;
    try {
        OnCreate(this);
    } catch (const Exception&) {
        ApplicationHandleException(this);
    }
}

void TDataModule::BeforeDestruction()
{
    if (!OnDestroy)
        return;
    try {
        OnDestroy(this);
    } catch (const Exception&) {
        ApplicationHandleException(this);
    }
}
