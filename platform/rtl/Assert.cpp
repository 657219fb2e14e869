#include "Assert.h"

#include "SysUtils.h"

#include <cstdint>

#include <dlfcn.h>

namespace {

// The run-time's own handling: the message (or its stock text) with the place of the check.
[[noreturn]] void RaiseAssertionFailed(const QString& AMessage, const QString& AFileName,
                                       std::int32_t ALineNumber, void*)
{
    const QString message = AMessage.isEmpty() ? RtlConsts::SAssertionFailed : AMessage;
    throw EAssertionFailed(Format(QStringLiteral("%s (%s, line %d)"), {message, AFileName, ALineNumber}));
}

// The place of the check as an offset in its module: absolute addresses change with every run
// (address randomisation), an offset can be looked up in the binary (addr2line -e <module>).
void* ModuleOffset(void* AAddress)
{
    Dl_info info{};
    if (::dladdr(AAddress, &info) == 0 || !info.dli_fbase)
        return AAddress;
    return reinterpret_cast<void*>(reinterpret_cast<std::uintptr_t>(AAddress)
                                   - reinterpret_cast<std::uintptr_t>(info.dli_fbase));
}

}  // namespace

TAssertErrorProc AssertErrorProc = RaiseAssertionFailed;

void RtlAssert(const QString& AMessage, const char* AFileName, std::int32_t ALineNumber)
{
    void* address = ModuleOffset(__builtin_extract_return_addr(__builtin_return_address(0)));
    const QString fileName = QString::fromUtf8(AFileName);
    if (TAssertErrorProc proc = AssertErrorProc)
        proc(AMessage, fileName, ALineNumber, address);
    else
        RaiseAssertionFailed(AMessage, fileName, ALineNumber, address);
}
