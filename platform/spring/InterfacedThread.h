#pragma once
// A thread that can be held through interfaces without being counted: its lifetime is the
// thread's own (owner or FreeOnTerminate), so adding and releasing a reference do nothing.

#include <rtl/System.h>
#include <rtl/Thread.h>

#include <cstdint>

class TInterfacedThread : public TThread, public virtual IInterface {
public:
    std::int32_t AddRef() override;
    std::int32_t Release() override;

protected:
    TInterfacedThread() = default;
};
