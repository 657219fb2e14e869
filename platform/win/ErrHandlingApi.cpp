#include "ErrHandlingApi.h"

#include <atomic>

namespace {
std::atomic<UINT> gErrorMode{0};
}

UINT SetErrorMode(UINT uMode)
{
    return gErrorMode.exchange(uMode);
}
