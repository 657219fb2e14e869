#include "InterfacedThread.h"

std::int32_t TInterfacedThread::AddRef()
{
    return -1;
}

std::int32_t TInterfacedThread::Release()
{
    return -1;
}
