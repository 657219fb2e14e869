#include "Assert.h"

#include "SysUtils.h"

namespace {

// The run-time's own handling: the message (or its stock text) with the place of the check.
[[noreturn]] void RaiseAssertionFailed(const QString& AMessage, const QString& AFileName,
                                       std::int32_t ALineNumber, void*)
{
    const QString message = AMessage.isEmpty() ? RtlConsts::SAssertionFailed : AMessage;
    throw EAssertionFailed(Format(QStringLiteral("%s (%s, line %d)"), {message, AFileName, ALineNumber}));
}

}  // namespace

TAssertErrorProc AssertErrorProc = RaiseAssertionFailed;

void RtlAssert(const QString& AMessage, const char* AFileName, std::int32_t ALineNumber)
{
    void* address = __builtin_extract_return_addr(__builtin_return_address(0));
    const QString fileName = QString::fromUtf8(AFileName);
    if (TAssertErrorProc proc = AssertErrorProc)
        proc(AMessage, fileName, ALineNumber, address);
    else
        RaiseAssertionFailed(AMessage, fileName, ALineNumber, address);
}
